#include "engine/page_rules.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "engine/page_likeness.h"
#include "engine/response_head.h"
#include "support/text_format.h"

namespace {

const char* KindName(PageRules::Kind kind) {
    return kind == PageRules::Kind::kXml ? "xml" : kind == PageRules::Kind::kHtml ? "html" : "any";
}

bool OfKind(std::string_view contentType, PageRules::Kind kind) {
    const std::string type = LowerCase(contentType.substr(0, contentType.find(';')));
    if (kind == PageRules::Kind::kHtml) {
        return type.find("html") != std::string::npos;  // text/html, application/xhtml+xml
    }
    return type.find("xml") != std::string::npos && type.find("html") == std::string::npos;
}

}  // namespace

std::optional<PageRules::Kind> PageKindNamed(std::string_view name) {
    for (const PageRules::Kind kind :
         {PageRules::Kind::kAny, PageRules::Kind::kXml, PageRules::Kind::kHtml}) {
        if (name == KindName(kind)) {
            return kind;
        }
    }
    return std::nullopt;
}

std::optional<FetchFailure> PageRules::Refusal(std::optional<std::string_view> contentType,
                                               std::string_view bodyStart, std::uint64_t length,
                                               const std::string& url, int status) const {
    if (wallIfBody && wallIfBody->Search(bodyStart)) {
        return FetchFailure(FetchError::kLoginPage, status);
    }
    if (!expectTypes.empty() && contentType) {
        std::string type = LowerCase(contentType->substr(0, contentType->find(';')));
        type.erase(type.find_last_not_of(" \t") + 1);
        if (std::find(expectTypes.begin(), expectTypes.end(), type) == expectTypes.end()) {
            return FetchFailure(FetchError::kWrongType, status, type);
        }
    }
    if (std::optional<std::string> missing = MissingBecause(contentType, bodyStart, length, url)) {
        return FetchFailure(FetchError::kMissingPage, status, std::move(*missing));
    }
    return std::nullopt;
}

bool TakeExpectation(const std::vector<std::string>& values, PageRules& rules, std::string* why) {
    const auto refuse = [&](const std::string& reason) {
        if (why != nullptr) {
            *why = reason;
        }
        return false;
    };
    if (values.size() == 1) {
        if (const std::optional<PageRules::Kind> kind = PageKindNamed(values[0])) {
            rules.expect = *kind;
            rules.expectTypes.clear();
            return true;
        }
    }
    std::vector<std::string> types;
    for (const std::string& value : values) {
        // type/subtype: two tokens of the characters media types are written with.
        const std::size_t slash = value.find('/');
        const auto token = [](std::string_view text) {
            return !text.empty() && text.find_first_not_of(
                                        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                        "0123456789!#$&^_.+-") == std::string_view::npos;
        };
        if (slash == std::string::npos || !token(std::string_view(value).substr(0, slash)) ||
            !token(std::string_view(value).substr(slash + 1))) {
            return refuse(
                "\"xml\", \"html\", \"any\" or media types such as \"text/x-wiki\", "
                "not \"" +
                value + "\"");
        }
        types.push_back(LowerCase(value));
    }
    if (types.empty()) {
        return refuse("at least one media type");
    }
    rules.expect = PageRules::Kind::kAny;
    rules.expectTypes = std::move(types);
    return true;
}

std::optional<std::string> PageRules::MissingBecause(std::optional<std::string_view> contentType,
                                                     std::string_view bodyStart,
                                                     std::uint64_t length,
                                                     const std::string& url) const {
    if (expect != Kind::kAny && contentType && !OfKind(*contentType, expect)) {
        return FormatText("Content-Type %s is not %s", std::string(*contentType).c_str(),
                          KindName(expect));
    }
    if (missingIfUrl && missingIfUrl->Search(url)) {
        return std::string("missing_if_url");
    }
    if (missingIfLike && missingIfLike->Matches(bodyStart, length == bodyStart.size())) {
        return std::string(kSameAsTheMissingPage);
    }
    if (missingIfBody && missingIfBody->Search(bodyStart)) {
        return std::string("missing_if_body");
    }
    return std::nullopt;
}

bool LooksLikeLogin(std::string_view url) {
    // The path, not the host: a site at auth.example.org has documents too.
    const std::size_t scheme = url.find("://");
    const std::size_t path = url.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
    const std::string target = LowerCase(path == std::string_view::npos ? "" : url.substr(path));
    if (target.find("login") != std::string::npos || target.find("signin") != std::string::npos) {
        return true;
    }
    // "auth" as in auth, oauth, authorize, authenticate, but not an author's or authority's page,
    // which a blog's or a forum's article may well move to.
    for (std::size_t at = target.find("auth"); at != std::string::npos;
         at = target.find("auth", at + 1)) {
        const std::string_view rest = std::string_view(target).substr(at + 4);
        bool person = false;
        for (const std::string_view word : {"or", "ors", "ority", "orship"}) {
            person = person || (rest.starts_with(word) &&
                                (rest.size() == word.size() || rest[word.size()] < 'a' ||
                                 rest[word.size()] > 'z'));
        }
        if (!person) {
            return true;
        }
    }
    return false;
}
