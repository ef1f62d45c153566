#include "tools/sample_site/sample_documents.h"
#include "support/decimal.h"

#include <re2/re2.h>

#include <cstdlib>
#include <sstream>

namespace sample_site {

std::optional<DocumentRequest> ParseRequest(const std::string& request) {
    // The program asks with the absolute URL; a browser's or curl's path-only form is welcome too.
    static const RE2 line(
        R"(^GET (?:http://[^/ ]+)?(?:/[^ ]*)?/(-?\d+)/(-?\d+)\.(xml|shtm) HTTP/1\.[01]\r\n)");
    std::string thousandText, numberText, extension;
    if (!RE2::PartialMatch(request, line, &thousandText, &numberText, &extension)) {
        return std::nullopt;
    }
    const std::optional<std::int32_t> number = ParseDecimal<std::int32_t>(numberText);
    const std::optional<std::int32_t> thousand = ParseDecimal<std::int32_t>(thousandText);
    if (!number || !thousand || *number / 1000 != *thousand) {
        return std::nullopt;
    }
    return DocumentRequest{extension == "xml" ? Series::kTopic : Series::kArticle, *number};
}

namespace {

// A cheap, fixed pseudo-random sequence per number, so sizes and words vary but never change.
std::uint32_t Mix(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

const char* const kWords[] = {"thread", "socket",  "mirror",  "archive", "forum",
                              "reply",  "article", "number",  "folder",  "status",
                              "worker", "timeout", "release", "notice"};

std::string Paragraph(std::uint32_t seed, int words) {
    std::string text;
    for (int i = 0; i < words; ++i) {
        seed = Mix(seed + static_cast<std::uint32_t>(i));
        if (i > 0)
            text += ' ';
        text += kWords[seed % (sizeof kWords / sizeof kWords[0])];
    }
    return text;
}

std::string Padding(std::size_t bytes) {
    return bytes == 0 ? std::string() : "<!--" + std::string(bytes, '-') + "-->\r\n";
}

}  // namespace

std::string Document(Series series, std::int32_t number, std::size_t padBytes) {
    const auto seed =
        Mix(static_cast<std::uint32_t>(number) * 2u + (series == Series::kTopic ? 1u : 0u));
    const int paragraphs =
        1 + static_cast<int>(seed % 40);  // from a few hundred bytes to several KiB
    std::ostringstream out;
    if (series == Series::kTopic) {
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<topic id=\"" << number << "\">\r\n"
            << "  <title>Topic " << number << ": " << Paragraph(seed, 4) << "</title>\r\n";
        for (int i = 0; i < paragraphs; ++i) {
            out << "  <reply n=\"" << i + 1 << "\">"
                << Paragraph(seed + static_cast<std::uint32_t>(i), 12 + i % 9) << "</reply>\r\n";
        }
        out << Padding(padBytes) << "</topic>\r\n";
    } else {
        out << "<html>\r\n<head><title>Article " << number << "</title></head>\r\n<body>\r\n<h1>"
            << Paragraph(seed, 5) << "</h1>\r\n";
        for (int i = 0; i < paragraphs; ++i) {
            out << "<p>" << Paragraph(seed ^ static_cast<std::uint32_t>(i * 31), 20 + i % 13)
                << "</p>\r\n";
        }
        out << Padding(padBytes) << "</body>\r\n</html>\r\n";
    }
    return out.str();
}

bool ParseFaultRules(const std::string& text, std::vector<FaultRule>& rules) {
    rules.clear();
    if (text == "none") {
        return true;
    }
    std::istringstream list(text);
    for (std::string item; std::getline(list, item, ',');) {
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos)
            return false;
        const std::string kind = item.substr(0, colon);
        const std::optional<int> remainder = ParseDecimal<int>(item.substr(colon + 1));
        if (!remainder || *remainder < 0 || *remainder > 99)
            return false;
        Fault fault;
        if (kind == "404")
            fault = Fault::kNotFound;
        else if (kind == "302")
            fault = Fault::kRedirect;
        else if (kind == "stall")
            fault = Fault::kStall;
        else if (kind == "short")
            fault = Fault::kShortBody;
        else
            return false;
        rules.push_back({fault, *remainder});
    }
    return true;
}

Fault FaultFor(const std::vector<FaultRule>& rules, std::int32_t number) {
    const int remainder = static_cast<int>(((number % 100) + 100) % 100);
    for (const FaultRule& rule : rules) {
        if (rule.remainder == remainder)
            return rule.fault;
    }
    return Fault::kNone;
}

}  // namespace sample_site
