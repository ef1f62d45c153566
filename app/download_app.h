#pragma once

#include <string>

// Starts the socket library for the whole process (Winsock 2.2 on Windows; nothing to start on
// POSIX). 1 when started, else 0. Left started until the process ends.
int StartSocketLibrary();

// The life of the process is the life of the main window.
class CDownLoadApp {
  public:
    // Starts sockets and the window system, runs the main dialog modally and returns when it has
    // closed. Returns 0 after the dialog ran; a non-zero code when the window system could not
    // start or `dataFolder` (empty: the program's own) cannot be made (the reason has then been
    // shown where it can be seen).
    int InitInstance(const char* programPath, const std::string& dataFolder = {});
};
