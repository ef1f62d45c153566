#include "run/task_settings.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kBbsUrlOffset = 0;
constexpr std::size_t kDocumentUrlOffset = 260;
constexpr std::size_t kBbsEnabledOffset = 520;
constexpr std::size_t kDocumentEnabledOffset = 524;
constexpr std::size_t kBbsNumberOffset = 528;
constexpr std::size_t kDocumentNumberOffset = 532;
constexpr std::size_t kTimeoutOffset = 536;

void PutInt(TaskSettings::Bytes& bytes, std::size_t offset, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
}

std::int32_t GetInt(const TaskSettings::Bytes& bytes, std::size_t offset) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        bits |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
    }
    return static_cast<std::int32_t>(bits);
}

void PutUrl(TaskSettings::Bytes& bytes, std::size_t offset, const std::string& url) {
    const std::size_t length = std::min(url.size(), TaskSettings::kUrlFieldSize);
    std::memcpy(bytes.data() + offset, url.data(), length);
}

std::string GetUrl(const TaskSettings::Bytes& bytes, std::size_t offset) {
    const char* field = reinterpret_cast<const char*>(bytes.data() + offset);
    const void* terminator = std::memchr(field, '\0', TaskSettings::kUrlFieldSize);
    const std::size_t length =
        terminator != nullptr
            ? static_cast<std::size_t>(static_cast<const char*>(terminator) - field)
            : TaskSettings::kUrlFieldSize;
    return std::string(field, length);
}

}  // namespace

TaskSettings TaskSettings::Defaults() {
    TaskSettings settings;
    settings.bbsUrl = "http://bbs.novu.example/Expert/topic";
    settings.documentUrl = "http://www.novu.example/develop/article";
    settings.bbsEnabled = 1;
    settings.documentEnabled = 1;
    settings.bbsNumber = 1318001;
    settings.documentNumber = 1001;
    settings.timeout = 10;
    return settings;
}

TaskSettings::Bytes TaskSettings::ToBytes() const {
    Bytes bytes{};
    PutUrl(bytes, kBbsUrlOffset, bbsUrl);
    PutUrl(bytes, kDocumentUrlOffset, documentUrl);
    PutInt(bytes, kBbsEnabledOffset, bbsEnabled);
    PutInt(bytes, kDocumentEnabledOffset, documentEnabled);
    PutInt(bytes, kBbsNumberOffset, bbsNumber);
    PutInt(bytes, kDocumentNumberOffset, documentNumber);
    PutInt(bytes, kTimeoutOffset, timeout);
    return bytes;
}

TaskSettings TaskSettings::FromBytes(const Bytes& bytes) {
    TaskSettings settings;
    settings.bbsUrl = GetUrl(bytes, kBbsUrlOffset);
    settings.documentUrl = GetUrl(bytes, kDocumentUrlOffset);
    settings.bbsEnabled = GetInt(bytes, kBbsEnabledOffset);
    settings.documentEnabled = GetInt(bytes, kDocumentEnabledOffset);
    settings.bbsNumber = GetInt(bytes, kBbsNumberOffset);
    settings.documentNumber = GetInt(bytes, kDocumentNumberOffset);
    settings.timeout = GetInt(bytes, kTimeoutOffset);
    return settings;
}

std::int32_t ComposeNumber(std::int32_t directory, std::int32_t file) {
    const auto sum =
        static_cast<std::uint32_t>(directory) * 1000u + static_cast<std::uint32_t>(file);
    return static_cast<std::int32_t>(sum);
}
