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
#include "support/output_file.h"

namespace {

// A stage that keeps the first bytes of a body and, when asked, the signature of all of it, for
// the rules that read a page; it passes every byte on.
template <typename Next>
class CPageReader {
  public:
    CPageReader(Next& next, std::size_t kept, bool signs)
        : next_(next), room_(kept), signs_(signs) {}
    bool Write(const void* data, std::size_t length) {
        const std::size_t taken = std::min(length, room_ - kept_.size());
        kept_.append(static_cast<const char*>(data), taken);
        if (signs_) {
            signature_.Add(data, length);
        }
        return next_.Write(data, length);
    }
    int Error() const { return next_.Error(); }
    const std::string& Kept() const { return kept_; }
    const PageSignature& Signature() const { return signature_; }

  private:
    Next& next_;
    std::size_t room_;
    bool signs_;
    std::string kept_;
    PageSignature signature_;
};

// One body buffer per worker thread, reused by every fetch it makes.
char* BodyBuffer() {
    thread_local std::vector<char> buffer(CHttpSocket::kBodyBlockSize);
    return buffer.data();
}

}  // namespace

int CHttpSocket::ReadHead(std::string& bytes, WaitLimit limit) {
    char* const buffer = BodyBuffer();
    bytes.clear();
    answerStarted_ = false;
    for (;;) {
        int length = static_cast<int>(kBodyBlockSize);
        if (!Receive(buffer, length, limit)) {
            return -1;
        }
        if (length == 0) {
            Fail(bytes.empty() ? FetchError::kClosedBeforeAnswer : FetchError::kNoHeaderEnd);
            return -1;
        }
        answerStarted_ = true;
        // The blank line may straddle two receives: look again from just before the new bytes.
        const std::size_t from = bytes.size() >= 3 ? bytes.size() - 3 : 0;
        bytes.append(buffer, static_cast<std::size_t>(length));
        const std::size_t searched = std::min(bytes.size(), kMaxHeaderBytes);
        if (searched > from) {
            const int end =
                CResponseHead::FindEnd(bytes.data() + from, static_cast<int>(searched - from));
            if (end >= 0) {
                return static_cast<int>(from) + end;
            }
        }
        if (bytes.size() >= kMaxHeaderBytes) {
            Fail(FetchError::kHeaderTooLong);
            return -1;
        }
    }
}

int CHttpSocket::ReceiveResponse(const char* path, WaitLimit limit, const PageRules* rules,
                                 const std::string& url) {
    reusable_ = false;
    overran_ = false;
    setCookies_.clear();
    std::string received;
    const int headerEnd = ReadHead(received, limit);
    if (headerEnd < 0) {
        return 0;
    }
    const CResponseHead head(std::string_view(received).substr(0, headerEnd));
    const std::string_view body = std::string_view(received).substr(headerEnd);
    const int status = head.Status();
    if (status < 0) {
        return Fail(FetchError::kBadStatusLine);
    }
    for (const std::string_view cookie : head.Fields("set-cookie")) {
        setCookies_.emplace_back(cookie);
    }
    // A chunked body has its own framing, which overrides any length.
    Framing framing;
    const std::optional<std::string_view> coding = head.Field("transfer-encoding");
    framing.chunked = coding.has_value();
    if (framing.chunked && !EqualsNoCase(*coding, "chunked")) {
        return Fail(FetchError::kUnsupportedEncoding, 0,
                    "unsupported Transfer-Encoding: " + std::string(*coding));
    }
    framing.length = framing.chunked ? -1 : head.ContentLength();
    if (framing.length == CResponseHead::kBadContentLength) {
        return Fail(FetchError::kBadContentLength);
    }
    const bool keepsConnection = head.KeepsConnection();
    idleLimit_ = std::min(head.KeepAliveTimeout().value_or(kLongestIdle), kLongestIdle);

    const Answer answer = ClassifyStatus(status);
    if (answer != Answer::kDocument) {
        const std::optional<std::string_view> location = head.Field("location");
        Fail(FetchError::kStatus, status,
             IsRedirect(status) && location ? std::string(*location) : std::string());
        if (answer == Answer::kWait) {
            if (const auto wait = head.RetryAfter(std::chrono::system_clock::now())) {
                SetRetryAfter(*wait);
            }
        }
        const std::optional<std::string_view> mitigated = head.Field("cf-mitigated");
        if (status == 403 && mitigated && EqualsNoCase(*mitigated, "challenge")) {
            MarkChallenge();
        }
        // A short refusal is read and dropped, so that the connection can carry the next
        // request; the refusal stays what is told.
        if (keepsConnection &&
            (framing.chunked || (framing.length >= 0 && framing.length <= kMaxDroppedBody))) {
            const FetchFailure refusal = Failure();
            struct {
                bool Write(const void*, std::size_t) { return true; }
                int Error() const { return 0; }
            } dropped;
            reusable_ = ReceiveFramedBody(dropped, body, framing, limit) && !overran_;
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

    // A gzip body is stored decoded; another coding is not ours to undo.
    const std::optional<std::string_view> encoding = head.Field("content-encoding");
    const bool gzip =
        encoding && (EqualsNoCase(*encoding, "gzip") || EqualsNoCase(*encoding, "x-gzip"));
    if (encoding && !gzip && !EqualsNoCase(*encoding, "identity")) {
        return Fail(FetchError::kUnsupportedEncoding, 0,
                    "unsupported Content-Encoding: " + std::string(*encoding));
    }

    // The document takes its name only when it is whole, so that neither a crash nor a failure
    // leaves a truncated file under it, and an older copy stays until a whole one replaces it.
    CWholeFile file;
    if (!file.Create(path)) {
        return Fail(FetchError::kWriteError, file.Error());
    }
    bool stored;
    CPageReader<CWholeFile> keeper(file, rules && rules->NeedsBody() ? PageRules::kBodySearched : 0,
                                   rules && rules->NeedsSignature());
    if (gzip) {
        CGzipDecoder<CPageReader<CWholeFile>> gunzip(keeper);
        stored = ReceiveFramedBody(gunzip, body, framing, limit);
        if (gunzip.Bad() || (stored && !gunzip.Ended())) {
            stored = false;
            Fail(FetchError::kBadGzip);
        }
    } else {
        stored = ReceiveFramedBody(keeper, body, framing, limit);
    }
    if (stored && rules != nullptr) {
        if (const std::optional<std::string> missing = rules->MissingBecause(
                head.Field("content-type"), keeper.Kept(), keeper.Signature(), url)) {
            stored = false;
            Fail(FetchError::kMissingPage, status, *missing);
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

template <typename Sink>
bool CHttpSocket::ReceiveFramedBody(Sink& sink, std::string_view first, const Framing& framing,
                                    WaitLimit limit) {
    // Bytes past the Content-Length belong to nobody: they are not part of the document.
    auto firstBytes = static_cast<std::int64_t>(first.size());
    if (framing.length >= 0 && firstBytes > framing.length) {
        firstBytes = framing.length;
        overran_ = true;
    }
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
    char* const buffer = BodyBuffer();
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
