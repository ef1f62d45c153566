#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/fetch_failure.h"
#include "engine/pattern.h"

// What a sampling read keeps of a page: its first bytes, decoded, and whether they are all of it;
// and, when it read all of it, its length and its Content-Type.
struct PageSample {
    std::string start;
    bool whole = false;
    std::uint64_t length = 0;
    std::string type;
};

class CPageLikeness;

// What a page like the site's answer for a number far past the series is missing by.
inline constexpr const char* kSameAsTheMissingPage =
    "the same as the page for a number the site does not have";

// What tells a page that came with a 2xx status from a document: sites that answer 200 with
// "topic not found" (a missing page, not stored, counted as a 404 would be), with their login
// page (a login wall), or with a page of another type than their documents (a failure).
struct PageRules {
    // The part of a decoded body that the rules read.
    static constexpr std::size_t kBodySearched = 64 * 1024;
    enum class Kind { kAny, kXml, kHtml };

    std::optional<CPattern> missingIfBody;  // searched in the first kBodySearched bytes
    std::optional<CPattern> missingIfUrl;   // searched in the URL the page came from
    Kind expect = Kind::kAny;               // a Content-Type of another kind is a missing page
    // The media types a document may have ("text/x-wiki"); a page of another type fails.
    std::vector<std::string> expectTypes;
    std::optional<CPattern> wallIfBody;  // a login page: searched in the first kBodySearched
    // The page the site gave for numbers far past the series, as far as it was read: one like
    // it is missing.
    std::shared_ptr<const CPageLikeness> missingIfLike;

    bool NeedsBody() const { return missingIfBody || missingIfLike || wallIfBody; }
    // What the page is, if not a document: a login page (kLoginPage), one of another media type
    // (kWrongType), or a missing page (kMissingPage, with the rule MissingBecause names), each
    // with `status`.
    std::optional<FetchFailure> Refusal(std::optional<std::string_view> contentType,
                                        std::string_view bodyStart, std::uint64_t length,
                                        const std::string& url, int status) const;
    // Which rule marks the page missing, given the first kBodySearched bytes of its decoded body
    // and its whole length ("missing_if_body", "missing_if_url", or "Content-Type text/html is
    // not xml"), or none when it is a document. A page without a Content-Type is judged by the
    // other rules alone.
    std::optional<std::string> MissingBecause(std::optional<std::string_view> contentType,
                                              std::string_view bodyStart, std::uint64_t length,
                                              const std::string& url) const;
};

// A regular expression, or none with the reason and the position of the fault (counted from 1)
// in `why`.
inline std::optional<CPattern> CompilePattern(const std::string& pattern, std::string* why) {
    return CPattern::Compile(pattern, why);
}
// "xml", "html" or "any"; none for anything else.
std::optional<PageRules::Kind> PageKindNamed(std::string_view name);
// What `expect` says, a kind alone or media types ("text/x-wiki"), into `rules`; false, with why,
// for anything else.
bool TakeExpectation(const std::vector<std::string>& values, PageRules& rules, std::string* why);

// Whether a redirect's target looks like a login page: its path holds login, signin or auth (not
// author or authority), in any case.
bool LooksLikeLogin(std::string_view url);
