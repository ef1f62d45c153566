#include <windows.h>
// clang-format off
#include <bcrypt.h>
// clang-format on

#include <new>

#include "engine/sha1.h"

namespace {

// The provider is opened once for the process and shared by every hash, as CNG allows.
BCRYPT_ALG_HANDLE Sha1Provider() {
    static const BCRYPT_ALG_HANDLE provider = [] {
        BCRYPT_ALG_HANDLE opened = nullptr;
        return BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA1_ALGORITHM, nullptr, 0) == 0
                   ? opened
                   : nullptr;
    }();
    return provider;
}

}  // namespace

struct CSha1::State {
    BCRYPT_HASH_HANDLE hash = nullptr;
    ~State() { Close(); }
    void Close() {
        if (hash != nullptr) {
            BCryptDestroyHash(hash);
            hash = nullptr;
        }
    }
    bool Open() {
        return Sha1Provider() != nullptr &&
               BCryptCreateHash(Sha1Provider(), &hash, nullptr, 0, nullptr, 0, 0) == 0;
    }
};

CSha1::CSha1() : state_(std::make_unique<State>()) {
    if (!state_->Open()) {
        throw std::bad_alloc();
    }
}

CSha1::~CSha1() = default;

void CSha1::Update(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const ULONG piece = length > 0x40000000 ? 0x40000000 : static_cast<ULONG>(length);
        BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), piece, 0);
        bytes += piece;
        length -= piece;
    }
}

CSha1::Digest CSha1::Finish() {
    Digest digest{};
    BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
    // A finished hash takes no more data: the next one is a new object.
    state_->Close();
    if (!state_->Open()) {
        throw std::bad_alloc();
    }
    return digest;
}
