#pragma once

#include <array>
#include <cstddef>
#include <memory>

// SHA-1, the digest that web archives name their records and payloads by. The system's own
// implementation (OpenSSL here, CNG on Windows), which uses the processor's SHA instructions
// where it has them: an archive hashes every byte a run receives twice.
class CSha1 {
  public:
    using Digest = std::array<unsigned char, 20>;

    CSha1();
    ~CSha1();
    CSha1(const CSha1&) = delete;
    CSha1& operator=(const CSha1&) = delete;

    void Update(const void* data, std::size_t length);
    // The digest of everything given so far; the hash starts anew after it.
    Digest Finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};
