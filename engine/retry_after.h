#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string_view>

// How long a server that answered 429 or 503 asks to be left alone, from the value of its
// Retry-After line: whole seconds, or an HTTP date (such as "Wed, 21 Oct 2015 07:28:00 GMT")
// taken against `now`; a date already past asks for no wait. None for anything else.
std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value,
                                                    std::chrono::system_clock::time_point now);

// "Sun, 06 Nov 1994 08:49:37 GMT" (or, as cookies write it, "Sun, 06-Nov-1994 08:49:37 GMT") as
// seconds since 1970; none for anything else. Kept in seconds: the clock's own unit would
// overflow for years past 2262.
std::optional<std::int64_t> ParseHttpDate(std::string_view text);
