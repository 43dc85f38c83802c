#include <openssl/evp.h>

#include <stdexcept>

#include "verify/sha256.h"

namespace corvel {

struct Sha256::State {
  EVP_MD_CTX* context = nullptr;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->context = EVP_MD_CTX_new();
  if (state_->context == nullptr || EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(state_->context);
    throw std::runtime_error("cannot start a SHA-256 digest (libcrypto)");
  }
}

Sha256::~Sha256() { EVP_MD_CTX_free(state_->context); }

void Sha256::update(const void* data, std::size_t size) {
  if (EVP_DigestUpdate(state_->context, data, size) != 1) {
    throw std::runtime_error("cannot compute a SHA-256 digest (libcrypto)");
  }
}

Sha256Digest Sha256::finish() {
  Sha256Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(state_->context, digest.data(), &length) != 1 || length != digest.size()) {
    throw std::runtime_error("cannot finish a SHA-256 digest (libcrypto)");
  }
  return digest;
}

}  // namespace corvel
