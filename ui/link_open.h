#pragma once

#include <functional>
#include <string>

// Opening a link target with what this platform offers. Results follow open_result (above 32:
// success). Windows: the shell, then the registered ".htm" open command. Linux: the desktop's
// own opener (xdg-open), whose exit status decides, then the desktop entry registered for HTML
// documents.
namespace link_open {

// The desktop's own way of opening the target. Waits for the opener's verdict, at most a few
// seconds: an opener still running then has opened something and waits for it to close.
int OpenWithDesktop(const std::string& target);
// The command line registered for opening HTML documents; false when there is none.
bool ReadHtmlOpenCommand(std::string& commandLine);
// Starts a command line as a program.
int StartCommandLine(const std::string& commandLine);

// Desktop first; if that fails, the registered command cut at its placeholder with the target
// appended; if there is none, the desktop's result. Blocks while the opener decides.
int OpenTarget(const std::string& target);

// OpenTarget on a thread of its own, so that the window never waits; `done` runs on that thread
// with the result, and each window hands it on to its own thread.
void OpenTargetOnOwnThread(const std::string& target, std::function<void(int)> done);

}  // namespace link_open
