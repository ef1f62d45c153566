#include "engine/page_rules.h"

#include <utility>
#include <vector>

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

const char* FaultText(std::regex_constants::error_type code) {
    switch (code) {
        case std::regex_constants::error_brace:
        case std::regex_constants::error_badbrace:
            return "a bad {m,n} count";
        case std::regex_constants::error_escape:
            return "a bad escape";
        case std::regex_constants::error_range:
            return "a bad range in [...]";
        case std::regex_constants::error_collate:
        case std::regex_constants::error_ctype:
            return "an unknown class name";
        default:
            return "not a regular expression";
    }
}

// What is wrong with a pattern the library refused, and where, counted from 1. The faults a
// person makes most are found by reading the pattern (the library's own codes do not always
// name them): a parenthesis or "[" left open or closed alone, a quantifier with nothing before
// it, a lone backslash at the end. Anything else is the library's word, at the pattern's end.
std::pair<const char*, std::size_t> Fault(const std::string& pattern,
                                          std::regex_constants::error_type code) {
    const char* const kParen = "a parenthesis without its partner";
    std::size_t openBracket = std::string::npos;
    std::vector<std::size_t> parens;  // where each open parenthesis stands
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\') {
            if (i + 1 == pattern.size()) {
                return {"a backslash with nothing after it", i + 1};
            }
            ++i;
        } else if (openBracket != std::string::npos) {
            openBracket = c == ']' ? std::string::npos : openBracket;
        } else if (c == '[') {
            openBracket = i;
        } else if (c == '(') {
            parens.push_back(i);
        } else if (c == ')') {
            if (parens.empty()) {
                return {kParen, i + 1};
            }
            parens.pop_back();
        } else if ((c == '*' || c == '+' || c == '?') &&
                   (i == 0 || pattern[i - 1] == '(' || pattern[i - 1] == '|')) {
            return {"*, + or ? with nothing to repeat", i + 1};
        }
    }
    if (openBracket != std::string::npos) {
        return {"a \"[\" without its \"]\"", openBracket + 1};
    }
    if (!parens.empty()) {
        return {kParen, parens.back() + 1};
    }
    return {FaultText(code), pattern.size()};
}

}  // namespace

std::optional<std::regex> CompilePattern(const std::string& pattern, std::string* why) {
    try {
        return std::regex(pattern, std::regex::ECMAScript | std::regex::optimize);
    } catch (const std::regex_error& error) {
        if (why != nullptr) {
            const auto [fault, position] = Fault(pattern, error.code());
            *why =
                FormatText("%s at position %llu", fault, static_cast<unsigned long long>(position));
        }
        return std::nullopt;
    }
}

std::optional<PageRules::Kind> PageKindNamed(std::string_view name) {
    for (const PageRules::Kind kind :
         {PageRules::Kind::kAny, PageRules::Kind::kXml, PageRules::Kind::kHtml}) {
        if (name == KindName(kind)) {
            return kind;
        }
    }
    return std::nullopt;
}

std::optional<std::string> PageRules::MissingBecause(std::optional<std::string_view> contentType,
                                                     std::string_view bodyStart,
                                                     const PageSignature& signature,
                                                     const std::string& url) const {
    if (expect != Kind::kAny && contentType && !OfKind(*contentType, expect)) {
        return FormatText("Content-Type %s is not %s", std::string(*contentType).c_str(),
                          KindName(expect));
    }
    if (missingIfUrl && std::regex_search(url, *missingIfUrl)) {
        return std::string("missing_if_url");
    }
    if (missingIfSameAs && signature == *missingIfSameAs) {
        return std::string("the same as the page for a number the site does not have");
    }
    if (missingIfBody && std::regex_search(bodyStart.begin(), bodyStart.end(), *missingIfBody)) {
        return std::string("missing_if_body");
    }
    return std::nullopt;
}

bool LooksLikeLogin(std::string_view url) {
    // "auth" as in auth, oauth, authorize, authenticate, but not an author's or authority's page,
    // which a blog's or a forum's article may well move to.
    static const std::regex login("login|signin|auth(?!or(s|ity|ship)?([^a-z]|$))",
                                  std::regex::ECMAScript | std::regex::icase);
    // The path, not the host: a site at auth.example.org has documents too.
    const std::size_t scheme = url.find("://");
    const std::size_t path = url.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
    const std::string_view target = path == std::string_view::npos ? "" : url.substr(path);
    return std::regex_search(target.begin(), target.end(), login);
}
