#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace corvel {

using Sha256Digest = std::array<std::uint8_t, 32>;

// SHA-256 from the platform's crypto library: CommonCrypto on macOS, OpenSSL's
// libcrypto elsewhere. Begun empty, fed in pieces, finished once.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(const void* data, std::size_t size);
  Sha256Digest finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// 64 lowercase hexadecimal digits, two per byte, in digest order.
std::string digestText(const Sha256Digest& digest);

}  // namespace corvel
