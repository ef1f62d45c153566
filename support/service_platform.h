#pragma once

#include <cstdio>
#include <string>

// What a program run by a service manager tells it, and how its output reaches the system's
// log. One source file per platform; where there is no such manager, both do nothing.
namespace platform {

// Sends `state` ("READY=1", "STOPPING=1", "STATUS=...") to the service manager that started
// this process, through the datagram socket that $NOTIFY_SOCKET names; false where there is none
// or it cannot be reached, which a program run by hand must not mind.
bool NotifyServiceManager(const std::string& state);

// Whether `stream` is the journal's own connection ($JOURNAL_STREAM names it), on which a line
// may begin with its priority, as "<3>" for an error.
bool IsJournalStream(std::FILE* stream);

}  // namespace platform
