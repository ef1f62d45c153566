#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/url.h"

// The cookies of a run: read from a cookie file in the Netscape format (as curl, wget and the
// browsers' export tools write it), sent with every request they match by domain, path, secure
// flag and expiry, and changed by the Set-Cookie fields of the answers. Every worker uses one jar
// at once; one lock guards it. Values never leave it but in Cookie fields and the file it writes.
class CCookieJar {
  public:
    struct Cookie {
        std::string domain;  // without a leading dot
        bool includeSubdomains = false;
        std::string path = "/";
        bool secure = false;
        std::int64_t expires = 0;  // seconds since 1970; 0: until the run ends
        std::string name, value;
        bool httpOnly = false;
    };

    // Takes the lines of a cookie file: seven tab-separated fields each (domain, subdomains
    // TRUE/FALSE, path, secure TRUE/FALSE, expiry, name, value); blank lines and "#" comments
    // skipped, "#HttpOnly_" read as the domain's mark. False, with "line N: <reason>" in `why`,
    // for the first line that is none of these; then the jar holds nothing.
    bool Load(std::string_view text, std::string* why);
    // The cookies in the same format, a line each, those of the run's end included.
    std::string Text() const;

    // The value of the Cookie field for a request to `url` at `now` (seconds since 1970), or
    // the empty text when no cookie matches: the longest paths first.
    std::string HeaderFor(const Url& url, std::int64_t now) const;
    // Takes one Set-Cookie value of an answer from `url`: a new cookie, a new value, or, when
    // expired, a cookie gone. One for another site (a Domain that is not the host's) is ignored.
    void Take(const Url& url, std::string_view setCookie, std::int64_t now);

  private:
    mutable std::mutex lock_;
    std::vector<Cookie> cookies_;
};
