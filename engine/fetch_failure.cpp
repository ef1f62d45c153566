#include "engine/fetch_failure.h"

#include "engine/socket_platform.h"
#include "support/file_helpers.h"

Answer ClassifyFailure(const FetchFailure& failure) {
    if (failure.challenge) {
        return Answer::kWait;
    }
    if (failure.error == FetchError::kMissingPage) {
        return Answer::kMissing;  // as a 404 would be
    }
    return failure.error == FetchError::kStatus ? ClassifyStatus(failure.detail) : Answer::kFailed;
}

std::string DescribeFetchFailure(const FetchFailure& failure) {
    switch (failure.error) {
        case FetchError::kNone:
            return "stored";
        case FetchError::kNotHttp:
            return "not an http:// or https:// URL";
        case FetchError::kNameTooLong:
            return "name too long";
        case FetchError::kUnsafeUrl:
            return "control character or space in the URL";
        case FetchError::kUserInUrl:
            return "user name in the URL";
        case FetchError::kEmptyHost:
            return "no host in the URL";
        case FetchError::kBadHost:
            return "bad host in the URL";
        case FetchError::kBadPort:
            return "bad port in the URL";
        case FetchError::kNoSuchHost:
            return "no such host";
        case FetchError::kConnect:
            return "cannot connect (" + net::ErrorText(failure.detail) + ")";
        case FetchError::kProxyConnect:
            return "cannot connect to the proxy (" + failure.text + ")";
        case FetchError::kProxyRefused:
            return "the proxy refused the tunnel (status " + std::to_string(failure.detail) + ")";
        case FetchError::kTimeLimit:
            return "time limit";
        case FetchError::kCutOff:
            return "cut off after Abort";
        case FetchError::kClosedBeforeAnswer:
            return "closed before answering";
        case FetchError::kBadStatusLine:
            return "bad status line";
        case FetchError::kStatus:
            return "status " + std::to_string(failure.detail) +
                   (failure.text.empty() ? "" : " (moved to " + failure.text + ")");
        case FetchError::kRedirectedAway:
            return "redirected to another site: " + failure.text;
        case FetchError::kTooManyRedirects:
            return "too many redirects";
        case FetchError::kRedirectScheme:
            return "redirected to a " + failure.text + ": URL, which is not followed";
        case FetchError::kRedirectTooLong:
            return "redirected to a URL of " + std::to_string(failure.detail) +
                   " characters (259 at most)";
        case FetchError::kLoginPage:
            return "status " + std::to_string(failure.detail) + ", a login page (wall_if_body)";
        case FetchError::kMissingPage:
            return "status " + std::to_string(failure.detail) + ", a missing page (" +
                   failure.text + ")";
        case FetchError::kNoHeaderEnd:
            return "closed inside the header block";
        case FetchError::kHeaderTooLong:
            return "header block too long";
        case FetchError::kTooManyInterimAnswers:
            return "too many interim (1xx) answers";
        case FetchError::kShortBody:
            return "body shorter than its Content-Length";
        case FetchError::kBadContentLength:
            return "bad Content-Length";
        case FetchError::kBadChunked:
            return "bad chunked body";
        case FetchError::kBadGzip:
            return "bad gzip body";
        case FetchError::kWrongType:
            return "not the expected type (" + failure.text + ")";
        case FetchError::kTooLarge:
            return "larger than the limit (" + failure.text + ")";
        case FetchError::kUnsupportedEncoding:
            return failure.text;
        case FetchError::kReceive:
            return "receive error (" + net::ErrorText(failure.detail) + ")";
        case FetchError::kSend:
            return "send error (" + net::ErrorText(failure.detail) + ")";
        case FetchError::kWriteError:
            return "write error (" + SystemErrorText(failure.detail) + ")";
        case FetchError::kTls:
            return failure.text;
        case FetchError::kTlsCut:
            return "connection cut before the TLS close";
    }
    return "unknown";
}
