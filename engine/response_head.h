#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The head of one answer, parsed once: its status and the fields everything after it reads (the
// framing, the wait a site asks for). It views the bytes it was made from, which must outlive it.
class CResponseHead {
  public:
    // What ContentLength gives for lengths that cannot be believed.
    static constexpr std::int64_t kBadContentLength = -2;

    // A header block: the status line, the fields, and the blank line that ends them.
    explicit CResponseHead(std::string_view block) : block_(block) {}

    // The three digits after the first space, or -1 when they are not three digits.
    int Status() const;
    // The value of the first field called `name` (lower case, without the colon), without the
    // blanks around it; none when the head has no such field.
    std::optional<std::string_view> Field(const char* name) const;
    // The values of every field called `name`, in order (Set-Cookie comes once per cookie).
    std::vector<std::string_view> Fields(const char* name) const;
    // -1 when the head names no length, kBadContentLength when a value is not a plain decimal
    // number within 63 bits or when the values (of several lines, or of one line with commas)
    // differ. Equal repeats are one length.
    std::int64_t ContentLength() const;
    // Whether the server keeps the connection after this answer: HTTP/1.1 unless it says
    // "Connection: close", HTTP/1.0 only when it says "Connection: keep-alive".
    bool KeepsConnection() const;
    // The idle time a "Keep-Alive: timeout=N" field allows, when it names one.
    std::optional<std::chrono::seconds> KeepAliveTimeout() const;
    // The wait a Retry-After field asks for (seconds, or a date), as of `now`.
    std::optional<std::chrono::seconds> RetryAfter(std::chrono::system_clock::time_point now) const;

    // Offset just after the first CR LF CR LF, or -1 when the bytes hold none.
    static int FindEnd(const char* bytes, int count);

  private:
    // Calls `take` with the value of every field called `name`, in order, until it returns false.
    template <typename Take>
    void ForEachField(const char* name, Take take) const;

    std::string_view block_;
};

// Whether `text` is `lower` but for the case of its letters.
bool EqualsNoCase(std::string_view text, std::string_view lower);
// `text` with its ASCII letters in lower case.
std::string LowerCase(std::string_view text);

// What an answer's status means, judged in this one place for the fetcher and the run alike.
enum class Answer {
    kDocument,  // 200 to 300, as the exchange always took them: stored
    kMissing,   // 404 Not Found, 410 Gone: the site has no such document
    kWait,      // 429 Too Many Requests, 503 Service Unavailable: ask again later
    kFailed,    // anything else
};
Answer ClassifyStatus(int status);
// 301, 302, 303, 307 and 308: the document is elsewhere, where the Location field says.
bool IsRedirect(int status);
