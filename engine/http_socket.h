#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/tcp_client.h"
#include "support/output_file.h"

// Reads one HTTP response into a local file. The status and the end of the header block are
// looked for in a first block of at most 512 bytes; the body after it is read in large blocks.
class CHttpSocket : public CTcpClient {
  public:
    static constexpr int kBlockSize = 512;
    // The size of each body read after the first block.
    static constexpr std::size_t kBodyBlockSize = 256 * 1024;

    // Takes the first block, checks its status (200..300) and header end, writes the body into a
    // file that takes the name `path` only once it is whole (see CWholeFile). Returns 1 when the
    // document was stored. Failures before the body leave the file system untouched; failures
    // after it (a receive, a write, a body shorter than its Content-Length) leave nothing behind,
    // and an older copy at `path` stays as it was.
    int ReceiveResponse(const char* path, int timeout, const char* mode);

    // Appends received blocks to the file until the peer closes (1) or a wait, receive, write or
    // the close fails (0). Adds the bytes stored to *bytesWritten when given.
    int ReceiveToFile(const char* path, int timeout, const char* mode,
                      std::int64_t* bytesWritten = nullptr);

    // The status code: at most three characters after the first space, read like atoi.
    static int ParseStatusCode(const char* bytes, int count);
    // Offset just after the first CR LF CR LF, or -1 when the bytes hold none.
    static int FindHeaderEnd(const char* bytes, int count);
    // The Content-Length of a header block of `count` bytes, or -1 when it names none.
    static std::int64_t ParseContentLength(const char* bytes, int count);

  private:
    // Receives until the peer closes, appending to the open file. Passes a checkpoint before every
    // block, so the calling thread can be held between blocks.
    template <typename File>
    int ReceiveBody(File& file, int timeout, std::int64_t* bytesWritten);
};
