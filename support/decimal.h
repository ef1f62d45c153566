#pragma once

#include <charconv>
#include <optional>
#include <string_view>

// The one way the program reads a decimal number from text: the whole text is the number, digits
// with an optional leading minus and nothing else (no spaces, no plus sign), and it fits the
// type. None for anything else.
template <typename Integer>
std::optional<Integer> ParseDecimal(std::string_view text) {
    Integer value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}
