#include "ui/win32/program_start_win32.h"

#include <string>
#include <system_error>

#include "ui/main_dialog_template.h"

int RunProgram(const ProgramStart& start) {
    if (FAILED(start.startOle())) {
        // Nothing has been made yet: no folder, no settings file.
        start.messageBox(nullptr, kStartFailureText, MB_OK);
        return 1;
    }
    const INT_PTR closedBy = start.runWindow();
    const DWORD error = GetLastError();
    start.endOle();
    if (closedBy == -1) {
        start.messageBox(
            nullptr,
            "cannot open the window: " + std::system_category().message(static_cast<int>(error)),
            MB_OK | MB_ICONERROR);
        return 1;
    }
    return 0;
}
