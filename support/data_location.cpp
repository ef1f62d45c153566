#include "support/data_location.h"

#include <filesystem>

#include "support/debug_log.h"
#include "support/file_helpers.h"
#include "support/file_platform.h"
#include "support/text_format.h"

namespace fs = std::filesystem;

namespace {

bool IsInstalledCopy(const std::string& executableDirectory) {
    const fs::path entry = fs::path(executableDirectory) / ".." / "share" / "applications" /
                           (std::string(kApplicationId) + ".desktop");
    std::error_code error;
    return fs::exists(entry, error);
}

}  // namespace

DataLocation ChooseDataLocation(const std::string& executableDirectory) {
    if (!IsInstalledCopy(executableDirectory) && CanCreateFilesIn(executableDirectory).IsOk()) {
        return {executableDirectory, true};
    }
    const fs::path directory = fs::path(platform::UserDataHome()) / "NOVUDownLoad";
    std::error_code error;
    fs::create_directories(directory, error);
    return {directory.string() + PathSeparator(), false};
}

DataLocation ChooseDataLocationOfThisProgram() {
    std::string executableDirectory;
    if (!GetAppDirectory(executableDirectory)) {
        // Without the executable's path, the current directory stands in for it.
        executableDirectory = std::string(".") + PathSeparator();
    }
    const DataLocation location = ChooseDataLocation(executableDirectory);
    if (!location.besideExecutable) {
        SetDebugLogPath(location.directory + "debug.txt");  // the data's folder holds the log too
    }
    return location;
}
