#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "support/text_format.h"

// The diagnostic log "debug.txt" in the current directory: opened once, on the first entry, in
// append mode, and left open until the process ends. Every entry is flushed before its writer
// returns. Any thread may write; one lock keeps the pieces of an entry together.

// Appends the local time ("%4.4d-%2.2d-%2.2d %2.2d:%2.2d:%2.2d\t"), the formatted text and "\n".
// Returns 0, or 0xFFFF when the log cannot be opened (the next call tries again).
std::uint16_t WriteDebugLog(const char* format, ...) NOVU_PRINTF(1, 2);

// Appends "<message>\n(<date time>)\n" and shows the same text, verbatim, in the error box.
// Returns 0, or 0xFFFF when the log cannot be opened; then nothing is written or shown.
std::uint16_t ReportError(const char* message);

// Shows the formatted text in the box captioned "error" and returns the box's result. The box
// is whatever the installed hook shows; without one the text goes to standard error.
int ShowErrorBox(const char* format, ...) NOVU_PRINTF(1, 2);

// The window layer installs a modal box here; tests install a recorder. An empty function
// restores the standard-error fallback.
using ErrorBoxHook = std::function<int(const std::string& caption, const std::string& text)>;
void SetErrorBoxHook(ErrorBoxHook hook);

// Where the log goes from the next entry on: "debug.txt" in the current directory unless the
// program keeps its data in the per-user folder, where the log goes too.
void SetDebugLogPath(const std::string& path);

// Closes the log so that the next entry opens "debug.txt" again, in whatever directory is
// then current. The program never needs it; tests that change directory do.
void CloseDebugLog();
