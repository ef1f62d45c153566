#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "engine/response_head.h"

// Why a fetch did not store its document. The fetcher's result stays 1 or 0; this says what
// lies behind a 0.
enum class FetchError {
    kNone,
    kNotHttp,      // neither an http:// nor an https:// URL
    kNameTooLong,  // URL, host or path longer than 259 characters
    kUnsafeUrl,    // a control character or space in the URL
    kUserInUrl,    // "user@host": the program sends no credentials to sites
    kEmptyHost,
    kBadHost,  // a broken IPv6 literal, or one without its brackets
    kBadPort,  // a port in the URL that is not a number from 1 to 65535
    kNoSuchHost,
    kConnect,                // detail: the system's error number (connection refused, ...)
    kProxyConnect,           // text: why the proxy could not be reached
    kProxyRefused,           // detail: the proxy's status for the tunnel
    kTimeLimit,              // a single wait ran past the time limit
    kCutOff,                 // still running when the time after Abort ran out
    kClosedBeforeAnswer,     // the server closed without sending a byte
    kBadStatusLine,          // no three-digit status code
    kStatus,                 // detail: the status code; text: where a redirect leads
    kRedirectedAway,         // text: the URL on another host that a redirect leads to
    kTooManyRedirects,       // a loop, or more redirects than allowed
    kRedirectScheme,         // text: the scheme (file, javascript, ...) a redirect leads to
    kRedirectTooLong,        // detail: the length of the URL a redirect leads to
    kMissingPage,            // detail: the status; text: the rule that says the page is missing
    kLoginPage,              // detail: the status; a page that wall_if_body marks as a login page
    kNoHeaderEnd,            // the server closed inside the header block
    kHeaderTooLong,          // no end of the header block within 64 KiB
    kTooManyInterimAnswers,  // more 1xx answers before the real one than are ever sent
    kShortBody,              // fewer bytes than the Content-Length
    kBadContentLength,       // a Content-Length that is no number, or lengths that differ
    kBadChunked,             // a chunked body broken, or cut before its last chunk
    kBadGzip,                // a gzip body corrupt, cut short, or going on past its end
    kWrongType,              // text: the media type of a page that no document has
    kTooLarge,               // text: the document limit ("256 MiB") that the body passed
    kUnsupportedEncoding,    // text: the coding the body was sent in that is not ours to undo
    kReceive,                // detail: the system's error number (connection reset, ...)
    kSend,                   // detail: the system's error number
    kWriteError,             // detail: the system's error number
    kTls,                    // text: the TLS library's reason (a certificate refused, ...)
    kTlsCut,                 // the connection ended without the TLS close, length unknown
};

struct FetchFailure {
    FetchFailure() = default;
    FetchFailure(FetchError error, int detail = 0, std::string text = {})
        : error(error), detail(detail), text(std::move(text)) {}

    FetchError error = FetchError::kNone;
    int detail = 0;
    std::string text;
    // What a 429 or 503 answer asked for in its Retry-After line, when it did.
    std::optional<std::chrono::seconds> retryAfter;
    // A 403 that is a bot check ("cf-mitigated: challenge"): a wait, as a 429 without a time.
    bool challenge = false;
};

// What a failure means for its number: the site's word when it answered with a status (missing,
// or asked to wait), else a failure.
Answer ClassifyFailure(const FetchFailure& failure);

// One line for people and for failed.txt: "status 404", "write error (No space left on device)".
std::string DescribeFetchFailure(const FetchFailure& failure);
