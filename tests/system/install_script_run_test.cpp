// The install script as the administrator prompt runs it: printed by the real
// installer, then run as root in the simulated Mac; what ends up on disk.
// Every run is made twice: with /bin/sh as bash in POSIX mode, as macOS has
// it, and as dash, which an administrator may choose instead.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
const std::string kInstalled = "CORVEL_DRIVER_INSTALLED\n";
const std::string kPresent = "CORVEL_DRIVER_PRESENT\n";

// The script as the installer prints it, without the line feed that ends the output.
std::string printedScript(const SimulatedMac& mac) {
  const RunResult printed = mac.runInstaller({"--print-install-script"});
  EXPECT_EQ(printed.status, 0) << printed.err;
  EXPECT_EQ(printed.out.back(), '\n');
  return printed.out.substr(0, printed.out.size() - 1);
}

// The fixture's parameter is the shell that /bin/sh is.
class InstallScript : public testing::SimulatedMacTest, public ::testing::WithParamInterface<const char*> {
 public:
  void SetUp() override {
    SimulatedMacTest::SetUp();
    fs::create_directories(hal());
  }

  fs::path lock() const { return hal() / ".tessaro-corvel-install.lock"; }
  std::string printedScript() const { return corvel::printedScript(mac); }

  RunResult runAsRoot(const std::string& script, MacSettings settings = {}) const {
    settings.shell = GetParam();
    return mac.runAsRoot(script, settings);
  }
};

INSTANTIATE_TEST_SUITE_P(Shells, InstallScript, ::testing::Values("bash", "dash"),
                         [](const ::testing::TestParamInfo<const char*>& shell) { return shell.param; });

TEST_P(InstallScript, InstallsTheSnapshotOwnedByRootWithFixedModes) {
  // The user's copy is owned by the user, writable by everyone, and carries
  // set-user-ID and set-group-ID bits, which ditto keeps when run as root:
  // none of it may carry over. (A numeric chmod clears a directory's set-ID
  // bits on a Mac; Debian's keeps them.)
  const fs::path payload = mac.onDisk(mac.payload());
  for (const auto& entry : fs::recursive_directory_iterator(payload)) {
    ASSERT_EQ(::lchown(entry.path().c_str(), 501, 20), 0);
    fs::permissions(entry.path(), fs::perms::group_write | fs::perms::others_write, fs::perm_options::add);
  }
  ASSERT_EQ(::lchown(payload.c_str(), 501, 20), 0);
  fs::permissions(payload, fs::perms(02777));
  fs::permissions(payload / "Contents/Resources", fs::perms(04777));
  fs::permissions(payload / "Contents/MacOS/Orlana2ch", fs::perms(06777));
  expectRun(runAsRoot(printedScript()), kInstalled, "", 0);
  expectInstalledTree();
  EXPECT_EQ(mac.callsOf("chown").size(), 1u);
}

TEST_P(InstallScript, CreatesAMissingDirectoryChainWithMode755) {
  fs::remove_all(mac.onDisk("/Library/Audio"));
  expectRun(runAsRoot(printedScript()), kInstalled, "", 0);
  for (const char* directory : {"/Library/Audio", "/Library/Audio/Plug-Ins", "/Library/Audio/Plug-Ins/HAL"}) {
    struct stat status {};
    ASSERT_EQ(::lstat(mac.onDisk(directory).c_str(), &status), 0);
    EXPECT_TRUE(S_ISDIR(status.st_mode)) << directory;
    EXPECT_EQ(status.st_mode & 07777, 0755u) << directory;
    EXPECT_EQ(status.st_uid, 0u) << directory;
  }
  expectInstalledTree();
}

TEST_P(InstallScript, LeavesADriverPresentBeforeTheLockUntouched) {
  const std::string script = printedScript();
  fs::create_directories(target() / "Contents");
  testing::writeFile(target() / "Contents/theirs", "kept");
  expectRun(runAsRoot(script), kPresent, "", 0);
  EXPECT_EQ(halEntries(), std::vector<std::string>{"Orlana2ch.driver"}) << "a lock or snapshot was made";
  // A held lock does not matter: the target is looked at before the lock.
  fs::create_directory(lock());
  expectRun(runAsRoot(script), kPresent, "", 0);
  EXPECT_EQ(testing::readFile(target() / "Contents/theirs"), "kept");
  EXPECT_TRUE(fs::is_directory(lock()));
  EXPECT_TRUE(mac.callsOf("ditto").empty());
}

struct RefusalCase {
  const char* name;
  std::function<void(InstallScript&)> arrange;
  MacSettings settings;
};

TEST_P(InstallScript, RefusesBeforeCopyingAnything) {
  const std::string script = printedScript();
  const RefusalCase cases[] = {
      {"not root", [](InstallScript&) {}, settingsWith([](MacSettings& s) { s.user = 501; })},
      {"not arm64", [](InstallScript&) {}, settingsWith([](MacSettings& s) { s.machine = "x86_64"; })},
      {"macOS 13", [](InstallScript&) {}, settingsWith([](MacSettings& s) { s.macosVersion = "13.6.1"; })},
      {"group-writable HAL", [](InstallScript& t) { fs::permissions(t.hal(), fs::perms(0775)); }, {}},
      {"world-writable Plug-Ins",
       [](InstallScript& t) { fs::permissions(t.hal().parent_path(), fs::perms(0757)); },
       {}},
      {"HAL owned by a user", [](InstallScript& t) { ASSERT_EQ(::chown(t.hal().c_str(), 501, 20), 0); }, {}},
      {"HAL is a file",
       [](InstallScript& t) {
         fs::remove_all(t.hal());
         testing::writeFile(t.hal(), "");
       },
       {}},
      {"Audio is a link",
       [](InstallScript& t) {
         const fs::path audio = t.mac.onDisk("/Library/Audio");
         fs::rename(audio, audio.parent_path() / "Real");
         fs::create_directory_symlink("Real", audio);
       },
       {}},
      {"a file at the target", [](InstallScript& t) { testing::writeFile(t.target(), ""); }, {}},
      {"a dangling link at the target",
       [](InstallScript& t) { fs::create_symlink("/nowhere", t.target()); },
       {}},
      {"the lock is held", [](InstallScript& t) { fs::create_directory(t.lock()); }, {}},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(mac.onDisk("/Library/Audio"));
    fs::create_directories(hal());
    c.arrange(*this);
    expectGuardFailed(runAsRoot(script, c.settings));
    EXPECT_TRUE(mac.callsOf("ditto").empty());
  }
  // The refused lock is someone else's: it is still there.
  EXPECT_TRUE(fs::is_directory(lock()));
}

TEST_P(InstallScript, RefusesASnapshotThatDiffersFromTheManifestAndCleansUp) {
  const std::string script = printedScript();
  const fs::path payload = mac.onDisk(mac.payload());
  const fs::path pristine = mac.disk() / "pristine.driver";
  fs::copy(payload, pristine, fs::copy_options::recursive);
  const std::pair<const char*, std::function<void()>> cases[] = {
      {"extra file", [&] { testing::writeFile(payload / "Contents/Resources/extra", ""); }},
      {"extra dot file", [&] { testing::writeFile(payload / ".DS_Store", ""); }},
      {"missing file", [&] { fs::remove(payload / "Contents/Resources/README.md"); }},
      {"changed byte",
       [&] {
         std::string text = testing::readFile(payload / "Contents/Resources/VERSION");
         text[0] ^= 1;
         testing::writeFile(payload / "Contents/Resources/VERSION", text);
       }},
      {"symbolic link", [&] { fs::create_symlink("Info.plist", payload / "Contents/link"); }},
      // ditto copies a file given as its source to the snapshot's path.
      {"payload is a file",
       [&] {
         fs::remove_all(payload);
         testing::writeFile(payload, "not a bundle");
       }},
      {"payload gone", [&] { fs::remove_all(payload); }},
  };
  for (const auto& [name, tamper] : cases) {
    SCOPED_TRACE(name);
    fs::remove_all(payload);
    fs::copy(pristine, payload, fs::copy_options::recursive);
    tamper();
    const RunResult result = runAsRoot(script);
    if (std::string(name) == "payload gone") {
      // The copy itself fails: its own status and diagnostics, no marker.
      EXPECT_EQ(result.out, "");
      EXPECT_NE(result.status, 0);
      EXPECT_EQ(result.err.find("CORVEL_DRIVER_CHECK_FAILED"), std::string::npos);
    } else {
      expectRun(result, "", kFailed, 1);
    }
    EXPECT_TRUE(mac.callsOf("codesign").empty());
    EXPECT_TRUE(halEntries().empty()) << "lock or temporary directory left behind";
  }
}

// A pipe, a socket, and names beginning with ".nfs" or ".afpDeleted" are
// what ditto leaves out of a copy. The installer's own check refuses a
// payload that holds them, but the install script checks only its snapshot, and
// that holds exactly the manifest's files: on a Mac the run installs them.
TEST_P(InstallScript, InstallsWithoutWhatDittoLeavesOut) {
  const std::string script = printedScript();
  const fs::path payload = mac.onDisk(mac.payload());
  ASSERT_EQ(::mkfifo((payload / "Contents/fifo").c_str(), 0644), 0);
  testing::makeSocket(payload / "Contents/Resources/socket");
  testing::writeFile(payload / ".nfs000000000001", "");
  testing::writeFile(payload / "Contents/.afpDeleted12", "");
  expectRun(runAsRoot(script), kInstalled, "", 0);
  expectInstalledTree();
}

// When the copy fails part-way, the run ends at the copy, with ditto's own
// status and diagnostics and without the marker, and cleans up.
TEST_P(InstallScript, ACopyThatCannotCompleteEndsTheRunAtTheCopy) {
  const std::string script = printedScript();

  // Deeper than a path may be long.
  testing::makeDeepTree(mac.onDisk(mac.payload()) / "Contents/Resources", 2500);
  const RunResult deep = runAsRoot(script);
  EXPECT_EQ(deep.out, "");
  EXPECT_EQ(deep.status, 1);
  EXPECT_NE(deep.err.find("ditto: "), std::string::npos) << deep.err;
  EXPECT_EQ(deep.err.find(kFailed), std::string::npos) << deep.err;
  EXPECT_TRUE(mac.callsOf("codesign").empty());
  EXPECT_TRUE(halEntries().empty()) << "lock or temporary directory left behind";
  fs::remove_all(mac.onDisk(mac.payload()) / "Contents/Resources/d");

  // A disk that fills up: HAL on a file system of four pages, fewer than the
  // payload's eight files need. What is left there is listed from inside.
  MacSettings full;
  full.volume = "/Library/Audio/Plug-Ins/HAL:16384";
  full.shell = GetParam();
  const RunResult filled = mac.run({"/bin/sh", "-c",
                                    "/bin/sh -c \"$1\"; echo \"status $?\"; "
                                    "/usr/bin/find /Library/Audio/Plug-Ins/HAL -mindepth 1",
                                    "sh", script},
                                   full);
  EXPECT_EQ(filled.out, "status 1\n");
  EXPECT_NE(filled.err.find("No space left on device"), std::string::npos) << filled.err;
  EXPECT_EQ(filled.err.find(kFailed), std::string::npos) << filled.err;
  EXPECT_TRUE(mac.callsOf("codesign").empty());
}

TEST_P(InstallScript, RefusesASnapshotWhoseSignatureFails) {
  const std::string script = printedScript();
  MacSettings refusing;
  refusing.codesignRefuses = true;
  expectGuardFailed(runAsRoot(script, refusing));
  const auto codesign = mac.callsOf("codesign");
  ASSERT_EQ(codesign.size(), 1u);
  EXPECT_EQ(codesign[0][5], signatureRequirement());
  EXPECT_EQ(codesign[0][6].rfind("/Library/Audio/Plug-Ins/HAL/.tessaro-corvel.", 0), 0u) << codesign[0][6];
  EXPECT_TRUE(halEntries().empty());
  EXPECT_TRUE(mac.callsOf("chown").empty());
}

TEST_P(InstallScript, ADriverThatAppearsDuringTheCopyIsLeftAlone) {
  MacSettings settings;
  settings.duringCopy =
      "mkdir /Library/Audio/Plug-Ins/HAL/Orlana2ch.driver\n"
      "echo theirs > /Library/Audio/Plug-Ins/HAL/Orlana2ch.driver/file\n";
  expectRun(runAsRoot(printedScript(), settings), kPresent, "", 0);
  EXPECT_EQ(halEntries(), std::vector<std::string>{"Orlana2ch.driver"});
  EXPECT_EQ(testing::treeListing(target()).size(), 2u);
  EXPECT_EQ(testing::readFile(target() / "file"), "theirs\n");
}

TEST_P(InstallScript, AFileThatAppearsDuringTheCopyFailsTheRun) {
  MacSettings settings;
  settings.duringCopy = "echo x > /Library/Audio/Plug-Ins/HAL/Orlana2ch.driver\n";
  expectGuardFailed(runAsRoot(printedScript(), settings));
  EXPECT_EQ(halEntries(), std::vector<std::string>{"Orlana2ch.driver"});
  EXPECT_EQ(testing::readFile(target()), "x\n");
}

TEST_P(InstallScript, SignalsWhileTheLockIsHeldEndTheRunAndCleanUp) {
  const std::string script = printedScript();
  const std::pair<const char*, int> signals[] = {
      {"HUP", 129}, {"INT", 130}, {"QUIT", 131}, {"PIPE", 141}, {"TERM", 143},
  };
  for (const auto& [signal, status] : signals) {
    SCOPED_TRACE(std::string("SIG") + signal);
    fs::remove_all(hal());
    fs::create_directories(hal());
    MacSettings settings;
    settings.duringCopy = std::string("kill -s ") + signal + " \"$SIMMAC_SCRIPT_PID\"\n";
    expectRun(runAsRoot(script, settings), "", "", status);
    EXPECT_TRUE(halEntries().empty()) << "a lock, a temporary directory or a driver";
    EXPECT_TRUE(mac.callsOf("codesign").empty());
  }
}

// A second signal while the cleanup removes the temporary directory, at the
// shell and at its rm alike, must stop neither: the lock goes as well. The
// temporary directory is filled so that its removal takes a while, and a
// watcher sends TERM from the moment the cleanup's rm is seen until the run
// has ended.
TEST_P(InstallScript, ASignalDuringTheCleanupDoesNotCutItShort) {
  const std::string script = printedScript();
  MacSettings settings;
  settings.duringCopy = R"SH(temporary=$(echo /Library/Audio/Plug-Ins/HAL/.tessaro-corvel.*)
i=0
while [ $i -lt 1000 ]; do : > "$temporary/$i"; i=$((i + 1)); done
kill -s TERM "$SIMMAC_SCRIPT_PID"
(
  while kill -s 0 "$SIMMAC_SCRIPT_PID" 2>/dev/null; do
    for stat in /proc/[0-9]*/stat; do
      read -r pid name _ parent _ 2>/dev/null < "$stat" || continue
      if [ "$parent" = "$SIMMAC_SCRIPT_PID" ] && [ "$name" = "(rm)" ]; then
        while kill -s TERM "$SIMMAC_SCRIPT_PID" 2>/dev/null; do kill -s TERM "$pid" 2>/dev/null; done
      fi
    done
  done
) &
)SH";
  expectRun(runAsRoot(script, settings), "", "", 143);
  EXPECT_TRUE(halEntries().empty()) << "a lock, a temporary directory or a driver";
}

// The temporary directory cannot be removed: a file system is mounted inside
// it (beside the snapshot) until the run has ended, and rm -rf fails on the
// mount point. The lock is removed all the same, and the run ends as it
// would have: installed, stopped by a signal, or failed.
TEST_P(InstallScript, AFailingRemovalNeitherStopsTheCleanupNorChangesTheEnding) {
  const std::string script = printedScript();
  const std::string mountInTemporary =
      "temporary=$(echo /Library/Audio/Plug-Ins/HAL/.tessaro-corvel.*)\n"
      "mkdir \"$temporary/busy\" && mount -t tmpfs busy \"$temporary/busy\"\n";
  struct Ending {
    const char* name;
    std::string duringCopy;
    bool codesignRefuses;
    std::string out;
    std::string errMarker;
    int status;
    bool installed;
  };
  const Ending endings[] = {
      {"installed", "", false, kInstalled, "", 0, true},
      {"terminated", "kill -s TERM \"$SIMMAC_SCRIPT_PID\"\n", false, "", "", 143, false},
      {"a failed check", "", true, "", kFailed, 1, false},
  };
  for (const Ending& ending : endings) {
    SCOPED_TRACE(ending.name);
    fs::remove_all(hal());
    fs::create_directories(hal());
    MacSettings settings;
    settings.duringCopy = mountInTemporary + ending.duringCopy;
    settings.codesignRefuses = ending.codesignRefuses;
    const RunResult result = runAsRoot(script, settings);
    EXPECT_EQ(result.out, ending.out);
    EXPECT_EQ(result.status, ending.status);
    EXPECT_NE(result.err.find(ending.errMarker), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("rm: cannot remove"), std::string::npos) << result.err;

    std::vector<std::string> left = halEntries();
    ASSERT_FALSE(left.empty());
    EXPECT_EQ(left.front().rfind(".tessaro-corvel.", 0), 0u)
        << "the temporary directory, which rm could not remove";
    left.erase(left.begin());
    EXPECT_EQ(left,
              ending.installed ? std::vector<std::string>{"Orlana2ch.driver"} : std::vector<std::string>{})
        << "the lock is left";
  }
}

TEST_P(InstallScript, InstallsFromAPathWithBlanksQuotesAndBackslashes) {
  mac.moveApplication("/Users/o'brien \"test\" back\\slash/Corvel Driver's.app");
  expectRun(runAsRoot(printedScript()), kInstalled, "", 0);
  expectInstalledTree();
  EXPECT_EQ(mac.callsOf("ditto").at(0).at(5), mac.payload());
}

using InstallScriptText = testing::SimulatedMacTest;

TEST_F(InstallScriptText, PassesShellcheckAsPosixSh) {
  const fs::path file = mac.disk() / "install.sh";
  testing::writeFile(file, printedScript(mac));
  // SC2015: the "[ -d ] && [ ! -L ] || fail" guard is meant as written: fail
  // when either test fails.
  const std::string command =
      "/usr/bin/shellcheck --shell=sh --severity=style --exclude=SC2015 '" + file.string() + "'";
  EXPECT_EQ(std::system(command.c_str()), 0);
}

}  // namespace
}  // namespace corvel
