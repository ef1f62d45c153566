#include "engine/retry_after.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "support/decimal.h"

namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

template <typename T>
std::optional<T> Field(std::string_view text, std::size_t at, std::size_t length) {
    return at + length <= text.size() ? ParseDecimal<T>(text.substr(at, length)) : std::nullopt;
}

}  // namespace

std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
    if (text.size() != 29 || text.substr(3, 2) != ", " || text.substr(25) != " GMT" ||
        (text[7] != ' ' && text[7] != '-') || text[7] != text[11] || text[16] != ' ' ||
        text[19] != ':' || text[22] != ':') {
        return std::nullopt;
    }
    unsigned month = 0;
    while (month < kMonths.size() && kMonths[month] != text.substr(8, 3)) {
        ++month;
    }
    const auto day = Field<unsigned>(text, 5, 2);
    const auto year = Field<int>(text, 12, 4);
    const auto hour = Field<int>(text, 17, 2);
    const auto minute = Field<int>(text, 20, 2);
    const auto second = Field<int>(text, 23, 2);
    if (month == kMonths.size() || !day || !year || !hour || !minute || !second || *day < 1 ||
        *day > 31 || *hour > 23 || *minute > 59 || *second > 60) {
        return std::nullopt;
    }
    const std::int64_t days = DaysFromCivil(*year, month + 1, *day);
    return days * 86400 + std::int64_t{*hour} * 3600 + *minute * 60 + *second;
}

std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value,
                                                    std::chrono::system_clock::time_point now) {
    if (!value.empty() && value.find_first_not_of("0123456789") == std::string_view::npos) {
        // Seconds; more than the type holds is simply a very long wait.
        const std::optional<std::int64_t> seconds = ParseDecimal<std::int64_t>(value);
        return std::chrono::seconds(seconds ? *seconds : INT64_MAX / 2);
    }
    const std::optional<std::int64_t> date = ParseHttpDate(value);
    if (!date) {
        return std::nullopt;
    }
    const std::int64_t nowSeconds =
        std::chrono::floor<std::chrono::seconds>(now.time_since_epoch()).count();
    return std::chrono::seconds(std::max<std::int64_t>(*date - nowSeconds, 0));
}
