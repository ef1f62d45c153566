#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/tcp_client.h"

// Reads one HTTP response into a local file, one 512-byte block at a time.
class CHttpSocket : public CTcpClient {
  public:
    static constexpr int kBlockSize = 512;

    // Takes the first block, checks its status (200..300) and header end, creates the file with
    // the body bytes of that block, then appends the rest until the peer closes. Returns 1 when
    // the document was stored whole. Failures before the file is opened leave the file system
    // untouched; failures after it (a receive, a write, a body shorter than its Content-Length)
    // delete the file.
    int ReceiveResponse(const char* path, int timeout, const char* mode);

    // Appends received blocks to the file until the peer closes (1) or a wait, receive, write or
    // the close fails (0). Adds the bytes stored to *bytesWritten when given. Passes a checkpoint
    // before every block, so the calling thread can be held between blocks.
    int ReceiveToFile(const char* path, int timeout, const char* mode,
                      std::int64_t* bytesWritten = nullptr);

    // The status code: at most three characters after the first space, read like atoi.
    static int ParseStatusCode(const char* bytes, int count);
    // Offset just after the first CR LF CR LF, or -1 when the bytes hold none.
    static int FindHeaderEnd(const char* bytes, int count);
    // The Content-Length of a header block of `count` bytes, or -1 when it names none.
    static std::int64_t ParseContentLength(const char* bytes, int count);

  private:
    // Receives until the peer closes, appending to the open file and closing it; see
    // ReceiveToFile.
    int ReceiveBody(std::FILE* file, int timeout, std::int64_t* bytesWritten);
};
