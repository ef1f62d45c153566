#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

// The chunked framing of an HTTP/1.1 body taken off, as a stage in front of the file: sizes in
// hex with any extensions, each chunk's data passed on, its CR LF checked, and the trailer
// fields after the last chunk read and dropped. A size line or trailer that breaks the framing,
// or a line end that is not CR LF, makes the body bad. `Next` takes Write(data, length) and says
// Error() when it refuses.
template <typename Next>
class CChunkedDecoder {
  public:
    explicit CChunkedDecoder(Next& next) : next_(next) {}

    // Decodes the bytes; false when they break the framing (Bad()) or the next stage refused.
    // Bytes after the end of the body are not part of it and are ignored.
    bool Write(const void* data, std::size_t length);
    // True once the last chunk and the trailers have ended.
    bool Done() const { return state_ == State::kDone; }
    bool Bad() const { return bad_; }
    // Whether bytes came after the end of the body, and how many.
    bool Overran() const { return overran_; }
    std::size_t OverranBytes() const { return overranBytes_; }
    int Error() const { return next_.Error(); }

  private:
    enum class State {
        kSize,
        kExtension,
        kSizeEnd,
        kData,
        kDataCr,
        kDataLf,
        kTrailer,
        kTrailerEnd,
        kDone
    };
    // A size of more than 15 hex digits is no chunk of ours; trailers have the head's 64 KiB.
    static constexpr int kMaxSizeDigits = 15;
    static constexpr std::size_t kMaxTrailerBytes = 64 * 1024;

    bool Refuse() {
        bad_ = true;
        return false;
    }
    // Takes the one byte the framing allows here and moves on, or refuses.
    bool Expect(char c, char wanted, State next) {
        if (c != wanted) {
            return Refuse();
        }
        state_ = next;
        return true;
    }

    Next& next_;
    State state_ = State::kSize;
    std::uint64_t left_ = 0;  // of the current chunk's data, or its size while it is read
    int digits_ = 0;
    bool trailerLineEmpty_ = true;
    std::size_t trailerBytes_ = 0;
    bool bad_ = false;
    bool overran_ = false;
    std::size_t overranBytes_ = 0;
};

template <typename Next>
bool CChunkedDecoder<Next>::Write(const void* data, std::size_t length) {
    const char* bytes = static_cast<const char*>(data);
    const char* const end = bytes + length;
    while (bytes < end && !bad_) {
        const char c = *bytes;
        switch (state_) {
            case State::kSize: {
                const int digit = c >= '0' && c <= '9'   ? c - '0'
                                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                         : -1;
                if (digit >= 0) {
                    if (++digits_ > kMaxSizeDigits) {
                        return Refuse();
                    }
                    left_ = left_ * 16 + static_cast<std::uint64_t>(digit);
                } else if (digits_ == 0) {
                    return Refuse();
                } else if (c == ';' || c == ' ' || c == '\t') {
                    state_ = State::kExtension;
                } else if (c == '\r') {
                    state_ = State::kSizeEnd;
                } else {
                    return Refuse();
                }
                ++bytes;
                break;
            }
            case State::kExtension:
                if (c == '\n') {
                    return Refuse();  // a line end without its CR
                }
                state_ = c == '\r' ? State::kSizeEnd : State::kExtension;
                ++bytes;
                break;
            case State::kSizeEnd:
                if (!Expect(c, '\n', left_ == 0 ? State::kTrailer : State::kData)) {
                    return false;
                }
                ++bytes;
                digits_ = 0;
                trailerLineEmpty_ = true;
                break;
            case State::kData: {
                const std::size_t take =
                    static_cast<std::size_t>(std::min<std::uint64_t>(left_, end - bytes));
                if (!next_.Write(bytes, take)) {
                    return false;
                }
                bytes += take;
                left_ -= take;
                if (left_ == 0) {
                    state_ = State::kDataCr;
                }
                break;
            }
            case State::kDataCr:
            case State::kDataLf:
                if (!Expect(c, state_ == State::kDataCr ? '\r' : '\n',
                            state_ == State::kDataCr ? State::kDataLf : State::kSize)) {
                    return false;
                }
                ++bytes;
                break;
            case State::kTrailer:
                if (++trailerBytes_ > kMaxTrailerBytes || c == '\n') {
                    return Refuse();
                }
                if (c == '\r') {
                    state_ = State::kTrailerEnd;
                } else {
                    trailerLineEmpty_ = false;
                }
                ++bytes;
                break;
            case State::kTrailerEnd:
                if (!Expect(c, '\n', trailerLineEmpty_ ? State::kDone : State::kTrailer)) {
                    return false;
                }
                ++bytes;
                trailerLineEmpty_ = true;
                break;
            case State::kDone:
                overran_ = true;
                overranBytes_ += static_cast<std::size_t>(end - bytes);
                return true;
        }
    }
    return !bad_;
}
