#pragma once

#include <string>
#include <utility>

// What kind of failure an operation met, where the caller acts on the kind.
enum class StatusCode {
    kOk,
    kSystemError,  // the system refused; its error number says why
    kRefused,      // the program would not: a file that is not its to touch, a bad input
    kBusy,         // someone else holds what was asked for
};

// What an operation that can fail reports: success, or the kind of failure, the system's error
// number where the system refused, and a text for people. The one way errors travel above the
// platform calls; the platform layer reads errno right after each system call and hands it here.
class [[nodiscard]] Status {
  public:
    Status() = default;
    static Status Ok() { return {}; }
    // The system's error number, worded as the platform words it; `context` goes before it.
    static Status SystemError(int error, const std::string& context = {});
    static Status Refused(std::string text) {
        return Status(StatusCode::kRefused, 0, std::move(text));
    }
    static Status Busy(std::string text) { return Status(StatusCode::kBusy, 0, std::move(text)); }

    bool IsOk() const { return code_ == StatusCode::kOk; }
    StatusCode Code() const { return code_; }
    int SystemErrorNumber() const { return systemError_; }
    const std::string& Text() const { return text_; }

  private:
    Status(StatusCode code, int systemError, std::string text)
        : code_(code), systemError_(systemError), text_(std::move(text)) {}

    StatusCode code_ = StatusCode::kOk;
    int systemError_ = 0;
    std::string text_;
};
