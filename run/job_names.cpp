#include "run/job_names.h"

#include "run/task_kind.h"
#include "support/text_format.h"

JobNames MakeJobNames(const std::string& appDirectory, const std::string& baseUrl,
                      std::int32_t number, std::int32_t kind) {
    const TaskKind& task = TaskKindOf(kind);
    const char* separator = PathSeparator();
    const int thousand = number / 1000;
    JobNames names;
    names.folder = FormatText("%s%s%s%d", appDirectory.c_str(), task.folder, separator, thousand);
    names.url = FormatText("%s/%d/%d%s", baseUrl.c_str(), thousand, number, task.urlExtension);
    names.file =
        FormatText("%s%s%d%s", names.folder.c_str(), separator, number, task.fileExtension);
    return names;
}
