#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include "common/install_failure.h"
#include "tests/support/system_call_faults.h"
#include "verify/run.h"

namespace corvel {
namespace {

std::string shell(const std::string& script) { return run("/bin/sh", {"-c", script}); }

TEST(Run, ReturnsBothStreamsInTheOrderWrittenTrimmed) {
  EXPECT_EQ(shell("printf 'arm64\\n'"), "arm64");
  EXPECT_EQ(shell("true"), "");
  EXPECT_EQ(shell("printf ' \\t\\n\\r\\n  '"), "");
  EXPECT_EQ(shell("echo out; echo err >&2; echo out2"), "out\nerr\nout2");
  EXPECT_EQ(shell("printf '  inner  space  \\n'"), "inner  space");
}

TEST(Run, HandsArgumentsOverAsSeparateWordsUnexpanded) {
  EXPECT_EQ(run("/bin/sh", {"-c", "printf '[%s]' \"$@\"", "sh", "a b", "$HOME", "'\"", ""}),
            "[a b][$HOME]['\"][]");
}

TEST(Run, ReadsOutputLargerThanAPipeWhileTheChildRuns) {
  const std::string output =
      shell("i=0; while [ $i -lt 4000 ]; do echo 0123456789012345678901234567890123456789; i=$((i+1)); done");
  EXPECT_EQ(output.size(), 4000u * 41 - 1);
}

TEST(Run, NonZeroStatusIsTheIntegrityFailureNotTheOutput) {
  for (const char* script : {"echo arm64; exit 1", "exit 3", "kill -TERM $$"}) {
    try {
      shell(script);
      ADD_FAILURE() << script << " did not throw";
    } catch (const InstallFailure& failure) {
      EXPECT_EQ(failure.message, "安装文件未通过完整性检查。请重新下载完整安装包。") << script;
    }
  }
}

TEST(Run, AProgramThatCannotStartIsThePlatformsError) {
  try {
    run("/nonexistent/uname", {"-m"});
    FAIL() << "no error";
  } catch (const InstallFailure&) {
    FAIL() << "a launch failure is not an InstallFailure";
  } catch (const std::system_error& error) {
    EXPECT_NE(std::string(error.what()).find("/nonexistent/uname"), std::string::npos) << error.what();
  }
}

std::size_t openDescriptors() {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                std::filesystem::directory_iterator()));
}

TEST(Run, ReadsTheWholeOutputThroughInterruptedAndShortReads) {
  const std::string script = "i=0; while [ $i -lt 200 ]; do echo line $i; i=$((i+1)); done";
  const std::string expected = shell(script);
  for (const auto fault :
       {testing::ReadFault::interruptedEveryOtherCall, testing::ReadFault::oneByteAtATime}) {
    testing::SystemCallFaults faults;
    faults.calls().read = testing::faultyRead(fault);
    EXPECT_EQ(shell(script), expected) << static_cast<int>(fault);
  }
}

TEST(Run, AFailedReadIsThePlatformsErrorAndLeavesNothingOpen) {
  const std::size_t before = openDescriptors();
  testing::SystemCallFaults faults;
  faults.calls().read = testing::faultyRead(testing::ReadFault::inputOutputError);
  try {
    shell("echo arm64");
    FAIL() << "no error";
  } catch (const InstallFailure&) {
    FAIL() << "a read error is not an InstallFailure";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().value(), EIO);
    EXPECT_NE(std::string(error.what()).find("cannot read a child process's output"), std::string::npos);
  }
  EXPECT_EQ(openDescriptors(), before);
}

TEST(Run, ASpawnThatFailsIsThePlatformsErrorNamingTheProgram) {
  const std::size_t before = openDescriptors();
  testing::SystemCallFaults faults;
  faults.calls().spawn = [](pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
                            char* const*, char* const*) { return EAGAIN; };
  try {
    run("/usr/bin/uname", {"-m"});
    FAIL() << "no error";
  } catch (const InstallFailure&) {
    FAIL() << "a launch failure is not an InstallFailure";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().value(), EAGAIN);
    EXPECT_NE(std::string(error.what()).find("/usr/bin/uname"), std::string::npos) << error.what();
  }
  EXPECT_EQ(openDescriptors(), before);
}

struct DecodeCase {
  std::string bytes;
  std::string text;
};

TEST(DecodedAndTrimmed, RepairsIllFormedUtf8AndTrimsUnicodeSpace) {
  const std::string fffd = "\xEF\xBF\xBD";
  const DecodeCase cases[] = {
      {"a\xFF"
       "b",
       "a" + fffd + "b"},
      {"\xFF", fffd},
      {"\xC3", fffd},  // truncated two-byte sequence
      {"\xE4\xB8"
       "x",
       fffd + "x"},                                     // truncated three-byte: one U+FFFD
      {"\xC0\xAF", fffd + fffd},                        // overlong: each byte
      {"\xE0\x80\xAF", fffd + fffd + fffd},             // overlong three-byte form: each byte
      {"\xED\xA0\x80", fffd + fffd + fffd},             // surrogate
      {"\xF4\x90\x80\x80", fffd + fffd + fffd + fffd},  // above U+10FFFF
      {"\xE4\xB8\xAD\xE6\x96\x87", "中文"},
      {"\xE3\x80\x80"
       "x"
       "\xC2\x85",
       "x"},  // U+3000 and U+0085 trimmed
      {"\xE2\x80\xA8"
       "x\xE2\x80\xA9",
       "x"},  // line and paragraph separators
      {"\xC2\xA0"
       "a b\xE2\x80\x8B",
       "a b\xE2\x80\x8B"},  // zero-width space is not white space
      {"\v\f x \t", "x"},
  };
  for (const DecodeCase& c : cases) EXPECT_EQ(decodedAndTrimmed(c.bytes), c.text) << c.bytes;
}

}  // namespace
}  // namespace corvel
