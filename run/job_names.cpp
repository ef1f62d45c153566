#include "run/job_names.h"

#include "engine/downloader.h"
#include "support/text_format.h"

JobNames MakeJobNames(const std::string& appDirectory, const std::string& baseUrl,
                      std::int32_t number, std::int32_t kind) {
    const bool bbs = kind == JOB_BBS;
    const char* separator = PathSeparator();
    const int thousand = number / 1000;
    JobNames names;
    names.folder = FormatText("%s%s%s%d", appDirectory.c_str(),
                              bbs ? kBbsFolderName : kDocumentFolderName, separator, thousand);
    names.url =
        FormatText(bbs ? "%s/%d/%d.xml" : "%s/%d/%d.shtm", baseUrl.c_str(), thousand, number);
    names.file =
        FormatText("%s%s%d%s", names.folder.c_str(), separator, number, bbs ? ".xml" : ".htm");
    return names;
}
