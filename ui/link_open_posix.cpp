#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

#include "ui/link_logic.h"
#include "ui/link_open.h"

// How this platform's failures map onto the link label's result codes:
//   desktop opener refused or absent           -> 31 (no association)
//   registered program missing                 -> 2  (file not found)
//   registered program present, not runnable   -> 5  (access denied)
//   anything started                           -> 33 (success)
namespace link_open {

int OpenWithDesktop(const std::string& target) {
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(target)))
               ? open_result::kSuccess
               : open_result::kNoAssociation;
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
