// The installer started with a hostile environment, as a user's launch
// environment reaches a double-clicked application on a Mac. Each variable
// comes with a payload in the user's own folder that really runs where the
// variable reaches a shell, perl, the dynamic loader or a tool (shown first,
// by starting one directly), and each must leave no trace when it comes
// through the installer: the installation ends as it would without it, the
// installed tree is exact, the user's folder is as it was, and the root
// script starts with the clean environment alone.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/simulated_mac.h"

namespace corvel {
namespace {
namespace fs = std::filesystem;
using testing::MacSettings;
using testing::RunResult;

using Variables = std::vector<std::pair<std::string, std::string>>;

struct HostileCase {
  const char* name;
  Variables variables;
  // A command that shows the payload at work where the variable does reach;
  // empty where nothing in the simulated Mac honours the variable at all.
  std::vector<std::string> reached;
  // The command above runs as the user: bash takes no PS4 from the
  // environment when it runs as root (bash 3.2, macOS's /bin/sh, does).
  bool reachedAsUser = false;
  // The printed script withstands the variable even in the administrator's
  // own root shell: it sets PATH itself, the shells ignore an inherited IFS,
  // it never uses cd, and it gives mktemp an absolute template.
  bool scriptWithstandsIt = false;
};

const HostileCase kCases[] = {
    {"PERL5OPT",
     {{"PERL5OPT", "-I/Users/mallory/perl -MPwn"}},
     {"/usr/bin/shasum", "-a", "256", "/dev/null"}},
    {"PERL5LIB", {{"PERL5LIB", "/Users/mallory/perl"}}, {"/usr/bin/shasum", "-a", "256", "/dev/null"}},
    {"PERLLIB", {{"PERLLIB", "/Users/mallory/perl"}}, {"/usr/bin/shasum", "-a", "256", "/dev/null"}},
    {"SHELLOPTS with PS4",
     {{"SHELLOPTS", "xtrace"}, {"PS4", "$(echo PS4 >> /Users/mallory/pwned)"}},
     {"/bin/bash", "--posix", "-c", "true"},
     true},
    {"BASH_ENV", {{"BASH_ENV", "/Users/mallory/rc"}}, {"/bin/bash", "-c", "true"}},
    {"ENV", {{"ENV", "/Users/mallory/rc"}}, {"/bin/sh", "-i", "-c", "true"}},
    {"IFS", {{"IFS", "/"}}, {}, false, true},
    {"CDPATH", {{"CDPATH", "/Users/mallory"}}, {"/bin/sh", "-c", "cd bin && ./id"}, false, true},
    {"an exported function",
     {{"BASH_FUNC_echo%%", "() { builtin echo function >> /Users/mallory/pwned; builtin echo \"$@\"; }"}},
     {"/bin/bash", "--posix", "-c", "echo"}},
    {"LD_PRELOAD", {{"LD_PRELOAD", "/Users/mallory/pwn.so"}}, {"/bin/sh", "-c", "true"}},
    {"LD_LIBRARY_PATH", {{"LD_LIBRARY_PATH", "/Users/mallory/lib"}}, {"/usr/bin/id", "-u"}},
    // Only macOS's loader reads it; here the clean start of the install script
    // is what shows it never arrives.
    {"DYLD_INSERT_LIBRARIES", {{"DYLD_INSERT_LIBRARIES", "/Users/mallory/pwn.so"}}, {}},
    {"TMPDIR", {{"TMPDIR", "/Users/mallory/tmp"}}, {"/usr/bin/mktemp", "-d"}, false, true},
    {"PATH",
     {{"PATH", "/Users/mallory/bin:/usr/bin:/bin:/usr/sbin:/sbin"}},
     {"/bin/sh", "-c", "id -u"},
     false,
     true},
};

// A tool of the user's own, under each name the script, the stand-ins or a
// shell might look up.
const char* const kImpostorNames[] = {
    "sh", "bash",   "id",   "uname",    "sw_vers", "cut",   "stat", "mkdir", "mktemp", "ditto", "find", "wc",
    "tr", "shasum", "perl", "codesign", "chown",   "chmod", "mv",   "rm",    "rmdir",  "cat",   "sed",  "cp"};

// What the install script's shell was started with, written while it copies.
const std::string kRecordRootEnvironment =
    "tr '\\0' '\\n' < /proc/\"$SIMMAC_SCRIPT_PID\"/environ > /Users/Shared/root-environment\n";

class HostileEnvironment : public testing::SimulatedMacTest {
 protected:
  void SetUp() override {
    SimulatedMacTest::SetUp();
    fs::create_directories(hal());
    fs::create_directories(mac.onDisk("/Users/Shared"));
    fs::permissions(mac.onDisk("/Users"), fs::perms(0755));
    plantPayloads();
  }

  fs::path mallory() const { return mac.onDisk("/Users/mallory"); }

  // The user's folder with every payload in it, owned by the user.
  void plantPayloads() const {
    fs::remove_all(mallory());
    const std::string mark = " >> /Users/mallory/pwned\n";
    testing::writeFile(mallory() / "perl/Pwn.pm", perlModule("Pwn"));
    testing::writeFile(mallory() / "perl/strict.pm", perlModule("strict"));
    testing::writeFile(mallory() / "rc", "echo rc" + mark);
    for (const char* name : kImpostorNames) {
      testing::writeFile(mallory() / "bin" / name,
                         std::string("#!/bin/sh\necho 'impostor ") + name + "'" + mark);
      fs::permissions(mallory() / "bin" / name, fs::perms(0755));
    }
    fs::copy_file(CORVEL_HOSTILE_PRELOAD, mallory() / "pwn.so");
    fs::create_directories(mallory() / "lib");
    fs::copy_file(CORVEL_HOSTILE_LIBSELINUX, mallory() / "lib/libselinux.so.1");
    fs::create_directories(mallory() / "tmp");
    for (const auto& entry : fs::recursive_directory_iterator(mallory())) {
      ASSERT_EQ(::lchown(entry.path().c_str(), 501, 20), 0);
    }
    ASSERT_EQ(::chown(mallory().c_str(), 501, 20), 0);
    fs::permissions(mallory(), fs::perms(0755));
  }

  static std::string perlModule(const std::string& package) {
    return "package " + package +
           ";\n"
           "if (open(my $mark, '>>', '/Users/mallory/pwned')) { print {$mark} \"" +
           package + ".pm\\n\"; close $mark; }\n1;\n";
  }

  // Everything in the user's folder, as relative paths: a mark, a temporary
  // file or anything else the payloads leave shows here.
  std::vector<std::string> malloryListing() const {
    std::vector<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(mallory())) {
      paths.push_back(entry.path().lexically_relative(mallory()).string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
  }

  // The hostile variables on top of the Mac's own. The installer is built
  // with AddressSanitizer, which stops a program whose first library is not
  // its runtime; told not to check, it lets a preloaded library in, as a
  // release build would.
  static MacSettings hostile(const HostileCase& c) {
    MacSettings settings;
    settings.environment = c.variables;
    const char* options = std::getenv("ASAN_OPTIONS");
    settings.environment.emplace_back(
        "ASAN_OPTIONS", std::string(options != nullptr ? options : "") + ":verify_asan_link_order=0");
    return settings;
  }

  // What the payloads wrote, for a failure's message.
  std::string marks() const {
    return fs::exists(mallory() / "pwned") ? testing::readFile(mallory() / "pwned") : "";
  }

  std::string rootEnvironment() const {
    return testing::readFile(mac.onDisk("/Users/Shared/root-environment"));
  }
};

TEST_F(HostileEnvironment, EachPayloadRunsWhereItsVariableReaches) {
  const auto planted = malloryListing();
  for (const HostileCase& c : kCases) {
    if (c.reached.empty()) continue;
    SCOPED_TRACE(c.name);
    MacSettings settings;
    settings.environment = c.variables;
    if (c.reachedAsUser) settings.user = 501;
    mac.run(c.reached, settings);
    EXPECT_NE(malloryListing(), planted) << "the payload did not run";
    plantPayloads();
  }
}

TEST_F(HostileEnvironment, NothingReachesRootInAnInteractiveInstallation) {
  MacSettings clean;
  clean.duringCopy = kRecordRootEnvironment;
  const RunResult expected = mac.runInstaller({}, clean, "1\n1\n");
  ASSERT_EQ(expected.status, 0);
  expectInstalledTree();
  ASSERT_EQ(rootEnvironment(), "PATH=/usr/bin:/bin:/usr/sbin:/sbin\n");
  const auto planted = malloryListing();

  for (const HostileCase& c : kCases) {
    SCOPED_TRACE(c.name);
    plantPayloads();
    fs::remove_all(target());
    fs::remove(mac.onDisk("/Users/Shared/root-environment"));
    MacSettings settings = hostile(c);
    settings.duringCopy = kRecordRootEnvironment;
    const RunResult result = mac.runInstaller({}, settings, "1\n1\n");
    testing::expectRun(result, expected.out, expected.err, expected.status);
    expectInstalledTree();
    EXPECT_EQ(malloryListing(), planted) << marks();
    EXPECT_EQ(rootEnvironment(), "PATH=/usr/bin:/bin:/usr/sbin:/sbin\n");
  }
}

// An administrator may print the script and run it in a root shell of their
// own. Nothing of the installer's environment is in the text; the root
// shell's environment is the administrator's, and where a variable acts
// before the script's first line (a loader, a shell's start-up) or in a tool
// the script runs (perl), no line of the script could stop it. The script
// defends itself where it can.
TEST_F(HostileEnvironment, ThePrintedScriptIsTheSameAndInstallsFromARootShell) {
  const RunResult expected = mac.runInstaller({"--print-install-script"}, {});
  ASSERT_EQ(expected.status, 0);
  const auto planted = malloryListing();

  for (const HostileCase& c : kCases) {
    SCOPED_TRACE(c.name);
    plantPayloads();
    // Printed as root: as the user, the sandbox's own setpriv would start
    // with the variables before the installer does.
    const RunResult printed = mac.runInstaller({"--print-install-script"}, hostile(c));
    testing::expectRun(printed, expected.out, "", 0);

    fs::remove_all(target());
    MacSettings rootShell;
    if (c.scriptWithstandsIt) rootShell.environment = c.variables;
    testing::expectRun(mac.run({"/bin/sh"}, rootShell, printed.out), "CORVEL_DRIVER_INSTALLED\n", "", 0);
    expectInstalledTree();
    EXPECT_EQ(malloryListing(), planted) << marks();
  }
}

}  // namespace
}  // namespace corvel
