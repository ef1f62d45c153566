#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/http_request.h"
#include "engine/page_rules.h"
#include "engine/response_head.h"
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
    // Interim answers (100 Continue, 103 Early Hints) skipped before the real one, at most.
    static constexpr int kMostInterimAnswers = 10;

    // Reads the head, skipping interim answers, checks its status (200..300; a redirect fails
    // with its Location as the failure's text), writes the body into a file that takes the
    // name `path` only once it is whole (see CWholeFile). A chunked body ends with its last
    // chunk, one with a Content-Length when that is reached, a 204 or 304 at its blank line;
    // without either the body ends when the server closes. Returns 1 when the document was
    // stored. Failures before the body leave the file system untouched; failures after it (a
    // receive, a write, a body shorter than its framing or longer than the document limit, a TLS
    // connection cut without its close) leave nothing behind, and an older copy at `path` stays
    // as it was.
    // With `rules`, a page they mark missing (judged by the URL `url` it came from) fails with
    // kMissingPage and leaves nothing behind either.
    int ReceiveResponse(const char* path, WaitLimit limit, const PageRules* rules = nullptr,
                        const std::string& url = {});
    // The same answer read as far as `room` decoded bytes, the first PageRules::kBodySearched
    // of them into `sample`, and no further; nothing is stored. 1 when the answer was a
    // document that the rules do not mark missing.
    int SampleResponse(PageSample& sample, WaitLimit limit, const PageRules* rules,
                       const std::string& url, std::size_t room = PageRules::kBodySearched);
    // The most decoded bytes a document may have (HttpOptions::maxDocumentBytes).
    void SetDocumentLimit(std::int64_t bytes) { documentLimit_ = bytes; }

    // After ReceiveResponse: whether the connection may carry the next request (the answer kept
    // it open and its body ended by its framing, a refusal's short body read and dropped), and
    // how long it may wait idle for it.
    bool Reusable() const { return reusable_; }
    std::chrono::seconds IdleLimit() const { return idleLimit_; }
    // Whether the last answer began: bytes that start an HTTP answer arrived. A kept connection
    // that failed before one did (closed, or holding bytes that belong to no answer of ours) is
    // tried once more on a new connection.
    bool AnswerStarted() const { return answerStarted_; }
    // The Set-Cookie values of the last answer whose head arrived, in order.
    const std::vector<std::string>& SetCookies() const { return setCookies_; }
    // How long a kept connection waits idle at most, whatever the server allows.
    static constexpr std::chrono::seconds kLongestIdle{30};
    // A refusal's body is read and dropped, keeping the connection, up to this size.
    static constexpr std::int64_t kMaxDroppedBody = 64 * 1024;

    // Asks the proxy at the other end for a tunnel to `authority` ("host:port"), sending
    // `authorization` when given; 1 once it answered 2xx.
    int OpenTunnel(const std::string& authority, const std::string& authorization, WaitLimit limit);

  private:
    // How an answer's body ends.
    struct Framing {
        bool chunked = false;
        std::int64_t length = -1;  // -1: at the close
        bool twoWays = false;      // a Content-Length beside the chunks
    };
    // What a document's body gave the rules that read a page.
    struct BodyRead {
        bool whole = false;
        std::string kept;
        std::uint64_t length = 0;
    };
    // The answer to the request, into a file at `path` or, without one, into `sample` as far as
    // `room` bytes.
    int ReadAnswer(const char* path, PageSample* sample, WaitLimit limit, const PageRules* rules,
                   const std::string& url, std::size_t room = 0);
    int ReadAnswerOf(const char* path, PageSample* sample, WaitLimit limit, const PageRules* rules,
                     const std::string& url, std::size_t room);
    // How the body of an answer with this head and status ends; false (failure set) when it
    // cannot be told.
    bool FramingOf(const CResponseHead& head, int status, Framing& framing);
    // A refusal: its status told, its short body read and dropped to keep the connection.
    int Refuse(const CResponseHead& head, int status, std::string_view body, const Framing& framing,
               bool keepsConnection, WaitLimit limit);
    // Passes a document's body through its framing, its gzip coding when `gzip`, the document
    // limit and a stage that keeps its first `kept` bytes into `end`.
    template <typename End>
    BodyRead ReadDocument(End& end, std::string_view first, const Framing& framing, bool gzip,
                          std::size_t kept, WaitLimit limit);
    // Passes the body (its first bytes after the head in `received`, then the rest from the
    // connection) through its framing into `sink`, which takes Write(data, length) and Error().
    // True when the body ended by its framing, or, unframed, at the close; failure set when not.
    template <typename Sink>
    bool ReceiveFramedBody(Sink& sink, std::string_view first, const Framing& framing,
                           WaitLimit limit);
    // Receives until `bytes` (which may hold the start already) holds a whole header block;
    // returns its length, or -1 (failure set). What follows the block in `bytes` is the start of
    // the body.
    int ReadHead(std::string& bytes, WaitLimit limit);
    // The same for the final answer's head: interim ones before it are dropped from `bytes`.
    int ReadFinalHead(std::string& bytes, WaitLimit limit);
    // Receives into the open file until the peer closes or, with a `length` of 0 or more, until
    // that many bytes are stored. Passes a checkpoint before every block, so the calling thread
    // can be held between blocks.
    template <typename File>
    int ReceiveBody(File& file, WaitLimit limit, std::int64_t* bytesWritten,
                    std::int64_t length = -1);

    // Marks on the tape, when one is attached, where the answer ended, or why it did not.
    void MarkAnswerEnd();

    bool reusable_ = false;
    bool overran_ = false;  // bytes came past the body's framing
    // For the archive: the answer was read to the end of its framing, and so many bytes came
    // after it; or what cut the read short, and whether that was on purpose.
    bool answerWhole_ = false;
    std::uint64_t pastAnswer_ = 0;
    std::optional<FetchError> cutBy_;
    bool chunksBroken_ = false;
    bool stoppedOnPurpose_ = false;
    bool answerStarted_ = false;
    std::chrono::seconds idleLimit_ = kLongestIdle;
    std::int64_t documentLimit_ = HttpOptions().maxDocumentBytes;
    std::vector<std::string> setCookies_;
};
