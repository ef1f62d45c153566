#include "engine/url.h"

#include <algorithm>
#include <cctype>

#include "engine/response_head.h"
#include "engine/socket_platform.h"
#include "support/decimal.h"
#include "support/text_format.h"

namespace {

std::optional<Url> Refuse(FetchFailure* why, FetchError error) {
    if (why != nullptr) {
        *why = FetchFailure{error};
    }
    return std::nullopt;
}

// "1" to "65535" exactly: no sign, no spaces, no leading "+".
bool ParsePort(std::string_view digits, int& port) {
    const std::optional<int> value = ParseDecimal<int>(digits);
    if (!value || digits[0] == '-' || *value < 1 || *value > 65535) {
        return false;
    }
    port = *value;
    return true;
}

}  // namespace

int Url::PortOr(int httpPort, int httpsPort) const {
    if (port != 0) {
        return port;
    }
    return scheme == UrlScheme::kHttps ? httpsPort : httpPort;
}

std::string Url::Authority() const {
    std::string authority;
    authority.reserve(host.size() + 8);
    if (ipv6) {
        authority.append("[").append(host).append("]");
    } else {
        authority.append(host);
    }
    if (port != 0) {
        authority.append(":").append(std::to_string(port));
    }
    return authority;
}

bool HasUnsafeUrlBytes(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

bool IsAddressLiteral(const std::string& host) {
    return net::IsAddressLiteral(host.c_str());
}

std::optional<Url> ParseUrl(std::string_view text, FetchFailure* why) {
    Url url;
    std::string_view rest;
    if (text.starts_with("http://")) {
        rest = text.substr(7);
    } else if (text.starts_with("https://")) {
        url.scheme = UrlScheme::kHttps;
        rest = text.substr(8);
    } else {
        return Refuse(why, FetchError::kNotHttp);
    }
    if (!FitsPathBuffer(std::string(text))) {
        return Refuse(why, FetchError::kNameTooLong);
    }
    // The URL goes into the request line as it is: a line break in it would add header lines
    // or a second request of the URL's choosing.
    if (HasUnsafeUrlBytes(text)) {
        return Refuse(why, FetchError::kUnsafeUrl);
    }
    const std::size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    if (slash != std::string_view::npos) {
        url.path = std::string(rest.substr(slash));
    }
    if (authority.find('@') != std::string_view::npos) {
        return Refuse(why, FetchError::kUserInUrl);
    }
    std::string_view portText;
    bool hasPort = false;
    if (authority.starts_with('[')) {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return Refuse(why, FetchError::kBadHost);
        }
        url.host = std::string(authority.substr(1, close - 1));
        url.ipv6 = true;
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') {
                return Refuse(why, FetchError::kBadHost);
            }
            portText = after.substr(1);
            hasPort = true;
        }
        if (!net::IsIPv6Literal(url.host.c_str())) {
            return Refuse(why, FetchError::kBadHost);
        }
    } else {
        const std::size_t colon = authority.rfind(':');
        url.host = std::string(authority.substr(0, colon));
        if (colon != std::string_view::npos) {
            portText = authority.substr(colon + 1);
            hasPort = true;
        }
        // A bare IPv6 address cannot be told from a host and a port: it needs its brackets.
        if (url.host.find(':') != std::string::npos) {
            return Refuse(why, FetchError::kBadHost);
        }
    }
    if (url.host.empty()) {
        return Refuse(why, FetchError::kEmptyHost);
    }
    if (hasPort && !ParsePort(portText, url.port)) {
        return Refuse(why, FetchError::kBadPort);
    }
    return url;
}

namespace {

// A reference taken apart as RFC 3986 section 4.1 does, without its fragment.
struct Reference {
    std::optional<std::string> scheme;  // lower case
    std::optional<std::string_view> authority;
    std::string_view path;
    std::optional<std::string_view> query;
};

Reference ParseReference(std::string_view text) {
    Reference reference;
    text = text.substr(0, text.find('#'));
    const std::size_t colon = text.find(':');
    const std::size_t schemeEnd =
        text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.");
    if (colon != std::string_view::npos && colon == schemeEnd && colon > 0 &&
        std::isalpha(static_cast<unsigned char>(text[0]))) {
        reference.scheme = LowerCase(text.substr(0, colon));
        text.remove_prefix(colon + 1);
    }
    if (text.starts_with("//")) {
        const std::size_t end = std::min(text.find_first_of("/?", 2), text.size());
        reference.authority = text.substr(2, end - 2);
        text.remove_prefix(end);
    }
    const std::size_t question = text.find('?');
    reference.path = text.substr(0, question);
    if (question != std::string_view::npos) {
        reference.query = text.substr(question + 1);
    }
    return reference;
}

// The path with its "." and ".." segments removed (RFC 3986 section 5.2.4), in one pass.
std::string RemoveDotSegments(std::string_view in) {
    std::string out;
    const auto dropLastSegment = [&out] {
        const std::size_t slash = out.rfind('/');
        out.erase(slash == std::string::npos ? 0 : slash);
    };
    for (std::size_t i = 0; i < in.size();) {
        const std::string_view rest = in.substr(i);
        if (rest.starts_with("../")) {
            i += 3;
        } else if (rest.starts_with("./") || rest.starts_with("/./")) {
            i += 2;
        } else if (rest == "/.") {
            out += '/';
            i = in.size();
        } else if (rest.starts_with("/../")) {
            i += 3;
            dropLastSegment();
        } else if (rest == "/..") {
            dropLastSegment();
            out += '/';
            i = in.size();
        } else if (rest == "." || rest == "..") {
            i = in.size();
        } else {
            const std::size_t end = std::min(in.find('/', i + 1), in.size());
            out.append(in.substr(i, end - i));
            i = end;
        }
    }
    return out;
}

}  // namespace

std::optional<std::string> ResolveLocation(const Url& base, std::string_view location,
                                           std::string* otherScheme) {
    const std::string baseScheme = base.scheme == UrlScheme::kHttps ? "https" : "http";
    Reference reference = ParseReference(location);
    // "http:path" from an http page is the path, as browsers read it (RFC 3986 section 5.2.2).
    if (reference.scheme == baseScheme && !reference.authority) {
        reference.scheme.reset();
    }
    if (reference.scheme && *reference.scheme != "http" && *reference.scheme != "https") {
        if (otherScheme != nullptr) {
            *otherScheme = *reference.scheme;
        }
        return std::nullopt;
    }
    const std::string_view basePath = std::string_view(base.path).substr(0, base.path.find('?'));
    const std::size_t baseQuery = base.path.find('?');
    std::string path;
    std::optional<std::string_view> query = reference.query;
    if (reference.scheme || reference.authority) {
        path = RemoveDotSegments(reference.path);
    } else if (reference.path.empty()) {
        path = basePath;
        if (!query && baseQuery != std::string::npos) {
            query = std::string_view(base.path).substr(baseQuery + 1);
        }
    } else if (reference.path.front() == '/') {
        path = RemoveDotSegments(reference.path);
    } else {
        const std::string merged =
            std::string(basePath.substr(0, basePath.rfind('/') + 1)) + std::string(reference.path);
        path = RemoveDotSegments(merged);
    }
    std::string target =
        reference.scheme.value_or(baseScheme) + "://" +
        (reference.authority ? std::string(*reference.authority) : base.Authority());
    if (!path.empty() && path.front() != '/') {
        target += '/';
    }
    target += path;
    if (query) {
        target.append("?").append(*query);
    }
    return target;
}
