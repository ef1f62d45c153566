#pragma once

#include <string>

// Opening a link target with what this platform offers. Results follow open_result (above 32:
// success). Windows: the shell, then the registered ".htm" open command. Linux: the desktop's
// own opener, then the desktop entry registered for HTML documents.
namespace link_open {

// The desktop's own way of opening the target.
int OpenWithDesktop(const std::string& target);
// The command line registered for opening HTML documents; false when there is none.
bool ReadHtmlOpenCommand(std::string& commandLine);
// Starts a command line as a program.
int StartCommandLine(const std::string& commandLine);

// Desktop first; if that fails, the registered command cut at its placeholder with the target
// appended; if there is none, the desktop's result.
int OpenTarget(const std::string& target);

}  // namespace link_open
