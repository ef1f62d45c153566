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
    // What a jar holds at most, as browsers keep them (RFC 6265 section 6.1): so many cookies a
    // domain and in all, the oldest going first, each of at most so many bytes of name and value.
    static constexpr std::size_t kMostPerDomain = 50;
    static constexpr std::size_t kMostCookies = 3000;
    static constexpr std::size_t kLongestCookie = 4096;
    // The longest Path kept; a longer attribute is ignored.
    static constexpr std::size_t kLongestPath = 1024;
    // The longest Cookie field sent: cookies that would make it longer stay at home.
    static constexpr std::size_t kLongestHeader = 8192;
    // The largest cookie file read: room for the most cookies a jar holds at their longest.
    static constexpr int kLargestFile = 32 << 20;

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
    // for the first line that is none of these, holds a control character, a cookie or path
    // longer than a jar keeps, or more cookies than a jar holds; then the jar holds nothing.
    // Whatever Text() writes is taken.
    bool Load(std::string_view text, std::string* why);
    // The cookies in the same format, a line each, those of the run's end included.
    std::string Text() const;

    // The value of the Cookie field for a request to `url` at `now` (seconds since 1970), or
    // the empty text when no cookie matches: the longest paths first, then the oldest, as many
    // as fit kLongestHeader.
    std::string HeaderFor(const Url& url, std::int64_t now) const;
    // Takes one Set-Cookie value of an answer from `url`: a new cookie, a new value (keeping its
    // age), or, when expired, a cookie gone. Ignored: one for another site (a Domain that is not
    // the host's), a Secure one from plain http, one longer than kLongestCookie, and a name or
    // value with a control character or tab.
    void Take(const Url& url, std::string_view setCookie, std::int64_t now);

  private:
    mutable std::mutex lock_;
    std::vector<Cookie> cookies_;  // guarded by lock_; oldest first
};
