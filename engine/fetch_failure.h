#pragma once

#include <string>

// Why a fetch did not store its document. The fetcher's result stays 1 or 0; this says what
// lies behind a 0.
enum class FetchError {
    kNone,
    kNotHttp,      // not an http:// URL
    kNameTooLong,  // URL, host or path longer than 259 characters
    kUnsafeUrl,    // a control character or space in the URL
    kBadPort,      // a port in the URL that is not a number from 1 to 65535
    kNoSuchHost,
    kConnect,      // detail: the system's error number (connection refused, ...)
    kTimeLimit,    // a single wait ran past the time limit
    kCutOff,       // still running when the time after Abort ran out
    kStatus,       // detail: the status code
    kNoHeaderEnd,  // no end of the header block in the first block
    kShortBody,    // fewer bytes than the Content-Length
    kReceive,      // detail: the system's error number (connection reset, ...)
    kSend,         // detail: the system's error number
    kWriteError,   // detail: the system's error number
};

struct FetchFailure {
    FetchError error = FetchError::kNone;
    int detail = 0;
};

// One line for people and for failed.txt: "status 404", "write error (No space left on device)".
std::string DescribeFetchFailure(const FetchFailure& failure);
