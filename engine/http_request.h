#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/proxy_settings.h"
#include "engine/url.h"

// One request as data: a method, a target, a version and header lines in order. The modes of
// the exchange choose these values; the bytes are made in one place, Bytes().
struct HttpRequest {
    std::string method = "GET";
    std::string target;  // "/path", an absolute URL, or "host:port" for CONNECT
    std::string version = "HTTP/1.0";
    std::vector<std::pair<std::string, std::string>> headers;

    void Add(std::string name, std::string value) {
        headers.emplace_back(std::move(name), std::move(value));
    }
    // "<method> <target> <version>" CR LF, each "Name: value" CR LF, then CR LF.
    std::string Bytes() const;
};

// Which exchange a document is fetched with: HTTP/1.0, one connection each, or HTTP/1.1 over
// persistent connections.
enum class HttpVersion { k10, k11 };

// The request for one document. HTTP/1.0 over plain http: the whole URL as target and no header
// but a proxy's credentials, so that "GET <URL> HTTP/1.0" CR LF CR LF reaches a site as it
// always did. Otherwise the origin form (the whole URL to an http proxy) with Host and
// User-Agent, inside the tunnel when an https request goes through a proxy; HTTP/1.1 asks for
// gzip.
HttpRequest DocumentRequest(const std::string& url, const Url& parsed,
                            const std::optional<ProxyServer>& proxy, HttpVersion version);

// A proxy's tunnel to `authority` ("host:port"), with its credentials when given.
HttpRequest TunnelRequest(const std::string& authority, const std::string& authorization);
