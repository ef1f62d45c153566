#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A text with places for a document's number: "{n}" the number, "{n:0W}" the number padded
// with zeros to W digits (W from 1 to 10), "{n/1000}" the number of its thousands folder.
// Everything else is taken as it stands.
class CNumberTemplate {
  public:
    // The template of `text`, or none with the reason in `why`: an unknown or unclosed
    // placeholder, or none for the number itself ({n} or {n:0W}).
    static std::optional<CNumberTemplate> Parse(std::string_view text, std::string* why = nullptr);

    std::string Expand(std::int32_t number) const;
    // The longest expansion any number from 0 to 2147483647 gives.
    std::string ExpandLongest() const { return Expand(INT32_MAX); }

  private:
    struct Piece {
        enum Kind { kText, kNumber, kThousands } kind;
        std::string text;  // kText
        int width = 0;     // kNumber: the padded width, 0 for none
    };
    std::vector<Piece> pieces_;
};

// Whether `text` holds a placeholder at all: a URL without one keeps the fixed layout.
inline bool IsNumberTemplate(std::string_view text) {
    return text.find('{') != std::string_view::npos;
}
