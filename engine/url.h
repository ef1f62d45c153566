#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/fetch_failure.h"

// The schemes a document can be fetched with. The prefixes are case-sensitive, as they always
// were: "HTTP://" is no URL of ours.
enum class UrlScheme { kHttp, kHttps };

// A URL taken apart once, by the one parser that the fetcher, novudl and novucfg share.
struct Url {
    UrlScheme scheme = UrlScheme::kHttp;
    std::string host;        // a name, a dotted quad, or an IPv6 address without its brackets
    bool ipv6 = false;       // written as [address]
    int port = 0;            // 0 when the URL names none
    std::string path = "/";  // the origin form: from the first "/" after the host, "/" if none

    // The port to connect to: the URL's, else the scheme's (80 for http and 443 for https,
    // unless `httpPort` or `httpsPort` says otherwise).
    int PortOr(int httpPort, int httpsPort = 443) const;
    // "host" or "host:port" as a Host header line and a CONNECT target write it (IPv6 in
    // brackets); the port is written when the URL names one.
    std::string Authority() const;
};

// Parses `text`. Refuses, with the reason in `why`: other schemes ("ftp://" included); more than
// 259 characters; spaces and control characters; a user name ("user@host"); an empty host; a
// broken IPv6 literal; a port that is not a number from 1 to 65535.
std::optional<Url> ParseUrl(std::string_view text, FetchFailure* why = nullptr);

// True when the text holds a byte that must never reach a request line: a control character
// (below 0x20, or 0x7F) or a space.
bool HasUnsafeUrlBytes(std::string_view text);

// Whether `host` is a complete IPv4 or IPv6 address (such hosts skip the resolver).
bool IsAddressLiteral(const std::string& host);

// Where a Location field's value leads from the URL `base`, resolved as RFC 3986 section 5.2
// resolves a reference: an absolute URL, "//host/path", "/path", "?query" or a path beside the
// base's last folder, with "." and ".." segments removed and the fragment dropped; the scheme in
// lower case. None for a reference to another scheme than http and https (file:, javascript:,
// data:, ...), which is named in `otherScheme`.
std::optional<std::string> ResolveLocation(const Url& base, std::string_view location,
                                           std::string* otherScheme = nullptr);
