#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "common/install_failure.h"
#include "tests/support/recording_runner.h"
#include "tests/support/scratch.h"
#include "verify/build_manifest.h"
#include "verify/payload_validation.h"

namespace corvel {
namespace {
namespace fs = std::filesystem;

constexpr const char* kInvalid = "安装文件无效，请重新下载完整安装包。";
constexpr const char* kUnsupported = "安装文件包含不支持的文件类型，请重新下载。";
constexpr const char* kMismatch = "安装文件的校验值不符，请重新下载完整安装包。";
constexpr const char* kIntegrity = "安装文件未通过完整性检查。请重新下载完整安装包。";

// Stands in for /usr/bin/codesign: records each call, then passes or fails.
struct FakeCodesign : testing::RecordingRunner {
  FakeCodesign() {
    answer = [this] {
      if (!accepts) throw InstallFailure(kIntegrity);
      return std::string("ignored output");
    };
  }
  bool accepts = true;
};

class PayloadValidation : public ::testing::Test {
 protected:
  void SetUp() override { testing::copyShippedPayload(payload); }

  // The message of the InstallFailure that validation throws, or "" when it passes.
  std::string outcome() {
    try {
      validatePayload(payload.string(), codesign.runner());
      return "";
    } catch (const InstallFailure& failure) {
      return failure.message;
    }
  }

  testing::ScratchDir scratch;
  fs::path payload = scratch.path() / "Resources/Orlana2ch.driver";
  FakeCodesign codesign;
};

TEST_F(PayloadValidation, TheShippedPayloadPassesAfterOneSignatureCheck) {
  EXPECT_EQ(outcome(), "");
  const std::vector<std::vector<std::string>> expected = {{"/usr/bin/codesign", "--verify", "--deep",
                                                           "--strict", "--test-requirement",
                                                           signatureRequirement(), payload.string()}};
  EXPECT_EQ(codesign.calls, expected);
}

TEST_F(PayloadValidation, InventoryIsKeyedByPathBelowTheRoot) {
  EXPECT_EQ(payloadInventory(payload.string()), BuildManifest::files());
}

TEST_F(PayloadValidation, ExtraEmptyDirectoriesAreAccepted) {
  fs::create_directories(payload / "Contents/Resources/empty/deeper");
  fs::create_directory(payload / ".hidden-empty");
  EXPECT_EQ(outcome(), "");
}

struct Tampering {
  const char* name;
  void (*apply)(const fs::path& payload);
  const char* message;
};

const Tampering kTamperings[] = {
    {"extra file", [](const fs::path& p) { testing::writeFile(p / "Contents/Resources/extra", "x"); },
     kMismatch},
    {"extra dot file at the root", [](const fs::path& p) { testing::writeFile(p / ".DS_Store", ""); },
     kMismatch},
    {"extra dot file deep inside",
     [](const fs::path& p) { testing::writeFile(p / "Contents/MacOS/.orig", ""); }, kMismatch},
    {"missing file", [](const fs::path& p) { fs::remove(p / "Contents/Resources/VERSION"); }, kMismatch},
    {"one changed byte",
     [](const fs::path& p) {
       std::string text = testing::readFile(p / "Contents/Info.plist");
       text[text.size() / 2] ^= 1;
       testing::writeFile(p / "Contents/Info.plist", text);
     },
     kMismatch},
    {"file moved to another directory",
     [](const fs::path& p) { fs::rename(p / "Contents/Resources/LICENSE", p / "Contents/LICENSE"); },
     kMismatch},
    {"symbolic link to a payload file, all files intact",
     [](const fs::path& p) { fs::create_symlink("../Info.plist", p / "Contents/Resources/link"); },
     kUnsupported},
    {"symbolic link replacing a file",
     [](const fs::path& p) {
       fs::remove(p / "Contents/Resources/README.md");
       fs::create_symlink("/etc/hostname", p / "Contents/Resources/README.md");
     },
     kUnsupported},
    {"dangling symbolic link", [](const fs::path& p) { fs::create_symlink("/nowhere", p / "dangling"); },
     kUnsupported},
    {"symbolic link to a directory",
     [](const fs::path& p) { fs::create_directory_symlink("/tmp", p / "Contents/tmp"); }, kUnsupported},
    {"named pipe", [](const fs::path& p) { ASSERT_EQ(::mkfifo((p / "Contents/pipe").c_str(), 0644), 0); },
     kUnsupported},
    {"unsupported entry outranks a digest mismatch",
     [](const fs::path& p) {
       testing::writeFile(p / "Contents/Info.plist", "changed");
       fs::create_symlink("x", p / "zzz-last");
     },
     kUnsupported},
    {"root is a symbolic link to a valid bundle",
     [](const fs::path& p) {
       fs::rename(p, p.parent_path() / "real.driver");
       fs::create_directory_symlink("real.driver", p);
     },
     kInvalid},
    {"root is a regular file",
     [](const fs::path& p) {
       fs::remove_all(p);
       testing::writeFile(p, "not a bundle");
     },
     kInvalid},
};

TEST_F(PayloadValidation, EveryTamperingIsRefusedBeforeTheSignatureCheck) {
  for (const Tampering& tampering : kTamperings) {
    SCOPED_TRACE(tampering.name);
    fs::remove_all(scratch.path() / "Resources");
    testing::copyShippedPayload(payload);
    codesign.calls.clear();
    tampering.apply(payload);
    EXPECT_EQ(outcome(), tampering.message);
    EXPECT_TRUE(codesign.calls.empty());
  }
}

TEST_F(PayloadValidation, ASignatureRefusalIsTheRunnersFailure) {
  codesign.accepts = false;
  EXPECT_EQ(outcome(), kIntegrity);
  EXPECT_EQ(codesign.calls.size(), 1u);
}

TEST_F(PayloadValidation, AMissingPayloadIsThePlatformsErrorNamingIt) {
  fs::remove_all(payload);
  try {
    validatePayload(payload.string(), codesign.runner());
    FAIL();
  } catch (const InstallFailure&) {
    FAIL() << "a missing payload is the platform's error";
  } catch (const std::system_error& error) {
    EXPECT_NE(std::string(error.what()).find(payload.string()), std::string::npos) << error.what();
  }
}

// Unsupported entries stop the walk wherever they sort; which of two kinds of
// failure wins in walk order needs an unreadable file, so the system tests
// show that as the Mac's user.
TEST(PayloadInventory, EachUnsupportedEntryStopsTheWalkUntilNoneIsLeft) {
  const testing::ScratchDir scratch;
  const fs::path root = scratch.path() / "bundle";
  testing::writeFile(root / "a/file", "1");
  fs::create_symlink("x", root / "b-link");
  ASSERT_EQ(::mkfifo((root / "A-pipe").c_str(), 0644), 0);
  try {
    payloadInventory(root.string());
    FAIL();
  } catch (const InstallFailure& failure) {
    EXPECT_EQ(failure.message, kUnsupported);
  }
  // "A-pipe" sorts before "a" and "b-link"; remove it and the link is next.
  fs::remove(root / "A-pipe");
  EXPECT_THROW(payloadInventory(root.string()), InstallFailure);
  fs::remove(root / "b-link");
  EXPECT_EQ(payloadInventory(root.string()).count("a/file"), 1u);
}

}  // namespace
}  // namespace corvel
