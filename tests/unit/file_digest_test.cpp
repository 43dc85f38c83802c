#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "tests/support/scratch.h"
#include "tests/support/system_call_faults.h"
#include "verify/file_digest.h"
#include "verify/sha256.h"

namespace corvel {
namespace {

TEST(FileDigest, StreamsFilesLargerThanOneRead) {
  const testing::ScratchDir scratch;
  // Many reads' worth and a tail, so piece boundaries fall inside the file.
  const std::string contents(3 * (1 << 20) + 12345, 'a');
  testing::writeFile(scratch / "big", contents);
  Sha256 whole;
  whole.update(contents.data(), contents.size());
  EXPECT_EQ(fileDigest(scratch / "big"), digestText(whole.finish()));
}

TEST(FileDigest, RefusesSymbolicLinksAndMissingFiles) {
  const testing::ScratchDir scratch;
  testing::writeFile(scratch / "file", "x");
  std::filesystem::create_symlink(scratch / "file", scratch / "link");
  EXPECT_THROW(fileDigest(scratch / "link"), std::system_error);
  EXPECT_THROW(fileDigest(scratch / "missing"), std::system_error);
}

// The walk examined a regular file; by the time it is read, a named pipe may
// stand there instead. Opening it must neither block nor hash it.
TEST(FileDigest, RefusesANamedPipeWithoutWaitingForAWriter) {
  const testing::ScratchDir scratch;
  ASSERT_EQ(::mkfifo((scratch / "pipe").c_str(), 0644), 0);
  try {
    fileDigest(scratch / "pipe");
    FAIL() << "a named pipe was hashed";
  } catch (const std::system_error& error) {
    EXPECT_NE(std::string(error.what()).find("not a regular file"), std::string::npos) << error.what();
  }
}

TEST(FileDigest, HashesTheWholeFileThroughInterruptedAndShortReads) {
  const testing::ScratchDir scratch;
  testing::writeFile(scratch / "file", std::string(70000, 'x') + "end");
  const std::string expected = fileDigest(scratch / "file");
  for (const auto fault :
       {testing::ReadFault::interruptedEveryOtherCall, testing::ReadFault::oneByteAtATime}) {
    testing::SystemCallFaults faults;
    faults.calls().read = testing::faultyRead(fault);
    EXPECT_EQ(fileDigest(scratch / "file"), expected) << static_cast<int>(fault);
  }
}

TEST(FileDigest, AFailedReadIsThePlatformsErrorNamingTheFile) {
  const testing::ScratchDir scratch;
  testing::writeFile(scratch / "file", "x");
  testing::SystemCallFaults faults;
  faults.calls().read = testing::faultyRead(testing::ReadFault::inputOutputError);
  try {
    fileDigest(scratch / "file");
    FAIL() << "no error";
  } catch (const std::system_error& error) {
    EXPECT_EQ(error.code().value(), EIO);
    EXPECT_NE(std::string(error.what()).find(scratch / "file"), std::string::npos) << error.what();
  }
}

}  // namespace
}  // namespace corvel
