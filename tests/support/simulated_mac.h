#pragma once

#include <unistd.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/scratch.h"

namespace corvel::testing {

// How the simulated Mac is set up for one run (see tools/simmac).
struct MacSettings {
  std::optional<std::string> macosVersion = "15.1";  // none: no SystemVersion.plist
  std::string machine = "arm64";
  bool unameFails = false;
  bool codesignRefuses = false;
  std::optional<int> user;   // none: root
  bool sudoRefuses = false;  // `sudo -v` refuses the user's password (only a user has sudo)
  std::string duringCopy;    // sh script that ditto runs after its copy
  // The Mac's mkdir, mv or rm, each with an sh script run just before its first call.
  std::vector<std::pair<std::string, std::string>> before;
  std::string missingTool;     // uname or codesign: no such program at all
  std::string shell = "bash";  // what /bin/sh is: bash (in POSIX mode, as on a Mac) or dash
  std::string volume;          // "PATH:BYTES": an empty file system that size at PATH, for one run
  // Variables the command starts with besides simmac's own (PATH, LANG, HOME,
  // USER); a name given here replaces PATH or LANG.
  std::vector<std::pair<std::string, std::string>> environment;
};

struct RunResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal
};

// A fresh simulated Mac whose disk is a scratch folder: an empty, root-owned
// /Library and the built application at /Applications.
class SimulatedMac {
 public:
  SimulatedMac();

  // The Mac's disk as the host sees it: DISK/Library is the Mac's /Library.
  const std::filesystem::path& disk() const { return disk_; }
  std::filesystem::path onDisk(const std::string& macPath) const { return disk_ / macPath.substr(1); }

  // Where the application is, inside the Mac; `moveApplication` puts it elsewhere.
  const std::string& application() const { return application_; }
  void moveApplication(const std::string& macPath);
  std::string payload() const { return application_ + "/Contents/Resources/Orlana2ch.driver"; }
  std::string executable() const { return application_ + "/Contents/MacOS/CorvelDriverInstaller"; }

  RunResult run(const std::vector<std::string>& command, const MacSettings& settings = {},
                const std::string& input = "") const;

  // The installer as the Mac's user (uid 501) unless the settings say otherwise.
  RunResult runInstaller(const std::vector<std::string>& arguments, MacSettings settings = defaultUser(),
                         const std::string& input = "") const;

  // The script as root, as the administrator prompt runs it.
  RunResult runAsRoot(const std::string& script, const MacSettings& settings = {}) const;

  // The stand-ins' calls during the last run: each the tool's name, then its arguments.
  std::vector<std::vector<std::string>> calls() const;
  std::vector<std::vector<std::string>> callsOf(const std::string& tool) const;

  static MacSettings defaultUser() {
    MacSettings settings;
    settings.user = 501;
    return settings;
  }

 private:
  ScratchDir scratch_;
  std::filesystem::path disk_;
  std::string application_ = "/Applications/CorvelDriverInstaller.app";
};

// The fixture of every test that runs in the simulated Mac.
class SimulatedMacTest : public ::testing::Test {
 public:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_FAIL() << "the simulated Mac needs root (its root is the real root)";
  }
  // The Mac's HAL folder and the install target, as the host sees them.
  std::filesystem::path hal() const { return mac.onDisk("/Library/Audio/Plug-Ins/HAL"); }
  std::filesystem::path target() const { return hal() / "Orlana2ch.driver"; }

  // The names in HAL, sorted: no lock and no temporary directory may be left there.
  std::vector<std::string> halEntries() const;

  // The shipped payload at the target, owned by root with the fixed modes,
  // and nothing else in HAL.
  void expectInstalledTree() const;

  SimulatedMac mac;
};

// Exactly this standard output, standard error and exit status.
void expectRun(const RunResult& result, const std::string& out, const std::string& err, int status);

// Whether `text` ends with `end`.
bool endsWith(const std::string& text, const std::string& end);

// A root script's refusal: nothing on standard output, status 1, and the
// failure marker as the script's last word on standard error (after whatever
// the failing tool said).
void expectGuardFailed(const RunResult& result);

// The default settings with one change.
MacSettings settingsWith(const std::function<void(MacSettings&)>& change);

// "owner:group mode path" for everything below `root`, in path order,
// modes in octal: the installed tree as a person would check it.
std::vector<std::string> treeListing(const std::filesystem::path& root);

}  // namespace corvel::testing
