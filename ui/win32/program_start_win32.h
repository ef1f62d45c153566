#pragma once

#include <windows.h>

#include <functional>

#include "ui/win32/message_box_win32.h"

// The program's life on Windows: COM and OLE started for the window's thread, then the main
// window until it closes. The steps are seams so that tests can make each one fail.
struct ProgramStart {
    std::function<HRESULT()> startOle = [] { return OleInitialize(nullptr); };
    std::function<void()> endOle = [] { OleUninitialize(); };
    // Shows the main window and returns once it is closed; -1 when it could not be made.
    std::function<INT_PTR()> runWindow;
    MessageBoxFn messageBox = ShowProgramMessage;
};

// Returns the process's exit status: 0 once the window has closed, 1 when it never opened (a
// message has said why).
int RunProgram(const ProgramStart& start);
