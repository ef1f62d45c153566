#include "support/error_text.h"

#include <cstring>

ErrorTextTable::ErrorTextTable()
    : entries_{{KTERR_CREATE_THREAD, "cannot start a worker thread"}} {}

ErrorTextTable& ErrorTextTable::Instance() {
    static ErrorTextTable table;
    return table;
}

const char* GetErrorText(KTERROR code) {
    thread_local char result[256];
    std::memset(result, 0, sizeof result);
    for (const ErrorTextEntry& entry : ErrorTextTable::Instance().Entries()) {
        if (entry.code == code) {
            std::strncpy(result, entry.text.c_str(), sizeof result - 1);
            break;
        }
    }
    return result;
}
