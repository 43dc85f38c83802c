#include "common/clean_environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "install/install_script.h"
#include "verify/child_process.h"

extern char** environ;

namespace corvel {
namespace {

const std::string kSearchPath = "PATH=/usr/bin:/bin:/usr/sbin:/sbin";

std::vector<std::string> entriesOf(char* const* environment) {
  std::vector<std::string> entries;
  for (char* const* entry = environment; *entry != nullptr; ++entry) entries.emplace_back(*entry);
  return entries;
}

TEST(CleanEnvironment, IsTheInstallScriptsOwnSearchPathAlone) {
  EXPECT_EQ(entriesOf(cleanEnvironment()), std::vector<std::string>{kSearchPath});
  const std::string script = installCommand("/src", {}, "=r");
  EXPECT_NE(script.find("\n" + kSearchPath + "\nexport PATH\n"), std::string::npos);
}

// Starts each test with what a hostile caller could give the installer, odd
// entries included (execve takes any strings, with an equals sign or not),
// and puts the process's own environment back afterwards.
class ProcessEnvironment : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = environ;
    environ = hostile_;
  }
  void TearDown() override { environ = saved_; }

  char text_[6][40] = {
      "LD_PRELOAD=/Users/mallory/pwn.so", "PERL5OPT=-MPwn", "PATH=/Users/mallory/bin:/usr/bin",
      "BASH_FUNC_echo%%=() { :; }",       "no equals sign", "=empty name"};
  char* hostile_[7] = {text_[0], text_[1], text_[2], text_[3], text_[4], text_[5], nullptr};

 private:
  char** saved_ = nullptr;
};

TEST_F(ProcessEnvironment, ReplacingItLeavesNothingInherited) {
  replaceEnvironment();
  EXPECT_EQ(entriesOf(environ), std::vector<std::string>{kSearchPath});
  EXPECT_EQ(std::getenv("LD_PRELOAD"), nullptr);
  EXPECT_EQ(std::getenv("PERL5OPT"), nullptr);
  EXPECT_EQ(std::string(std::getenv("PATH")), "/usr/bin:/bin:/usr/sbin:/sbin");
  // The inherited strings themselves are left as they were, for any reader
  // that held on to them.
  EXPECT_EQ(std::string(hostile_[0]), "LD_PRELOAD=/Users/mallory/pwn.so");
}

TEST_F(ProcessEnvironment, EveryChildStartsCleanWhateverTheProcessHolds) {
  ChildOutcome outcome = runChild("/usr/bin/env", {}, ErrorStream::intoOutput);
  EXPECT_EQ(outcome.output, kSearchPath + "\n");
  EXPECT_TRUE(exitedCleanly(outcome.waitStatus));

  // Nor does an edit of the process's own environment after the swap reach one.
  replaceEnvironment();
  ASSERT_EQ(::setenv("BASH_ENV", "/Users/mallory/rc", 1), 0);
  ASSERT_EQ(::unsetenv("PATH"), 0);
  outcome = runChild("/usr/bin/env", {}, ErrorStream::intoOutput);
  EXPECT_EQ(outcome.output, kSearchPath + "\n");
}

}  // namespace
}  // namespace corvel
