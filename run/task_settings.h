#pragma once

#include <array>
#include <cstdint>
#include <string>

// The persisted record of both tasks: exactly 540 bytes on disk, little-endian 32-bit integers,
// two 260-byte fields holding zero-terminated base URLs. Serialised field by field.
struct TaskSettings {
    static constexpr std::size_t kUrlFieldSize = 260;
    static constexpr std::size_t kRecordSize = 540;
    using Bytes = std::array<std::uint8_t, kRecordSize>;

    std::string bbsUrl;                // offset 0: base URL of the BBS task, no trailing slash
    std::string documentUrl;           // offset 260: base URL of the Document task
    std::int32_t bbsEnabled = 0;       // offset 520: non-zero when ticked at the last Start
    std::int32_t documentEnabled = 0;  // offset 524
    std::int32_t bbsNumber = 0;        // offset 528: first number at Start, then the last reported
    std::int32_t documentNumber = 0;   // offset 532
    std::int32_t timeout = 0;          // offset 536: seconds, -1 no limit

    static TaskSettings Defaults();

    // A URL longer than 259 characters fills its field without a terminator.
    Bytes ToBytes() const;
    // A URL field without a terminator is read to the end of its 260 bytes, never beyond.
    static TaskSettings FromBytes(const Bytes& bytes);

    bool operator==(const TaskSettings&) const = default;
};

// The record's document numbers as the window shows them: Directory part and File part, both
// truncated toward zero. Composing wraps like the 32-bit arithmetic it stands for.
inline std::int32_t DirectoryPart(std::int32_t number) {
    return number / 1000;
}
inline std::int32_t FilePart(std::int32_t number) {
    return number % 1000;
}
std::int32_t ComposeNumber(std::int32_t directory, std::int32_t file);
