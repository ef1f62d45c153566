#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/tcp_client.h"
#include "support/output_file.h"

// Reads one HTTP response into a local file, over a plain connection or a TLS one. The header
// block is read across as many receives as it takes, up to 64 KiB; the body is read in large
// blocks and written straight to the file.
class CHttpSocket : public CTcpClient {
  public:
    // The size of each body read, and so of the largest first read of a response.
    static constexpr std::size_t kBodyBlockSize = 256 * 1024;
    // The longest header block accepted, its blank line included.
    static constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

    // Reads the head, checks its status (200..300), writes the body into a file that takes the
    // name `path` only once it is whole (see CWholeFile). A Content-Length ends the body when it
    // is reached; without one the body ends when the server closes. Returns 1 when the document
    // was stored. Failures before the body leave the file system untouched; failures after it (a
    // receive, a write, a body shorter than its Content-Length, a TLS connection cut without its
    // close) leave nothing behind, and an older copy at `path` stays as it was.
    int ReceiveResponse(const char* path, WaitLimit limit);

    // Asks the proxy at the other end for a tunnel to `authority` ("host:port"), sending
    // `authorization` when given; 1 once it answered 2xx.
    int OpenTunnel(const std::string& authority, const std::string& authorization, WaitLimit limit);

    // The status code: the three characters after the first space, or -1 when they are not
    // three digits.
    static int ParseStatusCode(const char* bytes, int count);
    // Offset just after the first CR LF CR LF, or -1 when the bytes hold none.
    static int FindHeaderEnd(const char* bytes, int count);
    // What ParseContentLength gives for lengths that cannot be believed.
    static constexpr std::int64_t kBadContentLength = -2;
    // The Content-Length of a header block of `count` bytes: -1 when it names none, and
    // kBadContentLength when a value is not a plain decimal number within 63 bits, or when its
    // lines (or the comma-separated values of one line) differ. Equal repeats are one length.
    static std::int64_t ParseContentLength(const char* bytes, int count);
    // The value of the first header line called `name` (lower case, without the colon), without
    // the blanks around it; none when the block has no such line.
    static std::optional<std::string_view> HeaderValue(const char* bytes, int count,
                                                       const char* name);
    // Calls `take` with the value of every header line called `name`, in order, until it
    // returns false.
    template <typename Take>
    static void ForEachHeaderValue(const char* bytes, int count, const char* name, Take take);

  private:
    // Keeps the wait a 429 or 503 answer asks for, when its head names one.
    void NoteRetryAfter(const char* head, int count);
    // Receives until `bytes` holds a whole header block; returns its length, or -1 (failure
    // set). What follows the block in `bytes` is the start of the body.
    int ReadHead(std::string& bytes, WaitLimit limit);
    // Receives into the open file until the peer closes or, with a `length` of 0 or more, until
    // that many bytes are stored. Passes a checkpoint before every block, so the calling thread
    // can be held between blocks.
    template <typename File>
    int ReceiveBody(File& file, WaitLimit limit, std::int64_t* bytesWritten,
                    std::int64_t length = -1);
};
