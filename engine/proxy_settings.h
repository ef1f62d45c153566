#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/url.h"

// An HTTP proxy to go through: where it listens and what to tell it.
struct ProxyServer {
    std::string host;
    int port = 1080;            // curl's default when the proxy URL names none
    std::string authorization;  // "Basic <base64>" from user:password@, or empty
    std::string problem;        // why this proxy cannot be used (an unsupported URL), or empty
};

// The environment's proxies, read as curl and wget read them: http_proxy for http URLs,
// https_proxy or HTTPS_PROXY for https URLs, and no_proxy or NO_PROXY for the hosts that are
// reached directly (comma-separated names or domain suffixes, "*" for all).
class ProxySettings {
  public:
    static ProxySettings FromEnvironment();
    // Parses the values as the variables would hold them (empty: none).
    static ProxySettings From(const std::string& httpProxy, const std::string& httpsProxy,
                              const std::string& noProxy);

    // The proxy that a URL goes through, or none when it is reached directly.
    std::optional<ProxyServer> For(const Url& url) const;

  private:
    bool Bypasses(const std::string& host) const;

    std::optional<ProxyServer> http_;
    std::optional<ProxyServer> https_;
    std::vector<std::string> noProxy_;  // lower case, without a leading dot
    bool noProxyForAll_ = false;
};

// The text after "Basic " of an authorization for `credentials` ("user:password").
std::string Base64(const std::string& bytes);
