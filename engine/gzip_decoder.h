#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <vector>

// A gzip body decoded on its way to the file: the stage behind the framing, so that lengths and
// chunks count the bytes as they came. Members one after another decode as one body. A stream
// that is corrupt, that goes on past its end with what is no member, or that ends inside a
// member makes the body bad. `Next` takes Write(data, length) and says
// Error() when it refuses.
template <typename Next>
class CGzipDecoder {
  public:
    explicit CGzipDecoder(Next& next) : next_(next), out_(kOutputBlock) {
        ready_ = inflateInit2(&stream_, 16 + MAX_WBITS) == Z_OK;  // 16: the gzip wrapper
    }
    ~CGzipDecoder() {
        if (ready_) {
            inflateEnd(&stream_);
        }
    }
    CGzipDecoder(const CGzipDecoder&) = delete;
    CGzipDecoder& operator=(const CGzipDecoder&) = delete;

    // Decodes the bytes into the next stage; false when the stream is bad (Bad()) or the next
    // stage refused.
    bool Write(const void* data, std::size_t length);
    // Whether the stream ended whole, at the end of a member; called once the framing says the
    // body is over.
    bool Ended() const { return ended_; }
    bool Bad() const { return bad_; }
    int Error() const { return next_.Error(); }

  private:
    static constexpr std::size_t kOutputBlock = 64 * 1024;

    bool Refuse() {
        bad_ = true;
        return false;
    }

    Next& next_;
    z_stream stream_{};
    std::vector<unsigned char> out_;
    bool ready_ = false;
    bool ended_ = false;
    bool bad_ = false;
};

template <typename Next>
bool CGzipDecoder<Next>::Write(const void* data, std::size_t length) {
    if (!ready_) {
        return Refuse();
    }
    const auto* in = static_cast<const unsigned char*>(data);
    while (length > 0) {
        const auto piece = static_cast<uInt>(std::min<std::size_t>(length, 1u << 30));
        stream_.next_in = const_cast<unsigned char*>(in);
        stream_.avail_in = piece;
        while (stream_.avail_in > 0 || (!ended_ && stream_.avail_out == 0)) {
            // Bytes after a member's end begin the next member (RFC 1952 section 2.2); anything
            // else there is no gzip, and inflate says so.
            if (ended_) {
                if (inflateReset(&stream_) != Z_OK) {
                    return Refuse();
                }
                ended_ = false;
            }
            stream_.next_out = out_.data();
            stream_.avail_out = static_cast<uInt>(out_.size());
            const int result = inflate(&stream_, Z_NO_FLUSH);
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
                return Refuse();
            }
            const std::size_t produced = out_.size() - stream_.avail_out;
            if (produced > 0 && !next_.Write(out_.data(), produced)) {
                return false;
            }
            ended_ = result == Z_STREAM_END;
            if (result == Z_BUF_ERROR && produced == 0) {
                break;  // all input taken, nothing more to give until more comes
            }
        }
        in += piece;
        length -= piece;
    }
    return true;
}
