#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace re2 {
class RE2;
}

// A regular expression that a user gives and a site's text is searched with. The matcher runs
// in time linear in the text and never recurses, so no page, however long or hostile, can make
// a search slow or overflow a worker's stack. The syntax is the common Perl-like one without
// back-references and look-arounds, which no linear matcher can offer. Copies share the
// compiled form; searches may run on any number of threads at once.
class CPattern {
  public:
    // The pattern, or none with the fault and its position in `why` ("a parenthesis without its
    // partner at position 5", "a back-reference (\1) is not supported at position 7").
    static std::optional<CPattern> Compile(const std::string& pattern, std::string* why);

    // Whether the pattern matches anywhere in `text`.
    bool Search(std::string_view text) const;
    const std::string& Text() const { return text_; }

  private:
    CPattern(std::string text, std::shared_ptr<const re2::RE2> compiled);

    std::string text_;
    std::shared_ptr<const re2::RE2> compiled_;
};
