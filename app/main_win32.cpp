// The program on Windows: the native main window over the same run controller as everywhere.
#include <windows.h>

#include <string>

#include "engine/socket_platform.h"
#include "support/debug_log.h"
#include "support/file_platform.h"
#include "ui/win32/download_dlg_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    platform::EnsureStandardStreams();
    net::StartSocketLibrary();  // a failure shows later, as every download failing
    SetErrorBoxHook([](const std::string& caption, const std::string& text) {
        // From a worker too: the box belongs to no window, so no thread waits on another.
        return MessageBoxA(nullptr, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
    });
    {
        CDownLoadDlgWin32 dialog;
        dialog.RunModal();
    }
    SetErrorBoxHook(nullptr);
    net::StopSocketLibrary();
    return 0;
}
