#include <thread>

#include "ui/link_logic.h"
#include "ui/link_open.h"

namespace link_open {

int OpenTarget(const std::string& target) {
    const int shellResult = OpenWithDesktop(target);
    if (IsOpenSuccess(shellResult)) {
        return shellResult;
    }
    std::string command;
    if (!ReadHtmlOpenCommand(command)) {
        return shellResult;
    }
    return StartCommandLine(BuildOpenCommand(command, target));
}

void OpenTargetOnOwnThread(const std::string& target, std::function<void(int)> done) {
    std::thread([target, done = std::move(done)] { done(OpenTarget(target)); }).detach();
}

}  // namespace link_open
