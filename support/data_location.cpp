#include "support/data_location.h"

#include <filesystem>

#include "support/debug_log.h"
#include "support/file_helpers.h"
#include "support/file_platform.h"
#include "support/text_format.h"

namespace fs = std::filesystem;

namespace {

// An installed copy is one that a package or an installer put there: its folder belongs to
// the system, and other users may run it, so its data never goes beside it.
bool IsInstalledCopy(const std::string& executableDirectory) {
    const fs::path directory(executableDirectory);
    const fs::path marks[] = {
        directory / ".." / "share" / "applications" / (std::string(kApplicationId) + ".desktop"),
        directory / "Uninstall.exe",  // the Windows installer's
    };
    std::error_code error;
    for (const fs::path& mark : marks) {
        if (fs::exists(mark, error)) {
            return true;
        }
    }
    return false;
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

Status ChooseDataFolder(const std::string& folder, DataLocation& location) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder)) {
        return Status::Refused(FormatText(
            "the data folder %s cannot be made: %s", folder.c_str(),
            (error ? error.message() : std::string("a file of that name is in the way")).c_str()));
    }
    location = {folder, false};
    const char separator = PathSeparator()[0];
    if (location.directory.back() != separator && location.directory.back() != '/') {
        location.directory += separator;
    }
    SetDebugLogPath(location.directory + "debug.txt");
    return Status::Ok();
}

std::string DataFolderArgument(int argc, const char* const* argv) {
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--data") {
            return argv[i + 1];
        }
    }
    return {};
}
