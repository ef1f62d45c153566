#include "engine/http_request.h"

#include "engine/response_head.h"

namespace {

bool Configured(const HttpOptions& options, std::string_view lowerName) {
    for (const auto& [name, value] : options.headers) {
        if (EqualsNoCase(name, lowerName)) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string HttpRequest::Bytes() const {
    std::string bytes = method + " " + target + " " + version + "\r\n";
    for (const auto& [name, value] : headers) {
        bytes += name + ": " + value + "\r\n";
    }
    return bytes + "\r\n";
}

std::optional<std::pair<std::string, std::string>> ParseHeaderLine(std::string_view line,
                                                                   std::string* why) {
    const auto refuse = [&](const char* reason) {
        if (why != nullptr) {
            *why = reason;
        }
        return std::nullopt;
    };
    for (const char c : line) {
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
            return refuse("a header holds no CR, LF or other control character");
        }
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
        return refuse("a header is \"Name: value\", with a colon");
    }
    const std::string_view name = line.substr(0, colon);
    if (name.empty() || name.find_first_of(" \t\"(),/;<=>?@[\\]{}") != std::string_view::npos) {
        return refuse("a header's name is a word before the colon");
    }
    for (const char* own : {"host", "content-length", "transfer-encoding", "connection"}) {
        if (EqualsNoCase(name, own)) {
            return refuse(
                "Host, Content-Length, Transfer-Encoding and Connection are the "
                "exchange's own headers");
        }
    }
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
        value.remove_prefix(1);
    }
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
        value.remove_suffix(1);
    }
    return std::make_pair(std::string(name), std::string(value));
}

HttpRequest DocumentRequest(const std::string& url, const Url& parsed,
                            const std::optional<ProxyServer>& proxy, HttpVersion version,
                            const HttpOptions& options, const std::string& cookie) {
    HttpRequest request;
    const bool https = parsed.scheme == UrlScheme::kHttps;
    const bool throughHttpProxy = proxy && !https;
    if (version == HttpVersion::k11) {
        request.version = "HTTP/1.1";
    }
    request.target =
        throughHttpProxy || (!https && version == HttpVersion::k10) ? url : parsed.path;
    const bool oneZeroPlain = !https && version == HttpVersion::k10;
    if (!oneZeroPlain) {
        request.Add("Host", parsed.Authority());
    }
    if ((!oneZeroPlain || !options.userAgent.empty()) && !Configured(options, "user-agent")) {
        request.Add("User-Agent",
                    options.userAgent.empty() ? "NOVUDownLoad/" NOVU_VERSION : options.userAgent);
    }
    if (version == HttpVersion::k11 && !Configured(options, "accept-encoding")) {
        request.Add("Accept-Encoding", "gzip");
    }
    if (throughHttpProxy && !proxy->authorization.empty()) {
        request.Add("Proxy-Authorization", proxy->authorization);
    }
    request.headers.insert(request.headers.end(), options.headers.begin(), options.headers.end());
    if (!cookie.empty()) {
        request.Add("Cookie", cookie);
    }
    return request;
}

HttpRequest TunnelRequest(const std::string& authority, const std::string& authorization) {
    HttpRequest request{"CONNECT", authority, "HTTP/1.1", {}};
    request.Add("Host", authority);
    if (!authorization.empty()) {
        request.Add("Proxy-Authorization", authorization);
    }
    return request;
}
