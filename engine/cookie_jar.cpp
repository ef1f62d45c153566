#include "engine/cookie_jar.h"

#include <algorithm>
#include <optional>

#include "engine/response_head.h"
#include "engine/retry_after.h"
#include "support/decimal.h"
#include "support/text_format.h"

namespace {

constexpr std::string_view kHttpOnlyMark = "#HttpOnly_";

std::string_view Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t end = text.find(separator);
        parts.push_back(text.substr(0, end));
        if (end == std::string_view::npos) {
            return parts;
        }
        text.remove_prefix(end + 1);
    }
}

std::optional<bool> Flag(std::string_view text) {
    if (text == "TRUE") {
        return true;
    }
    if (text == "FALSE") {
        return false;
    }
    return std::nullopt;
}

bool DomainMatches(const std::string& host, const CCookieJar::Cookie& cookie) {
    if (host == cookie.domain) {
        return true;
    }
    return cookie.includeSubdomains && host.size() > cookie.domain.size() &&
           host.compare(host.size() - cookie.domain.size(), std::string::npos, cookie.domain) ==
               0 &&
           host[host.size() - cookie.domain.size() - 1] == '.';
}

bool PathMatches(std::string_view path, const std::string& cookiePath) {
    if (path.substr(0, path.find('?')).compare(0, cookiePath.size(), cookiePath) != 0) {
        return false;
    }
    return path.size() == cookiePath.size() || cookiePath.back() == '/' ||
           path[cookiePath.size()] == '/' || path[cookiePath.size()] == '?';
}

// The folder of a request's path, the default path of the cookies its answer sets.
std::string DefaultPath(std::string_view path) {
    path = path.substr(0, path.find('?'));
    const std::size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string_view::npos ? "/" : std::string(path.substr(0, slash));
}

// A site may set cookies for itself and the domains above it, never for another, nor for a
// top-level name such as "com", which would hand them to every site under it. An address is no
// domain: it takes cookies for itself alone.
bool MaySetFor(const std::string& host, const CCookieJar::Cookie& cookie) {
    if (!cookie.includeSubdomains || host == cookie.domain) {
        return true;
    }
    const bool address = host.find(':') != std::string::npos ||
                         host.find_first_not_of("0123456789.") == std::string::npos;
    const std::size_t dot = cookie.domain.find('.');
    const bool topLevel = dot == std::string::npos || dot == 0 || dot + 1 == cookie.domain.size();
    return !address && !topLevel && DomainMatches(host, cookie);
}

// Whether a name or value holds a byte that no cookie line may carry: a control character, a
// tab (the file's separator) or DEL.
bool HoldsControlBytes(std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool CCookieJar::Load(std::string_view text, std::string* why) {
    std::vector<Cookie> cookies;
    int lineNumber = 0;
    for (std::string_view line : Split(text, '\n')) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        Cookie cookie;
        if (line.substr(0, kHttpOnlyMark.size()) == kHttpOnlyMark) {
            cookie.httpOnly = true;
            line.remove_prefix(kHttpOnlyMark.size());
        } else if (Trim(line).empty() || line.front() == '#') {
            continue;
        }
        const std::vector<std::string_view> fields = Split(line, '\t');
        const char* problem = nullptr;
        const std::optional<bool> subdomains = fields.size() == 7 ? Flag(fields[1]) : false;
        const std::optional<bool> secure = fields.size() == 7 ? Flag(fields[3]) : false;
        const std::optional<std::int64_t> expires =
            fields.size() == 7 ? ParseDecimal<std::int64_t>(fields[4]) : 0;
        if (fields.size() != 7) {
            problem = "expected 7 tab-separated fields";
        } else if (fields[0].empty() || fields[0] == ".") {
            problem = "the first field (the domain) is empty";
        } else if (!subdomains || !secure) {
            problem = "the second and fourth fields are TRUE or FALSE";
        } else if (!expires) {
            problem = "the fifth field (the expiry) is a number of seconds";
        } else if (fields[5].empty()) {
            problem = "the sixth field (the name) is empty";
        } else if (std::any_of(fields.begin(), fields.end(), HoldsControlBytes)) {
            problem = "a control character";
        } else if (fields[5].size() + fields[6].size() > kLongestCookie) {
            problem = "a cookie longer than 4 KiB";
        } else if (fields[2].size() > kLongestPath) {
            problem = "a path longer than 1 KiB";
        } else if (cookies.size() == kMostCookies) {
            problem = "more than 3000 cookies";
        }
        if (problem != nullptr) {
            if (why != nullptr) {
                *why = FormatText("line %d: %s", lineNumber, problem);
            }
            return false;
        }
        cookie.domain = LowerCase(fields[0].front() == '.' ? fields[0].substr(1) : fields[0]);
        cookie.includeSubdomains = *subdomains;
        cookie.path = fields[2].empty() ? "/" : std::string(fields[2]);
        cookie.secure = *secure;
        cookie.expires = *expires;
        cookie.name = fields[5];
        cookie.value = fields[6];
        cookies.push_back(std::move(cookie));
    }
    std::lock_guard<std::mutex> lock(lock_);
    cookies_ = std::move(cookies);
    return true;
}

std::string CCookieJar::Text() const {
    std::string text = "# Netscape HTTP Cookie File\n";
    std::lock_guard<std::mutex> lock(lock_);
    for (const Cookie& c : cookies_) {
        text += FormatText("%s%s%s\t%s\t%s\t%s\t%lld\t%s\t%s\n", c.httpOnly ? "#HttpOnly_" : "",
                           c.includeSubdomains ? "." : "", c.domain.c_str(),
                           c.includeSubdomains ? "TRUE" : "FALSE", c.path.c_str(),
                           c.secure ? "TRUE" : "FALSE", static_cast<long long>(c.expires),
                           c.name.c_str(), c.value.c_str());
    }
    return text;
}

std::string CCookieJar::HeaderFor(const Url& url, std::int64_t now) const {
    const std::string host = LowerCase(url.host);
    std::vector<const Cookie*> matching;
    std::lock_guard<std::mutex> lock(lock_);
    for (const Cookie& cookie : cookies_) {
        if (DomainMatches(host, cookie) && PathMatches(url.path, cookie.path) &&
            (!cookie.secure || url.scheme == UrlScheme::kHttps) &&
            (cookie.expires == 0 || cookie.expires > now)) {
            matching.push_back(&cookie);
        }
    }
    std::stable_sort(matching.begin(), matching.end(), [](const Cookie* a, const Cookie* b) {
        return a->path.size() > b->path.size();
    });
    std::string header;
    for (const Cookie* cookie : matching) {
        const std::size_t length =
            (header.empty() ? 0 : 2) + cookie->name.size() + 1 + cookie->value.size();
        if (header.size() + length <= kLongestHeader) {
            header += (header.empty() ? "" : "; ") + cookie->name + "=" + cookie->value;
        }
    }
    return header;
}

void CCookieJar::Take(const Url& url, std::string_view setCookie, std::int64_t now) {
    const std::vector<std::string_view> parts = Split(setCookie, ';');
    const std::size_t equals = parts[0].find('=');
    if (equals == std::string_view::npos || Trim(parts[0].substr(0, equals)).empty()) {
        return;
    }
    Cookie cookie;
    cookie.name = Trim(parts[0].substr(0, equals));
    cookie.value = Trim(parts[0].substr(equals + 1));
    // A line the cookie file could not hold again, or one larger than browsers keep, is not
    // taken.
    if (HoldsControlBytes(cookie.name) || HoldsControlBytes(cookie.value) ||
        cookie.name.size() + cookie.value.size() > kLongestCookie) {
        return;
    }
    cookie.domain = LowerCase(url.host);
    cookie.path = DefaultPath(url.path);
    std::optional<std::int64_t> maxAge;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const std::size_t mark = parts[i].find('=');
        const std::string name = LowerCase(Trim(parts[i].substr(0, mark)));
        const std::string_view value =
            mark == std::string_view::npos ? std::string_view() : Trim(parts[i].substr(mark + 1));
        if (name == "domain" && !value.empty()) {
            cookie.domain = LowerCase(value.front() == '.' ? value.substr(1) : value);
            cookie.includeSubdomains = true;
        } else if (name == "path" && !value.empty() && value.front() == '/' &&
                   value.size() <= kLongestPath && !HoldsControlBytes(value)) {
            cookie.path = value;
        } else if (name == "secure") {
            cookie.secure = true;
        } else if (name == "httponly") {
            cookie.httpOnly = true;
        } else if (name == "max-age") {
            maxAge = ParseDecimal<std::int64_t>(value);
        } else if (name == "expires" && !maxAge) {
            if (const std::optional<std::int64_t> date = ParseHttpDate(value)) {
                cookie.expires = std::max<std::int64_t>(*date, 1);
            }
        }
    }
    if (maxAge) {
        cookie.expires = *maxAge <= 0 ? 1 : now + std::min<std::int64_t>(*maxAge, INT32_MAX);
    }
    // A Secure cookie is a secret of https: plain http may not set one (RFC 6265bis).
    if (!MaySetFor(LowerCase(url.host), cookie) ||
        (cookie.secure && url.scheme != UrlScheme::kHttps)) {
        return;
    }
    const bool keep = cookie.expires == 0 || cookie.expires > now;
    std::lock_guard<std::mutex> lock(lock_);
    const auto same = std::find_if(cookies_.begin(), cookies_.end(), [&](const Cookie& old) {
        return old.name == cookie.name && old.domain == cookie.domain && old.path == cookie.path;
    });
    if (same != cookies_.end()) {
        // A new value keeps the cookie's age, and so its place (RFC 6265 section 5.3).
        if (keep) {
            *same = std::move(cookie);
        } else {
            cookies_.erase(same);
        }
        return;
    }
    if (!keep) {
        return;
    }
    const std::string domain = cookie.domain;
    cookies_.push_back(std::move(cookie));
    // The oldest give way: first of the domain that has too many, then of all.
    if (std::count_if(cookies_.begin(), cookies_.end(), [&](const Cookie& c) {
            return c.domain == domain;
        }) > static_cast<std::ptrdiff_t>(kMostPerDomain)) {
        cookies_.erase(std::find_if(cookies_.begin(), cookies_.end(),
                                    [&](const Cookie& c) { return c.domain == domain; }));
    }
    if (cookies_.size() > kMostCookies) {
        cookies_.erase(cookies_.begin());
    }
}
