#include "engine/http_request.h"

std::string HttpRequest::Bytes() const {
    std::string bytes = method + " " + target + " " + version + "\r\n";
    for (const auto& [name, value] : headers) {
        bytes += name + ": " + value + "\r\n";
    }
    return bytes + "\r\n";
}

HttpRequest DocumentRequest(const std::string& url, const Url& parsed,
                            const std::optional<ProxyServer>& proxy, HttpVersion version) {
    HttpRequest request;
    const bool https = parsed.scheme == UrlScheme::kHttps;
    const bool throughHttpProxy = proxy && !https;
    if (version == HttpVersion::k11) {
        request.version = "HTTP/1.1";
    }
    request.target =
        throughHttpProxy || (!https && version == HttpVersion::k10) ? url : parsed.path;
    if (https || version == HttpVersion::k11) {
        request.Add("Host", parsed.Authority());
        request.Add("User-Agent", "NOVUDownLoad/" NOVU_VERSION);
    }
    if (version == HttpVersion::k11) {
        request.Add("Accept-Encoding", "gzip");
    }
    if (throughHttpProxy && !proxy->authorization.empty()) {
        request.Add("Proxy-Authorization", proxy->authorization);
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
