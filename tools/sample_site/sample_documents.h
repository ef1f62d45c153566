#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The sample site's documents: generated, deterministic and of varied sizes, so that a stored
// file can be checked byte for byte.
namespace sample_site {

enum class Series { kTopic, kArticle };  // forum topics (.xml) and articles (.shtm)

struct DocumentRequest {
    Series series;
    std::int32_t number;
};

// Recognises "GET <URL ending in /<n/1000>/<n>.xml or .shtm> HTTP/1.0" (or HTTP/1.1).
std::optional<DocumentRequest> ParseRequest(const std::string& request);

// The document of a number; `padBytes` more bytes of comment make it as large as a test needs.
std::string Document(Series series, std::int32_t number, std::size_t padBytes = 0);

// How the site misbehaves for a number: by its remainder modulo 100.
enum class Fault { kNone, kNotFound, kRedirect, kStall, kShortBody };

struct FaultRule {
    Fault fault;
    int remainder;  // 0..99
};

// "404:13,302:42,short:77,stall:99" (the default) or "none". False on a malformed list.
bool ParseFaultRules(const std::string& text, std::vector<FaultRule>& rules);
inline constexpr const char* kDefaultFaultRules = "404:13,302:42,short:77,stall:99";
Fault FaultFor(const std::vector<FaultRule>& rules, std::int32_t number);

}  // namespace sample_site
