#include "app/download_app.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>
#include <cstdio>
#include <cstdlib>

#include "engine/socket_platform.h"
#include "support/data_location.h"
#include "support/debug_log.h"
#include "ui/download_dlg.h"
#include "ui/main_dialog_template.h"

namespace {

const char* const kNoDisplayExplanation =
    "cannot open a window: no display (is DISPLAY or WAYLAND_DISPLAY set?)";

void ReportStartFailureAndExit() {
    std::fprintf(stderr, "%s\n%s\n", kStartFailureText, kNoDisplayExplanation);
    std::fflush(stderr);
    std::_Exit(1);
}

// The toolkit ends the process on a fatal error such as a display that cannot be reached; the
// program says so in its own words and exits instead of aborting.
void FatalMessageHandler(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        ReportStartFailureAndExit();
    }
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

bool WindowSystemReachable() {
#if defined(_WIN32) || defined(__APPLE__)
    return true;
#else
    return std::getenv("QT_QPA_PLATFORM") != nullptr || std::getenv("DISPLAY") != nullptr ||
           std::getenv("WAYLAND_DISPLAY") != nullptr;
#endif
}

}  // namespace

int StartSocketLibrary() {
    return net::StartSocketLibrary();
}

int CDownLoadApp::InitInstance(const char* programPath, const std::string& dataFolder) {
    StartSocketLibrary();  // a failure shows later, as every download failing
    if (!WindowSystemReachable()) {
        ReportStartFailureAndExit();
    }
    qInstallMessageHandler(FatalMessageHandler);
    // The toolkit sees only the program's own path: the data folder is the program's argument.
    int argc = 1;
    char* argv[] = {const_cast<char*>(programPath), nullptr};
    QApplication application(argc, argv);
    // Ties the windows to the installed desktop entry (its icon and name in task bars).
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kApplicationId));
    qInstallMessageHandler(nullptr);
    SetErrorBoxHook([&application](const std::string& caption, const std::string& text) {
        const QString title = QString::fromLocal8Bit(caption.c_str());
        const QString message = QString::fromLocal8Bit(text.c_str());
        if (QThread::currentThread() != application.thread()) {
            // A worker must never wait for the user: the box goes to the window's thread.
            QMetaObject::invokeMethod(
                &application, [title, message] { QMessageBox::critical(nullptr, title, message); },
                Qt::QueuedConnection);
            return 1;
        }
        return static_cast<int>(QMessageBox::critical(nullptr, title, message));
    });
    DataLocation location;
    if (!dataFolder.empty()) {
        if (const Status chosen = ChooseDataFolder(dataFolder, location); !chosen.IsOk()) {
            QMessageBox::critical(nullptr, QString::fromLatin1("NOVUDownLoad"),
                                  QString::fromLocal8Bit(chosen.Text().c_str()));
            return 1;
        }
    }
    {
        CDownLoadDlg dialog(nullptr, location.directory);
        dialog.exec();
    }
    SetErrorBoxHook(nullptr);
    return 0;
}
