#include <gtest/gtest.h>

#include <string>

#include "verify/sha256.h"

namespace corvel {
namespace {

struct Vector {
  std::string input;
  const char* digest;
};

// FIPS 180-4 example messages.
TEST(Sha256, MatchesTheStandardsExamples) {
  const Vector vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Vector& vector : vectors) {
    Sha256 sha;
    sha.update(vector.input.data(), vector.input.size());
    EXPECT_EQ(digestText(sha.finish()), vector.digest) << "input of " << vector.input.size() << " bytes";
  }
}

TEST(Sha256, PiecesHashLikeTheWhole) {
  const std::string text = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  Sha256 sha;
  for (const char c : text) sha.update(&c, 1);
  EXPECT_EQ(digestText(sha.finish()), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(DigestText, WritesTwoLowercaseDigitsPerByteWithLeadingZero) {
  Sha256Digest digest{};
  digest[0] = 10;
  digest[1] = 255;
  digest[31] = 0xA5;
  const std::string text = digestText(digest);
  EXPECT_EQ(text.size(), 64u);
  EXPECT_EQ(text.substr(0, 4), "0aff");
  EXPECT_EQ(text.substr(60), "00a5");
}

}  // namespace
}  // namespace corvel
