// The build step that derives the manifest from the payload: it stops the
// build, with a message that says why, for any payload the installer could
// not accept.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <functional>
#include <string>

#include "tests/support/scratch.h"
#include "verify/build_manifest.h"
#include "verify/child_process.h"
#include "verify/file_digest.h"
#include "verify/signature_requirement.h"

namespace corvel {
namespace {
namespace fs = std::filesystem;

struct Generated {
  int status;
  std::string output;
};

Generated generate(const fs::path& payload, const fs::path& out) {
  const ChildOutcome child = runChild(
      CORVEL_GENERATOR, {payload.string(), (out / "data.h").string(), (out / "requirement.txt").string()},
      ErrorStream::intoOutput);
  return {WIFEXITED(child.waitStatus) ? WEXITSTATUS(child.waitStatus) : -1, child.output};
}

// An Info.plist whose top-level dictionary names `identifier`, with a
// nested dictionary before it that names another.
std::string infoPlistWithNestedIdentifierFirst(const std::string& identifier) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
         "\t<key>CFBundleDocumentTypes</key>\n\t<dict>\n"
         "\t\t<key>CFBundleIdentifier</key>\n\t\t<string>com.example.nested</string>\n\t</dict>\n"
         "\t<key>CFBundleIdentifier</key>\n\t<string>" +
         identifier + "</string>\n</dict>\n</plist>\n";
}

// Rewrites the payload's Info.plist in the binary form, as
// `plutil -convert binary1` does on a Mac.
void convertInfoPlistToBinary(const fs::path& payload) {
  const fs::path plist = payload / "Contents/Info.plist";
  const fs::path binary = payload / "Info.plist.binary";
  const ChildOutcome child =
      runChild("/usr/bin/plistutil", {"-i", plist.string(), "-o", binary.string(), "-f", "bin"},
               ErrorStream::intoOutput);
  ASSERT_TRUE(exitedCleanly(child.waitStatus))
      << "plistutil (Debian package libplist-utils): " << child.output;
  ASSERT_EQ(testing::readFile(binary).substr(0, 8), "bplist00");
  fs::rename(binary, plist);
}

struct BadPayload {
  const char* name;
  std::function<void(const fs::path&)> arrange;
  const char* says;
};

TEST(GenerateManifest, StopsTheBuildForAPayloadTheInstallerWouldRefuse) {
  const BadPayload cases[] = {
      {"symbolic link", [](const fs::path& p) { fs::create_symlink("Info.plist", p / "Contents/link"); },
       "Contents/link is neither a directory nor a regular file"},
      {"named pipe", [](const fs::path& p) { ASSERT_EQ(::mkfifo((p / "Contents/pipe").c_str(), 0644), 0); },
       "Contents/pipe is neither a directory nor a regular file"},
      {"extra file", [](const fs::path& p) { testing::writeFile(p / "Contents/Resources/.DS_Store", ""); },
       "not expected: Contents/Resources/.DS_Store"},
      {"missing file", [](const fs::path& p) { fs::remove(p / "Contents/Resources/LICENSE"); },
       "missing: Contents/Resources/LICENSE"},
      {"no bundle identifier",
       [](const fs::path& p) { testing::writeFile(p / "Contents/Info.plist", "<plist><dict/></plist>"); },
       "no CFBundleIdentifier can be read"},
      {"Info.plist that is no property list",
       [](const fs::path& p) { testing::writeFile(p / "Contents/Info.plist", "CFBundleIdentifier = a.b\n"); },
       "no CFBundleIdentifier can be read"},
      {"binary Info.plist cut short",
       [](const fs::path& p) {
         convertInfoPlistToBinary(p);
         const std::string binary = testing::readFile(p / "Contents/Info.plist");
         testing::writeFile(p / "Contents/Info.plist", binary.substr(0, binary.size() / 2));
       },
       "no CFBundleIdentifier can be read"},
      {"top level that is no dictionary",
       [](const fs::path& p) {
         testing::writeFile(p / "Contents/Info.plist",
                            "<plist><array><dict><key>CFBundleIdentifier</key><string>a.b</string></dict>"
                            "</array></plist>");
       },
       "no CFBundleIdentifier can be read"},
      {"identifier only in a nested dictionary",
       [](const fs::path& p) {
         testing::writeFile(p / "Contents/Info.plist",
                            "<plist><dict><key>CFPlugInFactories</key><dict><key>CFBundleIdentifier</key>"
                            "<string>a.b</string></dict></dict></plist>");
       },
       "no CFBundleIdentifier can be read"},
      {"identifier that is no string",
       [](const fs::path& p) {
         testing::writeFile(p / "Contents/Info.plist",
                            "<plist><dict><key>CFBundleIdentifier</key><array><string>a.b</string></array>"
                            "</dict></plist>");
       },
       "no CFBundleIdentifier can be read"},
      {"identifier that is no reverse-DNS name",
       [](const fs::path& p) {
         testing::writeFile(p / "Contents/Info.plist",
                            "<dict><key>CFBundleIdentifier</key><string>a\" or \"b</string></dict>");
       },
       "is not a reverse-DNS name"},
      {"root is a file",
       [](const fs::path& p) {
         fs::remove_all(p);
         testing::writeFile(p, "");
       },
       "is not a directory"},
  };
  for (const BadPayload& c : cases) {
    SCOPED_TRACE(c.name);
    const testing::ScratchDir scratch;
    const fs::path payload = scratch.path() / "Orlana2ch.driver";
    testing::copyShippedPayload(payload);
    c.arrange(payload);
    const Generated result = generate(payload, scratch.path() / "out");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.output.find(c.says), std::string::npos) << result.output;
    EXPECT_FALSE(fs::exists(scratch.path() / "out/data.h"));
  }
}

struct IdentifiedPayload {
  const char* name;
  std::function<void(const fs::path&)> arrange;
  const char* identifier;
};

TEST(GenerateManifest, PutsTheTopLevelIdentifierIntoTheRequirement) {
  const IdentifiedPayload cases[] = {
      {"shipped Info.plist", [](const fs::path&) {}, "com.tessarocorvel.audio.Orlana2ch"},
      {"binary Info.plist", convertInfoPlistToBinary, "com.tessarocorvel.audio.Orlana2ch"},
      {"nested identifier before the top-level one",
       [](const fs::path& p) {
         testing::writeFile(p / "Contents/Info.plist",
                            infoPlistWithNestedIdentifierFirst("com.example.driver"));
       },
       "com.example.driver"},
      {"binary, nested identifier before the top-level one",
       [](const fs::path& p) {
         testing::writeFile(p / "Contents/Info.plist",
                            infoPlistWithNestedIdentifierFirst("com.example.driver"));
         convertInfoPlistToBinary(p);
       },
       "com.example.driver"},
  };
  for (const IdentifiedPayload& c : cases) {
    SCOPED_TRACE(c.name);
    const testing::ScratchDir scratch;
    const fs::path payload = scratch.path() / "Orlana2ch.driver";
    testing::copyShippedPayload(payload);
    c.arrange(payload);
    const Generated result = generate(payload, scratch.path() / "out");
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(testing::readFile(scratch.path() / "out/requirement.txt"),
              signatureRequirementFor(BuildManifest::teamIdentifier, c.identifier) + "\n");
    EXPECT_NE(testing::readFile(scratch.path() / "out/data.h")
                  .find("kBundleIdentifier = \"" + std::string(c.identifier) + "\";"),
              std::string::npos);
  }
}

TEST(GenerateManifest, WritesTheDigestsAndRewritesOnlyWhatChanged) {
  const testing::ScratchDir scratch;
  const fs::path payload = scratch.path() / "Orlana2ch.driver";
  testing::copyShippedPayload(payload);
  const fs::path header = scratch.path() / "out/data.h";
  ASSERT_EQ(generate(payload, scratch.path() / "out").status, 0);
  const std::string first = testing::readFile(header);
  EXPECT_NE(first.find(fileDigest((payload / "Contents/Resources/VERSION").string())), std::string::npos);
  EXPECT_NE(first.find("com.tessarocorvel.audio.Orlana2ch"), std::string::npos);

  // Unchanged payload: the header is left alone, so nothing depending on it rebuilds.
  const auto stamp = fs::last_write_time(header);
  ASSERT_EQ(generate(payload, scratch.path() / "out").status, 0);
  EXPECT_EQ(fs::last_write_time(header), stamp);

  testing::writeFile(payload / "Contents/Resources/VERSION", "9.9.9\n");
  ASSERT_EQ(generate(payload, scratch.path() / "out").status, 0);
  EXPECT_NE(testing::readFile(header).find(fileDigest((payload / "Contents/Resources/VERSION").string())),
            std::string::npos);
}

}  // namespace
}  // namespace corvel
