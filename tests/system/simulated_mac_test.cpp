// The stand-ins of the simulated Mac answer as the macOS tools do for the
// forms the installer and its root script use, and refuse every other form,
// so that a change in how a tool is called fails loudly instead of passing.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/simulated_mac.h"

namespace corvel {
namespace {
namespace fs = std::filesystem;
using testing::MacSettings;
using testing::RunResult;
using testing::SimulatedMac;

using SimulatedMacTools = testing::SimulatedMacTest;

TEST_F(SimulatedMacTools, AnswerTheFormsInUse) {
  fs::create_directories(mac.onDisk("/Library/Audio"));
  fs::permissions(mac.onDisk("/Library/Audio"), fs::perms(02750));
  MacSettings settings;
  settings.macosVersion = "14.6.1";
  settings.machine = "arm64";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"/usr/bin/uname", "-m"}, "arm64\n"},
      {{"/usr/bin/sw_vers", "-productVersion"}, "14.6.1\n"},
      {{"/usr/bin/stat", "-f", "%u", "/Library/Audio"}, "0\n"},
      {{"/usr/bin/stat", "-f", "%Lp", "/Library/Audio"}, "750\n"},
  };
  for (const auto& [command, out] : cases) {
    const RunResult result = mac.run(command, settings);
    EXPECT_EQ(result.out, out) << command[0] << " " << result.err;
    EXPECT_EQ(result.status, 0) << command[0];
  }
  EXPECT_EQ(mac.calls(), (std::vector<std::vector<std::string>>{{"stat", "-f", "%Lp", "/Library/Audio"}}));
}

TEST_F(SimulatedMacTools, DittoCopiesLinksAsLinksAndKeepsModes) {
  fs::create_directories(mac.onDisk("/Users/Shared/from/sub"));
  fs::permissions(mac.onDisk("/Users"), fs::perms(0755));
  testing::writeFile(mac.onDisk("/Users/Shared/from/sub/run"), "x");
  fs::permissions(mac.onDisk("/Users/Shared/from/sub/run"), fs::perms(0751));
  fs::create_symlink("sub/run", mac.onDisk("/Users/Shared/from/link"));
  const RunResult result = mac.run({"/usr/bin/ditto", "--norsrc", "--noextattr", "--noqtn", "--noacl",
                                    "/Users/Shared/from", "/Users/Shared/to"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(fs::is_symlink(mac.onDisk("/Users/Shared/to/link")));
  EXPECT_EQ(fs::status(mac.onDisk("/Users/Shared/to/sub/run")).permissions(), fs::perms(0751));
}

TEST_F(SimulatedMacTools, RefuseEveryOtherForm) {
  const std::vector<std::vector<std::string>> cases = {
      {"/usr/bin/uname"},
      {"/usr/bin/uname", "-a"},
      {"/usr/bin/uname", "-m", "-r"},
      {"/usr/bin/sw_vers"},
      {"/usr/bin/sw_vers", "-buildVersion"},
      {"/usr/bin/stat", "-c", "%u", "/Library"},
      {"/usr/bin/stat", "-f", "%p", "/Library"},
      {"/usr/bin/stat", "/Library"},
      {"/usr/sbin/chown", "root:wheel", "/Library"},
      {"/usr/sbin/chown", "-R", "root:staff", "/Library"},
      {"/usr/bin/ditto", "/Library", "/tmp/copy"},
      {"/usr/bin/ditto", "--norsrc", "--noextattr", "--noqtn", "/Library", "/tmp/copy"},
      {"/usr/bin/codesign", "--verify", "/Library"},
      {"/usr/bin/codesign", "--verify", "--deep", "--strict", "--test-requirement", "=anchor apple",
       "/Library"},
      {"/usr/bin/codesign", "--verify", "--deep", "--strict", "--test-requirement",
       testing::readFile(CORVEL_REQUIREMENT_FILE)
           .substr(0, testing::readFile(CORVEL_REQUIREMENT_FILE).size() - 1),
       "relative/path"},
  };
  for (const auto& command : cases) {
    std::string label;
    for (const auto& word : command) label += "[" + word + "]";
    const RunResult result = mac.run(command);
    EXPECT_EQ(result.status, 64) << label << " " << result.err;
    EXPECT_NE(result.err.find("this form is not simulated"), std::string::npos) << label;
  }
}

TEST_F(SimulatedMacTools, OnlyTheScriptsToolsAreOnTheSearchPath) {
  for (const char* tool :
       {"/usr/bin/curl", "/usr/bin/sudo", "/usr/bin/python3", "/usr/bin/cp", "/usr/bin/ln"}) {
    EXPECT_NE(mac.run({"/bin/sh", "-c", std::string("test -e ") + tool}).status, 0) << tool;
  }
}

}  // namespace
}  // namespace corvel
