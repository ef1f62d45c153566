#include "support/status.h"

#include <system_error>

Status Status::SystemError(int error, const std::string& context) {
    const std::string words = std::generic_category().message(error);
    return Status(StatusCode::kSystemError, error,
                  context.empty() ? words : context + " (" + words + ")");
}
