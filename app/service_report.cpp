#include "app/service_report.h"

#include <cstdio>

#include "support/service_platform.h"
#include "support/text_format.h"

void Say(Priority priority, const std::string& text) {
    static const bool journal = platform::IsJournalStream(stderr);
    const std::string line =
        (journal ? FormatText("<%d>", static_cast<int>(priority)) : std::string()) +
        "novudl: " + text + "\n";
    std::fputs(line.c_str(), stderr);  // whole, so that no other line cuts into it
}

void CServiceNotifier::Ready() {
    if (!ready_) {
        ready_ = platform::NotifyServiceManager("READY=1");
    }
}

void CServiceNotifier::Status(const std::string& counts) {
    if (counts != status_ && !stopping_) {
        status_ = counts;
        platform::NotifyServiceManager("STATUS=" + counts);
    }
}

void CServiceNotifier::Stopping() {
    if (!stopping_) {
        stopping_ = true;
        platform::NotifyServiceManager("STOPPING=1");
    }
}
