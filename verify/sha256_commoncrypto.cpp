#include <CommonCrypto/CommonDigest.h>

#include <limits>

#include "verify/sha256.h"

namespace corvel {

struct Sha256::State {
  CC_SHA256_CTX context;
};

Sha256::Sha256() : state_(std::make_unique<State>()) { CC_SHA256_Init(&state_->context); }

Sha256::~Sha256() = default;

void Sha256::update(const void* data, std::size_t size) {
  // CC_SHA256_Update takes a 32-bit length; feed larger pieces in parts.
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const auto piece = static_cast<CC_LONG>(
        size < std::numeric_limits<CC_LONG>::max() ? size : std::numeric_limits<CC_LONG>::max());
    CC_SHA256_Update(&state_->context, bytes, piece);
    bytes += piece;
    size -= piece;
  }
}

Sha256Digest Sha256::finish() {
  Sha256Digest digest{};
  CC_SHA256_Final(digest.data(), &state_->context);
  return digest;
}

}  // namespace corvel
