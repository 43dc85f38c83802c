#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/scratch.h"
#include "verify/build_manifest.h"
#include "verify/file_digest.h"

namespace corvel {
namespace {

TEST(BuildManifest, HoldsTheEightShippedFilesWithTheirDigests) {
  const auto& files = BuildManifest::files();
  ASSERT_EQ(files.size(), 8u);
  for (const auto& [path, digest] : files) {
    EXPECT_EQ(digest.size(), 64u) << path;
    EXPECT_TRUE(std::all_of(digest.begin(), digest.end(), [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    })) << path;
    // Derived from the very payload in the source tree.
    EXPECT_EQ(digest, fileDigest((testing::shippedPayload() / path).string())) << path;
  }
  EXPECT_EQ(BuildManifest::files(), files);
}

TEST(SignatureRequirement, IsTheDeveloperIdRuleForTheTeamAndThePayloadsIdentifier) {
  const std::string& requirement = signatureRequirement();
  // The leading "=" makes codesign read the argument as requirement text.
  EXPECT_EQ(
      requirement,
      "=anchor apple generic and certificate 1[field.1.2.840.113635.100.6.2.6] exists and certificate "
      "leaf[field.1.2.840.113635.100.6.1.13] exists and certificate leaf[subject.OU] = \"K7QZ2RM4TD\" and "
      "identifier \"" +
          std::string(BuildManifest::bundleIdentifier()) + "\"");
  EXPECT_EQ(signatureRequirement(), requirement);
  // The identifier is the one in the shipped payload's Info.plist.
  EXPECT_NE(testing::readFile(testing::shippedPayload() / "Contents/Info.plist")
                .find("<string>" + std::string(BuildManifest::bundleIdentifier()) + "</string>"),
            std::string::npos);
}

}  // namespace
}  // namespace corvel
