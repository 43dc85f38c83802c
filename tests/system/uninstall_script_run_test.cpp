// The uninstall script as an administrator runs it: printed by the real
// installer, then run as root in the simulated Mac on a driver that the real
// install script installed; what it prints and what is left on disk. Every
// run is made under both shells that /bin/sh may be.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/simulated_mac.h"
#include "verify/build_manifest.h"

namespace corvel {
namespace {
namespace fs = std::filesystem;
using testing::expectGuardFailed;
using testing::expectRun;
using testing::MacSettings;
using testing::RunResult;
using testing::settingsWith;
using testing::SimulatedMac;

const std::string kFailed = "CORVEL_DRIVER_CHECK_FAILED\n";
const std::string kRemoved = "CORVEL_DRIVER_REMOVED\n";
const std::string kNotPresent = "CORVEL_DRIVER_NOT_PRESENT\n";
const std::string kInstalled = "CORVEL_DRIVER_INSTALLED\n";
const std::string kPresent = "CORVEL_DRIVER_PRESENT\n";

// What the installer prints for `option`, without the line feed that ends it.
std::string printed(const SimulatedMac& mac, const std::string& option) {
  const RunResult result = mac.runInstaller({option});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_FALSE(result.out.empty());
  return result.out.substr(0, result.out.size() - 1);
}

// Everything below the Mac's /Library, one line an entry in path order:
// owner, group, mode and path, then a file's contents or where a link points.
// Two equal states are the same tree with the same contents, owners and modes.
std::vector<std::string> libraryState(const SimulatedMac& mac) {
  const fs::path library = mac.onDisk("/Library");
  std::vector<std::string> state = testing::treeListing(library);
  std::vector<fs::path> paths = {library};
  for (const auto& entry : fs::recursive_directory_iterator(library)) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    if (fs::is_symlink(paths[i])) {
      state[i] += " -> " + fs::read_symlink(paths[i]).string();
    } else if (fs::is_regular_file(paths[i])) {
      state[i] += " = " + testing::readFile(paths[i]);
    }
  }
  return state;
}

// The fixture's parameter is the shell that /bin/sh is.
class UninstallScript : public testing::SimulatedMacTest, public ::testing::WithParamInterface<const char*> {
 public:
  void SetUp() override {
    SimulatedMacTest::SetUp();
    fs::create_directories(hal());
    uninstall_ = printed(mac, "--print-uninstall-script");
  }

  fs::path lock() const { return hal() / ".tessaro-corvel-install.lock"; }
  const std::string& uninstall() const { return uninstall_; }

  RunResult runAsRoot(const std::string& script, MacSettings settings = {}) const {
    settings.shell = GetParam();
    return mac.runAsRoot(script, settings);
  }

  // The driver as the installer leaves it: its own install script, as root.
  void install() {
    if (install_.empty()) install_ = printed(mac, "--print-install-script");
    expectRun(runAsRoot(install_), kInstalled, "", 0);
  }

  // The uninstall script kept on the Mac's disk, for a hook to run as root.
  std::string uninstallOnTheMac() const {
    fs::create_directories(mac.onDisk("/Users/Shared"));
    testing::writeFile(mac.onDisk("/Users/Shared/uninstall.sh"), uninstall_);
    return "/Users/Shared/uninstall.sh";
  }

 private:
  std::string uninstall_;
  std::string install_;
};

INSTANTIATE_TEST_SUITE_P(Shells, UninstallScript, ::testing::Values("bash", "dash"),
                         [](const ::testing::TestParamInfo<const char*>& shell) { return shell.param; });

// The update path: the installed driver is removed, the installer then finds
// nothing installed, and installs again.
TEST_P(UninstallScript, RemovesOurDriverSoThatTheInstallerInstallsAgain) {
  install();
  expectRun(runAsRoot(uninstall()), kRemoved, "", 0);
  EXPECT_TRUE(halEntries().empty()) << "a driver, a lock or a temporary directory is left";
  const auto codesign = mac.callsOf("codesign");
  ASSERT_EQ(codesign.size(), 1u);
  EXPECT_EQ(codesign[0], (std::vector<std::string>{"codesign", "--verify", "--deep", "--strict",
                                                   "--test-requirement", signatureRequirement(),
                                                   "/Library/Audio/Plug-Ins/HAL/Orlana2ch.driver"}));

  expectRun(mac.runInstaller({"--check-installed"}), "DRIVER_NOT_INSTALLED\n", "", 0);
  install();
  expectInstalledTree();
}

TEST_P(UninstallScript, FindsNothingToRemoveAndChangesNothing) {
  const std::pair<const char*, std::function<void(UninstallScript&)>> cases[] = {
      {"an empty HAL", [](UninstallScript&) {}},
      {"no HAL", [](UninstallScript& t) { fs::remove(t.hal()); }},
      {"no Audio", [](UninstallScript& t) { fs::remove_all(t.mac.onDisk("/Library/Audio")); }},
  };
  for (const auto& [name, arrange] : cases) {
    SCOPED_TRACE(name);
    fs::remove_all(mac.onDisk("/Library/Audio"));
    fs::create_directories(hal());
    arrange(*this);
    const std::vector<std::string> before = libraryState(mac);
    expectRun(runAsRoot(uninstall()), kNotPresent, "", 0);
    EXPECT_EQ(libraryState(mac), before) << "something was made or changed";
    EXPECT_TRUE(mac.callsOf("codesign").empty());
  }
}

struct RefusalCase {
  const char* name;
  std::function<void(UninstallScript&)> arrange;
  MacSettings settings;
};

// Every refusal leaves /Library exactly as it was: the driver, a link and what
// it points to, someone else's lock.
TEST_P(UninstallScript, RefusesAndLeavesEverythingAsItWas) {
  const RefusalCase cases[] = {
      {"not root", [](UninstallScript&) {}, settingsWith([](MacSettings& s) { s.user = 501; })},
      {"a bundle whose signature is not ours", [](UninstallScript&) {},
       settingsWith([](MacSettings& s) { s.codesignRefuses = true; })},
      {"a link at the target to a driver",
       [](UninstallScript& t) {
         fs::rename(t.target(), t.hal() / "Elsewhere.driver");
         fs::create_directory_symlink("Elsewhere.driver", t.target());
       },
       {}},
      {"a dangling link at the target",
       [](UninstallScript& t) {
         fs::remove_all(t.target());
         fs::create_symlink("/nowhere", t.target());
       },
       {}},
      {"a file at the target",
       [](UninstallScript& t) {
         fs::remove_all(t.target());
         testing::writeFile(t.target(), "not a bundle");
       },
       {}},
      {"a link on the chain",
       [](UninstallScript& t) {
         const fs::path plugIns = t.mac.onDisk("/Library/Audio/Plug-Ins");
         fs::rename(plugIns, plugIns.parent_path() / "Real");
         fs::create_directory_symlink("Real", plugIns);
       },
       {}},
      {"a group-writable HAL", [](UninstallScript& t) { fs::permissions(t.hal(), fs::perms(0775)); }, {}},
      {"Plug-Ins writable by others",
       [](UninstallScript& t) { fs::permissions(t.hal().parent_path(), fs::perms(0757)); },
       {}},
      {"HAL owned by a user",
       [](UninstallScript& t) { ASSERT_EQ(::chown(t.hal().c_str(), 501, 20), 0); },
       {}},
      {"Audio is a file",
       [](UninstallScript& t) {
         fs::remove_all(t.mac.onDisk("/Library/Audio"));
         testing::writeFile(t.mac.onDisk("/Library/Audio"), "");
       },
       {}},
      {"the lock is held", [](UninstallScript& t) { fs::create_directory(t.lock()); }, {}},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(mac.onDisk("/Library/Audio"));
    install();
    c.arrange(*this);
    const std::vector<std::string> before = libraryState(mac);
    expectGuardFailed(runAsRoot(uninstall(), c.settings));
    EXPECT_EQ(libraryState(mac), before);
  }
}

// An installation holds the lock while it copies. A removal then finds
// nothing at the target, or, when a driver has just appeared there, cannot
// take the lock; either way the installation ends as it would have alone.
TEST_P(UninstallScript, AnInstallationInProgressFinishesAsIfNothingHappened) {
  const std::string script = uninstallOnTheMac();
  const std::string runRemoval =
      "/bin/sh " + script + " > /Users/Shared/out 2>&1; echo \"status $?\" >> /Users/Shared/out\n";
  install();
  fs::rename(target(), mac.onDisk("/Users/Shared/Orlana2ch.driver"));
  const std::string theirs = printed(mac, "--print-install-script");

  struct Case {
    const char* name;
    std::string first;  // what happens in the installation's copy before the removal runs
    std::string removal;
    std::string installation;
  };
  const Case cases[] = {
      {"nothing installed yet", "", kNotPresent + "status 0\n", kInstalled},
      {"a driver appeared", "cp -a /Users/Shared/Orlana2ch.driver /Library/Audio/Plug-Ins/HAL/\n",
       kFailed + "status 1\n", kPresent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(target());
    MacSettings settings;
    settings.duringCopy = c.first + runRemoval;
    expectRun(runAsRoot(theirs, settings), c.installation, "", 0);
    // A refused lock is named by mkdir first, as on a Mac.
    const std::string removal = testing::readFile(mac.onDisk("/Users/Shared/out"));
    EXPECT_TRUE(testing::endsWith(removal, c.removal)) << removal;
    expectInstalledTree();
  }
}

// What stands at the target is looked at again once the lock is held (the
// lock's mkdir is the script's first): a removal that held the lock before
// may have taken the driver away, or something else may stand there now.
TEST_P(UninstallScript, LooksAtTheTargetAgainOnceTheLockIsHeld) {
  const std::string target = "/Library/Audio/Plug-Ins/HAL/Orlana2ch.driver";
  struct Case {
    const char* name;
    std::string change;
    std::string out;
    int status;
    std::vector<std::string> left;  // in HAL afterwards
  };
  const Case cases[] = {
      {"removed meanwhile", "rm -rf " + target + "\n", kNotPresent, 0, {}},
      {"a link now",
       "mv " + target + " " + target + ".real && ln -s Orlana2ch.driver.real " + target + "\n",
       "",
       1,
       {"Orlana2ch.driver", "Orlana2ch.driver.real"}},
      {"a file now", "rm -rf " + target + " && echo x > " + target + "\n", "", 1, {"Orlana2ch.driver"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(hal());
    install();
    MacSettings settings;
    settings.before = {{"mkdir", c.change}};
    const RunResult result = runAsRoot(uninstall(), settings);
    if (c.status == 0) {
      expectRun(result, c.out, "", 0);
    } else {
      expectGuardFailed(result);
    }
    EXPECT_EQ(halEntries(), c.left) << "the lock is left, or what stands there was touched";
    EXPECT_TRUE(mac.callsOf("codesign").empty());
  }
}

// A signal at the last moment before the move, or while the moved copy is
// being removed: the run ends with 128 plus the signal's number, with no lock
// and no temporary directory left, and the driver either exactly as before or
// gone entirely. Each signal goes to the script and to the tool it is
// running, as a terminal's interrupt goes to the whole job.
TEST_P(UninstallScript, SignalsEndTheRunWithTheDriverWholeOrGone) {
  const std::pair<const char*, int> signals[] = {
      {"HUP", 129}, {"INT", 130}, {"QUIT", 131}, {"PIPE", 141}, {"TERM", 143},
  };
  for (const auto& [signal, status] : signals) {
    const std::string send =
        std::string("kill -s ") + signal + " \"$SIMMAC_SCRIPT_PID\" \"$SIMMAC_TOOL_PID\"\n";

    fs::remove_all(hal());
    install();
    {
      SCOPED_TRACE(std::string("SIG") + signal + " before the move");
      const std::vector<std::string> installed = libraryState(mac);
      MacSettings beforeMove;
      beforeMove.before = {{"mv", send}};
      const RunResult stopped = runAsRoot(uninstall(), beforeMove);
      EXPECT_EQ(stopped.out, "");
      EXPECT_EQ(stopped.status, status) << stopped.err;
      EXPECT_EQ(stopped.err.find("CORVEL_DRIVER"), std::string::npos) << stopped.err;
      EXPECT_EQ(libraryState(mac), installed) << "the driver, exactly, and nothing else";
    }
    {
      SCOPED_TRACE(std::string("SIG") + signal + " during the removal");
      MacSettings duringRemoval;
      // Half of the copy gone, as an rm cut short would leave it.
      duringRemoval.before = {
          {"rm",
           "rm -rf /Library/Audio/Plug-Ins/HAL/.tessaro-corvel.*/Orlana2ch.driver/Contents/Resources\n" +
               send}};
      const RunResult cut = runAsRoot(uninstall(), duringRemoval);
      EXPECT_EQ(cut.out, "");
      EXPECT_EQ(cut.status, status) << cut.err;
      EXPECT_EQ(cut.err.find("CORVEL_DRIVER"), std::string::npos) << cut.err;
      EXPECT_TRUE(halEntries().empty()) << "a driver, a lock or a temporary directory is left";
    }
  }
}

using UninstallScriptText = testing::SimulatedMacTest;

TEST_F(UninstallScriptText, IsTheSameOnEveryMacAndPassesShellcheckAsPosixSh) {
  const std::string script = printed(mac, "--print-uninstall-script");
  MacSettings elsewhere = SimulatedMac::defaultUser();
  elsewhere.machine = "x86_64";
  elsewhere.macosVersion = "12.7";
  mac.moveApplication("/Users/someone/Downloads/Corvel Driver's.app");
  fs::remove_all(mac.onDisk(mac.payload()));
  expectRun(mac.runInstaller({"--print-uninstall-script"}, elsewhere), script + "\n", "", 0);
  EXPECT_TRUE(mac.calls().empty()) << "a check ran";

  const fs::path file = mac.disk() / "uninstall.sh";
  testing::writeFile(file, script);
  // SC2015: "[ -d ] && [ ! -L ] || fail" is meant as written: fail when either
  // test fails.
  const std::string command =
      "/usr/bin/shellcheck --shell=sh --severity=style --exclude=SC2015 '" + file.string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0);
}

}  // namespace
}  // namespace corvel
