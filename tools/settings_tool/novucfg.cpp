// Reads and changes the program's 540-byte settings file.
//
//   novucfg FILE                      print the record
//   novucfg FILE set FIELD VALUE...   change fields (a missing file starts from the defaults)
//
// Fields: bbsUrl documentUrl bbsEnabled documentEnabled bbsNumber documentNumber timeout.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "run/task_settings_file.h"
#include "support/file_helpers.h"

namespace {

int Usage() {
    std::fprintf(
        stderr,
        "usage: novucfg FILE\n"
        "       novucfg FILE set FIELD VALUE [FIELD VALUE ...]\n"
        "fields: bbsUrl documentUrl bbsEnabled documentEnabled bbsNumber documentNumber timeout\n");
    return 2;
}

bool ParseInt32(const std::string& text, std::int32_t& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno != 0 || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    value = static_cast<std::int32_t>(parsed);
    return true;
}

// Applies one change; an error message when the field or value is refused.
std::string SetField(TaskSettings& record, const std::string& field, const std::string& value) {
    if (field == "bbsUrl" || field == "documentUrl") {
        if (value.size() >= TaskSettings::kUrlFieldSize) {
            return field + " holds at most 259 characters";
        }
        (field == "bbsUrl" ? record.bbsUrl : record.documentUrl) = value;
        return {};
    }
    std::int32_t* target = field == "bbsEnabled"        ? &record.bbsEnabled
                           : field == "documentEnabled" ? &record.documentEnabled
                           : field == "bbsNumber"       ? &record.bbsNumber
                           : field == "documentNumber"  ? &record.documentNumber
                           : field == "timeout"         ? &record.timeout
                                                        : nullptr;
    if (target == nullptr) {
        return "unknown field " + field;
    }
    if (!ParseInt32(value, *target)) {
        return field + " needs a 32-bit signed integer, not \"" + value + "\"";
    }
    return {};
}

void Print(const TaskSettings& r) {
    std::printf("bbsUrl          %s\n", r.bbsUrl.c_str());
    std::printf("documentUrl     %s\n", r.documentUrl.c_str());
    std::printf("bbsEnabled      %d\n", r.bbsEnabled);
    std::printf("documentEnabled %d\n", r.documentEnabled);
    std::printf("bbsNumber       %d  (Directory %d, File %d)\n", r.bbsNumber,
                DirectoryPart(r.bbsNumber), FilePart(r.bbsNumber));
    std::printf("documentNumber  %d  (Directory %d, File %d)\n", r.documentNumber,
                DirectoryPart(r.documentNumber), FilePart(r.documentNumber));
    std::printf("timeout         %d%s\n", r.timeout, r.timeout == -1 ? "  (no limit)" : "");
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2)
        return Usage();
    CTaskSettingsFile file;
    file.SetPath(argv[1]);
    const int read = file.Load();
    if (argc == 2) {
        if (read < 0) {
            std::fprintf(stderr, "novucfg: cannot read %s\n", argv[1]);
            return 1;
        }
        if (read < static_cast<int>(TaskSettings::kRecordSize)) {
            std::printf("(the file holds only %d of 540 bytes; the rest reads as zero)\n", read);
        }
        Print(file.Record());
        return 0;
    }
    if (std::string(argv[2]) != "set" || argc < 5 || (argc - 3) % 2 != 0)
        return Usage();
    if (read < 0) {
        file.Record() = TaskSettings::Defaults();
    }
    for (int i = 3; i < argc; i += 2) {
        const std::string error = SetField(file.Record(), argv[i], argv[i + 1]);
        if (!error.empty()) {
            std::fprintf(stderr, "novucfg: %s; the file is unchanged\n", error.c_str());
            return 2;
        }
    }
    if (file.Save() < 0) {
        std::fprintf(stderr, "novucfg: cannot write %s\n", argv[1]);
        return 1;
    }
    Print(file.Record());
    return 0;
}
