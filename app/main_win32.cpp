// The program on Windows: the native main window over the same run controller as everywhere.
#include <windows.h>

#include <string>

#include "engine/socket_platform.h"
#include "support/data_location.h"
#include "support/debug_log.h"
#include "support/file_platform.h"
#include "ui/win32/download_dlg_win32.h"
#include "ui/win32/program_start_win32.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    platform::EnsureStandardStreams();
    net::StartSocketLibrary();  // a failure shows later, as every download failing
    SetErrorBoxHook([](const std::string& caption, const std::string& text) {
        // From a worker too: the box belongs to no window, so no thread waits on another.
        return MessageBoxW(nullptr, WideFromProgramText(text).c_str(),
                           WideFromProgramText(caption).c_str(), MB_OK | MB_ICONERROR);
    });
    const std::string dataFolder = DataFolderArgument(__argc, __argv);
    DataLocation location;
    if (!dataFolder.empty()) {
        if (const Status chosen = ChooseDataFolder(dataFolder, location); !chosen.IsOk()) {
            ShowErrorBox("%s", chosen.Text().c_str());
            return 1;
        }
    }
    ProgramStart start;
    start.runWindow = [&location] {
        CDownLoadDlgWin32 dialog(location.directory);
        return dialog.RunModal();
    };
    const int status = RunProgram(start);
    SetErrorBoxHook(nullptr);
    net::StopSocketLibrary();
    return status;
}
