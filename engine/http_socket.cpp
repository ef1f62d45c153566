#include "engine/http_socket.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <vector>

#include "engine/checkpoint.h"
#include "engine/chunked_decoder.h"
#include "engine/gzip_decoder.h"
#include "engine/http_request.h"
#include "engine/response_head.h"
#include "support/object_pool.h"
#include "support/output_file.h"

namespace {

// A stage that keeps the first bytes of a body for the rules that read a page, and counts them
// all; it passes every byte on.
template <typename Next>
class CPageReader {
  public:
    CPageReader(Next& next, std::size_t kept) : next_(next), room_(kept) {}
    bool Write(const void* data, std::size_t length) {
        const std::size_t taken = std::min(length, room_ - kept_.size());
        kept_.append(static_cast<const char*>(data), taken);
        length_ += length;
        return next_.Write(data, length);
    }
    int Error() const { return next_.Error(); }
    const std::string& Kept() const { return kept_; }
    std::uint64_t Length() const { return length_; }

  private:
    Next& next_;
    std::size_t room_;
    std::string kept_;
    std::uint64_t length_ = 0;
};

// A stage that counts a document's decoded bytes and refuses those past its limit.
template <typename Next>
class CSizeLimit {
  public:
    CSizeLimit(Next& next, std::int64_t limit) : next_(next), left_(limit) {}
    bool Write(const void* data, std::size_t length) {
        if (length > static_cast<std::uint64_t>(left_)) {
            over_ = true;
            return false;
        }
        left_ -= static_cast<std::int64_t>(length);
        return next_.Write(data, length);
    }
    int Error() const { return over_ ? 0 : next_.Error(); }
    bool Over() const { return over_; }

  private:
    Next& next_;
    std::int64_t left_;
    bool over_ = false;
};

// The end of a sampling read: it takes bytes until it has more than it needs, and then stops
// the read, so that a page of any size (or a gzip body that would grow to any size) costs no
// more than what is looked at.
class CSampleEnd {
  public:
    explicit CSampleEnd(std::size_t room) : room_(room) {}
    bool Write(const void*, std::size_t length) {
        taken_ += length;
        return taken_ <= room_;
    }
    int Error() const { return 0; }
    bool Full() const { return taken_ > room_; }

  private:
    std::size_t room_;
    std::size_t taken_ = 0;
};

// The body buffers, each reused by fetch after fetch.
struct BodyBlock {
    std::vector<char> bytes = std::vector<char>(CHttpSocket::kBodyBlockSize);
};
CObjectPool<BodyBlock>::Lease BodyBuffer() {
    return CObjectPool<BodyBlock>::Shared().Take();
}

// Whether `bytes` can be the start of an HTTP answer: anything else on a kept connection is
// left over from an earlier answer, or sent by nobody's request.
bool StartsLikeAnAnswer(std::string_view bytes) {
    constexpr std::string_view kStart = "HTTP/";
    return bytes.substr(0, kStart.size()) ==
           kStart.substr(0, std::min(bytes.size(), kStart.size()));
}

std::string Mebibytes(std::int64_t bytes) {
    return std::to_string(bytes >> 20) + " MiB";
}

}  // namespace

int CHttpSocket::ReadHead(std::string& bytes, WaitLimit limit) {
    const auto block = BodyBuffer();
    char* const buffer = block->bytes.data();
    std::size_t searchedTo = 0;  // no blank line begins before this, but in its last 3 bytes
    for (;;) {
        const std::size_t searchable = std::min(bytes.size(), kMaxHeaderBytes);
        // The blank line may straddle two receives: look again from just before the new bytes.
        const std::size_t from = searchedTo >= 3 ? searchedTo - 3 : 0;
        if (searchable > from) {
            const int end =
                CResponseHead::FindEnd(bytes.data() + from, static_cast<int>(searchable - from));
            if (end >= 0) {
                return static_cast<int>(from) + end;
            }
            searchedTo = searchable;
        }
        if (bytes.size() >= kMaxHeaderBytes) {
            Fail(FetchError::kHeaderTooLong);
            return -1;
        }
        int length = static_cast<int>(kBodyBlockSize);
        if (!Receive(buffer, length, limit)) {
            return -1;
        }
        if (length == 0) {
            Fail(bytes.empty() ? FetchError::kClosedBeforeAnswer : FetchError::kNoHeaderEnd);
            return -1;
        }
        bytes.append(buffer, static_cast<std::size_t>(length));
        answerStarted_ = answerStarted_ || StartsLikeAnAnswer(bytes);
    }
}

int CHttpSocket::ReadFinalHead(std::string& bytes, WaitLimit limit) {
    for (int interim = 0;; ++interim) {
        const int headerEnd = ReadHead(bytes, limit);
        if (headerEnd < 0) {
            return -1;
        }
        const int status = CResponseHead(std::string_view(bytes).substr(0, headerEnd)).Status();
        if (status < 0) {
            Fail(FetchError::kBadStatusLine);
            return -1;
        }
        // An interim answer says that the real one is coming (RFC 9110 section 15.2); a 101
        // would switch to a protocol nobody asked for, and is refused as any other status.
        if (status < 100 || status > 199 || status == 101) {
            return headerEnd;
        }
        if (interim == kMostInterimAnswers) {
            Fail(FetchError::kTooManyInterimAnswers);
            return -1;
        }
        // The archive keeps the answer to the request, not the interim ones before it.
        if (WireTape* tape = Tape()) {
            tape->answerBegin = tape->received.Size() - bytes.size() + headerEnd;
        }
        bytes.erase(0, static_cast<std::size_t>(headerEnd));
    }
}

bool CHttpSocket::FramingOf(const CResponseHead& head, int status, Framing& framing) {
    // These end at their blank line whatever their fields say (RFC 9112 section 6.3).
    if (status == 204 || status == 304) {
        framing.length = 0;
        return true;
    }
    const std::int64_t length = head.ContentLength();
    // A chunked body has its own framing, which overrides any length.
    if (const std::optional<std::string_view> coding = head.Field("transfer-encoding")) {
        if (!EqualsNoCase(*coding, "chunked")) {
            Fail(FetchError::kUnsupportedEncoding, 0,
                 "unsupported Transfer-Encoding: " + std::string(*coding));
            return false;
        }
        framing.chunked = true;
        framing.twoWays = length != -1;
        return true;
    }
    if (length == CResponseHead::kBadContentLength) {
        Fail(FetchError::kBadContentLength);
        return false;
    }
    framing.length = length;
    return true;
}

int CHttpSocket::ReceiveResponse(const char* path, WaitLimit limit, const PageRules* rules,
                                 const std::string& url) {
    return ReadAnswer(path, nullptr, limit, rules, url);
}

int CHttpSocket::SampleResponse(PageSample& sample, WaitLimit limit, const PageRules* rules,
                                const std::string& url, std::size_t room) {
    return ReadAnswer(nullptr, &sample, limit, rules, url, room);
}

int CHttpSocket::ReadAnswer(const char* path, PageSample* sample, WaitLimit limit,
                            const PageRules* rules, const std::string& url, std::size_t room) {
    reusable_ = false;
    overran_ = false;
    answerStarted_ = false;
    setCookies_.clear();
    answerWhole_ = chunksBroken_ = stoppedOnPurpose_ = false;
    pastAnswer_ = 0;
    cutBy_.reset();
    const int result = ReadAnswerOf(path, sample, limit, rules, url, room);
    MarkAnswerEnd();
    return result;
}

void CHttpSocket::MarkAnswerEnd() {
    WireTape* tape = Tape();
    if (tape == nullptr) {
        return;
    }
    if (answerWhole_) {
        tape->answerEnd = tape->received.Size() - pastAnswer_;
        return;
    }
    if (stoppedOnPurpose_) {
        tape->truncated = "length";
        return;
    }
    switch (cutBy_.value_or(Failure().error)) {
        case FetchError::kTimeLimit:
        case FetchError::kCutOff:
            tape->truncated = "time";
            break;
        case FetchError::kClosedBeforeAnswer:
        case FetchError::kNoHeaderEnd:
        case FetchError::kShortBody:
        case FetchError::kTlsCut:
        case FetchError::kReceive:
            tape->truncated = "disconnect";
            break;
        case FetchError::kBadChunked:
            tape->truncated = chunksBroken_ ? "unspecified" : "disconnect";
            break;
        case FetchError::kNone:
        case FetchError::kStatus:
        case FetchError::kTooLarge:
        case FetchError::kHeaderTooLong:
        case FetchError::kTooManyInterimAnswers:
        case FetchError::kMissingPage:
        case FetchError::kLoginPage:
        case FetchError::kWrongType:
            tape->truncated = "length";  // read no further on purpose
            break;
        default:
            tape->truncated = "unspecified";
            break;
    }
}

int CHttpSocket::ReadAnswerOf(const char* path, PageSample* sample, WaitLimit limit,
                              const PageRules* rules, const std::string& url, std::size_t room) {
    std::string received;
    const int headerEnd = ReadFinalHead(received, limit);
    if (headerEnd < 0) {
        return 0;
    }
    const CResponseHead head(std::string_view(received).substr(0, headerEnd));
    const std::string_view body = std::string_view(received).substr(headerEnd);
    const int status = head.Status();
    for (const std::string_view cookie : head.Fields("set-cookie")) {
        setCookies_.emplace_back(cookie);
    }
    Framing framing;
    if (!FramingOf(head, status, framing)) {
        return 0;
    }
    // A body framed two ways may hide a second answer in the other framing: the connection goes.
    const bool keepsConnection = head.KeepsConnection() && !framing.twoWays;
    idleLimit_ = std::min(head.KeepAliveTimeout().value_or(kLongestIdle), kLongestIdle);
    if (ClassifyStatus(status) != Answer::kDocument) {
        return Refuse(head, status, body, framing, keepsConnection, limit);
    }

    // A gzip body is stored decoded; another coding is not ours to undo.
    const std::optional<std::string_view> encoding = head.Field("content-encoding");
    const bool gzip =
        encoding && (EqualsNoCase(*encoding, "gzip") || EqualsNoCase(*encoding, "x-gzip"));
    if (encoding && !gzip && !EqualsNoCase(*encoding, "identity")) {
        return Fail(FetchError::kUnsupportedEncoding, 0,
                    "unsupported Content-Encoding: " + std::string(*encoding));
    }
    const std::optional<std::string_view> contentType = head.Field("content-type");
    if (sample != nullptr) {
        CSampleEnd end(room);
        BodyRead read = ReadDocument(end, body, framing, gzip, PageRules::kBodySearched, limit);
        if (!read.whole && !end.Full()) {
            return 0;
        }
        stoppedOnPurpose_ = !read.whole;
        sample->start = std::move(read.kept);
        sample->whole = read.whole;
        sample->length = read.length;
        sample->type = std::string(contentType.value_or(""));
        BeginExchange();  // a read stopped on purpose is no failure
        if (rules != nullptr) {
            if (const std::optional<FetchFailure> refusal = rules->Refusal(
                    contentType, sample->start,
                    read.whole ? sample->start.size() : sample->start.size() + 1, url, status)) {
                return Fail(refusal->error, refusal->detail, refusal->text);
            }
        }
        return 1;
    }
    if (!gzip && framing.length > documentLimit_) {
        return Fail(FetchError::kTooLarge, 0, Mebibytes(documentLimit_));
    }
    // The document takes its name only when it is whole, so that neither a crash nor a failure
    // leaves a truncated file under it, and an older copy stays until a whole one replaces it.
    CWholeFile file;
    if (!file.Create(path)) {
        return Fail(FetchError::kWriteError, file.Error());
    }
    const bool readsBody = rules != nullptr && rules->NeedsBody();
    const BodyRead read =
        ReadDocument(file, body, framing, gzip, readsBody ? PageRules::kBodySearched : 0, limit);
    bool stored = read.whole;
    if (stored && rules != nullptr) {
        if (const std::optional<FetchFailure> refusal =
                rules->Refusal(contentType, read.kept, read.length, url, status)) {
            stored = false;
            Fail(refusal->error, refusal->detail, refusal->text);
        }
    }
    if (stored && !file.Commit()) {
        stored = false;
        Fail(FetchError::kWriteError, file.Error());
    }
    if (!stored) {
        file.Discard();
    }
    reusable_ = stored && keepsConnection && (framing.chunked || framing.length >= 0) && !overran_;
    return stored ? 1 : 0;
}

int CHttpSocket::Refuse(const CResponseHead& head, int status, std::string_view body,
                        const Framing& framing, bool keepsConnection, WaitLimit limit) {
    const std::optional<std::string_view> location = head.Field("location");
    Fail(FetchError::kStatus, status,
         IsRedirect(status) && location ? std::string(*location) : std::string());
    if (ClassifyStatus(status) == Answer::kWait) {
        if (const auto wait = head.RetryAfter(std::chrono::system_clock::now())) {
            SetRetryAfter(*wait);
        }
    }
    const std::optional<std::string_view> mitigated = head.Field("cf-mitigated");
    if (status == 403 && mitigated && EqualsNoCase(*mitigated, "challenge")) {
        MarkChallenge();
    }
    // A short refusal is read and dropped, so that the connection can carry the next request
    // (or the archive the whole answer); the refusal stays what is told.
    if ((keepsConnection || Tape() != nullptr) &&
        (framing.chunked || (framing.length >= 0 && framing.length <= kMaxDroppedBody))) {
        const FetchFailure refusal = Failure();
        struct {
            bool Write(const void*, std::size_t) { return true; }
            int Error() const { return 0; }
        } dropped;
        reusable_ =
            ReceiveFramedBody(dropped, body, framing, limit) && !overran_ && keepsConnection;
        BeginExchange();
        Fail(refusal.error, refusal.detail, refusal.text);
        if (refusal.retryAfter) {
            SetRetryAfter(*refusal.retryAfter);
        }
        if (refusal.challenge) {
            MarkChallenge();
        }
    }
    return 0;
}

template <typename End>
CHttpSocket::BodyRead CHttpSocket::ReadDocument(End& end, std::string_view first,
                                                const Framing& framing, bool gzip, std::size_t kept,
                                                WaitLimit limit) {
    CPageReader<End> reader(end, kept);
    CSizeLimit<CPageReader<End>> limited(reader, documentLimit_);
    bool whole;
    if (gzip) {
        CGzipDecoder<CSizeLimit<CPageReader<End>>> gunzip(limited);
        whole = ReceiveFramedBody(gunzip, first, framing, limit);
        if (!limited.Over() && (gunzip.Bad() || (whole && !gunzip.Ended()))) {
            whole = false;
            Fail(FetchError::kBadGzip);
        }
    } else {
        whole = ReceiveFramedBody(limited, first, framing, limit);
    }
    if (limited.Over()) {
        whole = false;
        Fail(FetchError::kTooLarge, 0, Mebibytes(documentLimit_));
    }
    return {whole, reader.Kept(), reader.Length()};
}

template <typename Sink>
bool CHttpSocket::ReceiveFramedBody(Sink& sink, std::string_view first, const Framing& framing,
                                    WaitLimit limit) {
    // Bytes past the Content-Length belong to nobody: they are not part of the document.
    auto firstBytes = static_cast<std::int64_t>(first.size());
    if (framing.length >= 0 && firstBytes > framing.length) {
        firstBytes = framing.length;
        overran_ = true;
    }
    pastAnswer_ = first.size() - static_cast<std::size_t>(firstBytes);
    std::int64_t bodyBytes = firstBytes;
    CChunkedDecoder<Sink> decoder(sink);
    const auto receiveInto = [&](auto& stage) {
        if (stage.Write(first.data(), static_cast<std::size_t>(firstBytes))) {
            return ReceiveBody(stage, limit, &bodyBytes, framing.length) == 1;
        }
        return Fail(FetchError::kWriteError, stage.Error()) == 1;
    };
    bool whole = framing.chunked ? receiveInto(decoder) : receiveInto(sink);
    if (framing.chunked) {
        overran_ = overran_ || decoder.Overran();
        pastAnswer_ = decoder.OverranBytes();
        chunksBroken_ = decoder.Bad();
        if (decoder.Bad() || (whole && !decoder.Done())) {
            whole = false;
            Fail(FetchError::kBadChunked);  // broken, or closed before its last chunk
        }
    }
    const bool framed = framing.chunked || framing.length >= 0;
    if (whole && ClosedWithoutTlsClose() && (!framed || bodyBytes < framing.length)) {
        // Without the TLS close, only framing that was met says the body is whole.
        whole = false;
        Fail(FetchError::kTlsCut);
    }
    if (whole && framing.length >= 0 && bodyBytes < framing.length) {
        whole = false;
        Fail(FetchError::kShortBody);
    }
    answerWhole_ = whole;
    if (!whole) {
        cutBy_ = Failure().error;
    }
    return whole;
}

int CHttpSocket::OpenTunnel(const std::string& authority, const std::string& authorization,
                            WaitLimit limit) {
    const std::string request = TunnelRequest(authority, authorization).Bytes();
    if (!Send(request.data(), static_cast<int>(request.size()), limit)) {
        return 0;
    }
    std::string received;
    const int headerEnd = ReadHead(received, limit);
    if (headerEnd < 0) {
        return 0;
    }
    const int status = CResponseHead(std::string_view(received).substr(0, headerEnd)).Status();
    if (status < 200 || status > 299) {
        return Fail(FetchError::kProxyRefused, status);
    }
    // The server speaks first only after our TLS hello: anything here is not from it.
    if (received.size() != static_cast<std::size_t>(headerEnd)) {
        return Fail(FetchError::kProxyRefused, status);
    }
    return 1;
}

template <typename File>
int CHttpSocket::ReceiveBody(File& file, WaitLimit limit, std::int64_t* bytesWritten,
                             std::int64_t length) {
    const auto block = BodyBuffer();
    char* const buffer = block->bytes.data();
    std::int64_t stored = bytesWritten != nullptr ? *bytesWritten : 0;
    for (;;) {
        // A body of known length is complete when it is there, whether or not the server
        // closes: some keep the connection open after it.
        if (length >= 0 && stored >= length) {
            return 1;
        }
        if constexpr (requires { file.Done(); }) {
            if (file.Done()) {
                return 1;  // the body's own framing ended it
            }
        }
        checkpoint::Pass();
        auto capacity = static_cast<std::int64_t>(kBodyBlockSize);
        if (length >= 0) {
            capacity = std::min(capacity, length - stored);
        }
        int received = static_cast<int>(capacity);
        if (!Receive(buffer, received, limit)) {
            return 0;
        }
        if (received == 0) {
            return 1;  // the peer closed the connection: the caller judges what arrived
        }
        if (!file.Write(buffer, static_cast<std::size_t>(received))) {
            return Fail(FetchError::kWriteError, file.Error());
        }
        stored += received;
        if (bytesWritten != nullptr) {
            *bytesWritten += received;
        }
    }
}
