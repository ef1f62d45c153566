#include "engine/pattern.h"

#include <re2/re2.h>

#include <utility>
#include <vector>

#include "support/text_format.h"

namespace {

struct Fault {
    const char* text;
    std::size_t position;  // counted from 1
};

// The faults a person makes most, found by reading the pattern, so that the position is where
// the person looks: a parenthesis or "[" left open or closed alone, a quantifier with nothing
// before it, a lone backslash at the end.
std::optional<Fault> ReadFault(const std::string& pattern) {
    const char* const kParen = "a parenthesis without its partner";
    std::size_t openBracket = std::string::npos;
    std::vector<std::size_t> parens;  // where each open parenthesis stands
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '\\') {
            if (i + 1 == pattern.size()) {
                return Fault{"a backslash with nothing after it", i + 1};
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
                return Fault{kParen, i + 1};
            }
            parens.pop_back();
        } else if ((c == '*' || c == '+' || c == '?') &&
                   (i == 0 || pattern[i - 1] == '|' ||
                    (pattern[i - 1] == '(' && c != '?'))) {  // "(?" begins a group's flags
            return Fault{"*, + or ? with nothing to repeat", i + 1};
        }
    }
    if (openBracket != std::string::npos) {
        return Fault{"a \"[\" without its \"]\"", openBracket + 1};
    }
    if (!parens.empty()) {
        return Fault{kParen, parens.back() + 1};
    }
    return std::nullopt;
}

// The matcher's own word for what it refused, at the place it names.
std::string MatcherFault(const std::string& pattern, const re2::RE2& refused) {
    const std::string& arg = refused.error_arg();
    const std::size_t found = arg.empty() ? std::string::npos : pattern.find(arg);
    const std::size_t position = found == std::string::npos ? pattern.size() : found + 1;
    const char* text = "not a regular expression";
    switch (refused.error_code()) {
        case re2::RE2::ErrorBadEscape:
            text = arg.size() == 2 && arg[1] >= '1' && arg[1] <= '9'
                       ? "a back-reference is not supported"
                       : "a bad escape";
            break;
        case re2::RE2::ErrorBadPerlOp:
            text = arg.starts_with("(?=") || arg.starts_with("(?!") || arg.starts_with("(?<")
                       ? "a look-ahead or look-behind is not supported"
                       : "a bad (? group";
            break;
        case re2::RE2::ErrorBadCharClass:
            text = "an unknown class name";
            break;
        case re2::RE2::ErrorBadCharRange:
            text = "a bad range in [...]";
            break;
        case re2::RE2::ErrorRepeatSize:
            text = "a bad {m,n} count";
            break;
        case re2::RE2::ErrorRepeatOp:
            text = "a repetition of a repetition";
            break;
        case re2::RE2::ErrorBadUTF8:
            text = "a byte that is not UTF-8";
            break;
        case re2::RE2::ErrorBadNamedCapture:
            text = "a bad group name";
            break;
        case re2::RE2::ErrorPatternTooLarge:
            return "a pattern too large";
        default:
            break;
    }
    const std::string shown = arg.empty() ? std::string() : " (" + arg + ")";
    return FormatText("%s%s at position %llu", text, shown.c_str(),
                      static_cast<unsigned long long>(position));
}

}  // namespace

CPattern::CPattern(std::string text, std::shared_ptr<const re2::RE2> compiled)
    : text_(std::move(text)), compiled_(std::move(compiled)) {}

std::optional<CPattern> CPattern::Compile(const std::string& pattern, std::string* why) {
    re2::RE2::Options options;
    options.set_log_errors(false);  // the fault is told to the user, not to standard error
    auto compiled = std::make_shared<const re2::RE2>(pattern, options);
    if (compiled->ok()) {
        return CPattern(pattern, std::move(compiled));
    }
    if (why != nullptr) {
        const std::optional<Fault> read = ReadFault(pattern);
        *why = read ? FormatText("%s at position %llu", read->text,
                                 static_cast<unsigned long long>(read->position))
                    : MatcherFault(pattern, *compiled);
    }
    return std::nullopt;
}

bool CPattern::Search(std::string_view text) const {
    return re2::RE2::PartialMatch(re2::StringPiece(text.data(), text.size()), *compiled_);
}
