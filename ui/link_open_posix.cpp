#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <chrono>
#include <thread>

#include "ui/link_logic.h"
#include "ui/link_open.h"

// How this platform's failures map onto the link label's result codes:
//   desktop opener absent or failed            -> 31 (no association)
//   desktop opener: the target does not exist  -> 2  (file not found)
//   registered program missing                 -> 2  (file not found)
//   registered program present, not runnable   -> 5  (access denied)
//   anything started                           -> 33 (success)
namespace link_open {

namespace {
// How long the desktop's opener may take to say whether it worked.
constexpr int kOpenerPatienceMs = 5000;

int ResultOfOpenerStatus(int status) {
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return open_result::kSuccess;
    }
    // xdg-open: 2 the file does not exist; 1 bad arguments, 3 no tool found, 4 the action failed.
    return WIFEXITED(status) && WEXITSTATUS(status) == 2 ? open_result::kFileNotFound
                                                         : open_result::kNoAssociation;
}
}  // namespace

int OpenWithDesktop(const std::string& target) {
    pid_t opener = 0;
    char* const arguments[] = {const_cast<char*>("xdg-open"), const_cast<char*>(target.c_str()),
                               nullptr};
    if (::posix_spawnp(&opener, "xdg-open", nullptr, nullptr, arguments, environ) != 0) {
        return open_result::kNoAssociation;
    }
    for (int waited = 0; waited < kOpenerPatienceMs; waited += 20) {
        int status = 0;
        const pid_t ended = ::waitpid(opener, &status, WNOHANG);
        if (ended == opener) {
            return ResultOfOpenerStatus(status);
        }
        if (ended < 0) {
            return open_result::kNoAssociation;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Still running: it has started a program and waits for it. Collect it whenever it ends.
    std::thread([opener] {
        int status = 0;
        ::waitpid(opener, &status, 0);
    }).detach();
    return open_result::kSuccess;
}

bool ReadHtmlOpenCommand(std::string& commandLine) {
    QProcess query;
    query.start(QStringLiteral("xdg-mime"),
                {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
    if (!query.waitForFinished(3000) || query.exitCode() != 0) {
        return false;
    }
    const QString entryName = QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed();
    if (entryName.isEmpty()) {
        return false;
    }
    const QString entryPath =
        QStandardPaths::locate(QStandardPaths::ApplicationsLocation, entryName);
    QFile entry(entryPath);
    if (entryPath.isEmpty() || !entry.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return false;
    }
    QTextStream lines(&entry);
    bool inMainGroup = false;
    while (!lines.atEnd()) {
        const QString line = lines.readLine().trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
        } else if (inMainGroup && line.startsWith(QLatin1String("Exec="))) {
            commandLine = line.mid(5).toStdString();
            return !commandLine.empty();
        }
    }
    return false;
}

int StartCommandLine(const std::string& commandLine) {
    QStringList words = QProcess::splitCommand(QString::fromStdString(commandLine));
    if (words.isEmpty()) {
        return open_result::kFileNotFound;
    }
    const QString program = words.takeFirst();
    const QString found =
        QFileInfo(program).isAbsolute() ? program : QStandardPaths::findExecutable(program);
    if (found.isEmpty() || !QFileInfo::exists(found)) {
        return open_result::kFileNotFound;
    }
    if (!QFileInfo(found).isExecutable()) {
        return open_result::kAccessDenied;
    }
    return QProcess::startDetached(found, words) ? open_result::kSuccess
                                                 : open_result::kAccessDenied;
}

}  // namespace link_open
