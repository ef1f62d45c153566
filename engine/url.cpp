#include "engine/url.h"

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

int Url::PortOr(int httpPort) const {
    if (port != 0) {
        return port;
    }
    return scheme == UrlScheme::kHttps ? 443 : httpPort;
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

std::string ResolveLocation(const Url& parsed, std::string_view location) {
    location = location.substr(0, location.find('#'));
    if (location.starts_with("http://") || location.starts_with("https://")) {
        return std::string(location);
    }
    const std::string scheme = parsed.scheme == UrlScheme::kHttps ? "https:" : "http:";
    if (location.starts_with("//")) {
        return scheme + std::string(location);
    }
    const std::string origin = scheme + "//" + parsed.Authority();
    if (location.starts_with("/")) {
        return origin + std::string(location);
    }
    const std::string_view path = std::string_view(parsed.path).substr(0, parsed.path.find('?'));
    return origin + std::string(path.substr(0, path.rfind('/') + 1)) + std::string(location);
}
