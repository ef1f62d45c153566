#include "engine/proxy_settings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "support/decimal.h"

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Credentials in a URL may be percent-encoded ("p%40ss" for "p@ss").
std::string PercentDecoded(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// "[http://][user:password@]host[:port][/]"
std::optional<ProxyServer> ParseProxy(std::string text) {
    text = Trim(text);
    if (text.empty()) {
        return std::nullopt;
    }
    ProxyServer proxy;
    const std::size_t scheme = text.find("://");
    if (scheme != std::string::npos) {
        if (Lower(text.substr(0, scheme)) != "http") {
            proxy.problem = "only http:// proxies are supported, not " + text.substr(0, scheme);
            return proxy;
        }
        text = text.substr(scheme + 3);
    }
    text = text.substr(0, text.find('/'));
    const std::size_t at = text.rfind('@');
    if (at != std::string::npos) {
        proxy.authorization = "Basic " + Base64(PercentDecoded(text.substr(0, at)));
        text = text.substr(at + 1);
    }
    std::string portText;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        proxy.host = close == std::string::npos ? "" : text.substr(1, close - 1);
        if (close != std::string::npos && close + 1 < text.size() && text[close + 1] == ':') {
            portText = text.substr(close + 2);
        }
    } else {
        const std::size_t colon = text.rfind(':');
        proxy.host = text.substr(0, colon);
        if (colon != std::string::npos) {
            portText = text.substr(colon + 1);
        }
    }
    if (!portText.empty()) {
        const std::optional<int> port = ParseDecimal<int>(portText);
        if (!port || *port < 1 || *port > 65535) {
            proxy.problem = "bad port in the proxy URL";
        } else {
            proxy.port = *port;
        }
    }
    if (proxy.host.empty()) {
        proxy.problem = "no host in the proxy URL";
    }
    return proxy;
}

}  // namespace

std::string Base64(const std::string& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], kDigits[v & 63]};
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += {kDigits[v >> 18], kDigits[(v >> 12) & 63], kDigits[(v >> 6) & 63], '='};
    }
    return out;
}

ProxySettings ProxySettings::FromEnvironment() {
    // Only the lower-case http_proxy counts: HTTP_PROXY can be set by a web server for its CGI
    // programs from a request's "Proxy:" header.
    std::string https = Environment("https_proxy");
    if (https.empty()) {
        https = Environment("HTTPS_PROXY");
    }
    std::string noProxy = Environment("no_proxy");
    if (noProxy.empty()) {
        noProxy = Environment("NO_PROXY");
    }
    return From(Environment("http_proxy"), https, noProxy);
}

ProxySettings ProxySettings::From(const std::string& httpProxy, const std::string& httpsProxy,
                                  const std::string& noProxy) {
    ProxySettings settings;
    settings.http_ = ParseProxy(httpProxy);
    settings.https_ = ParseProxy(httpsProxy);
    std::size_t start = 0;
    while (start <= noProxy.size()) {
        const std::size_t comma = std::min(noProxy.find(',', start), noProxy.size());
        std::string entry = Lower(Trim(noProxy.substr(start, comma - start)));
        start = comma + 1;
        if (entry == "*") {
            settings.noProxyForAll_ = true;
        }
        if (entry.starts_with('[')) {
            entry = entry.substr(1, entry.find(']') - 1);
        } else if (entry.find(':') != std::string::npos && entry.find(':') == entry.rfind(':')) {
            entry = entry.substr(0, entry.find(':'));  // a port is not part of the match
        }
        while (entry.starts_with('.')) {
            entry.erase(0, 1);
        }
        if (!entry.empty()) {
            settings.noProxy_.push_back(entry);
        }
    }
    return settings;
}

bool ProxySettings::Bypasses(const std::string& host) const {
    if (noProxyForAll_) {
        return true;
    }
    const std::string name = Lower(host);
    for (const std::string& entry : noProxy_) {
        if (name == entry || (name.size() > entry.size() && name.ends_with(entry) &&
                              name[name.size() - entry.size() - 1] == '.')) {
            return true;
        }
    }
    return false;
}

std::optional<ProxyServer> ProxySettings::For(const Url& url) const {
    const std::optional<ProxyServer>& proxy = url.scheme == UrlScheme::kHttps ? https_ : http_;
    if (!proxy || Bypasses(url.host)) {
        return std::nullopt;
    }
    return proxy;
}
