#include <openssl/evp.h>

#include <new>

#include "engine/sha1.h"

struct CSha1::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(context); }
};

CSha1::CSha1() : state_(std::make_unique<State>()) {
    if (state_->context == nullptr ||
        EVP_DigestInit_ex(state_->context, EVP_sha1(), nullptr) != 1) {
        throw std::bad_alloc();
    }
}

CSha1::~CSha1() = default;

void CSha1::Update(const void* data, std::size_t length) {
    EVP_DigestUpdate(state_->context, data, length);
}

CSha1::Digest CSha1::Finish() {
    Digest digest{};
    EVP_DigestFinal_ex(state_->context, digest.data(), nullptr);
    EVP_DigestInit_ex(state_->context, EVP_sha1(), nullptr);
    return digest;
}
