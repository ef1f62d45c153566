#include <QMetaObject>
#include <QObject>
#include <QPointer>
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

void OpenTargetAsync(const std::string& target, QObject* receiver, std::function<void(int)> done) {
    QPointer<QObject> guard(receiver);
    std::thread([target, guard, done = std::move(done)] {
        const int result = OpenTarget(target);
        QObject* context = guard.data();
        if (context != nullptr) {
            QMetaObject::invokeMethod(
                context, [done, result] { done(result); }, Qt::QueuedConnection);
        }
    }).detach();
}

}  // namespace link_open
