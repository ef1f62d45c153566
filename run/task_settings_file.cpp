#include "run/task_settings_file.h"

#include "support/file_helpers.h"

int CTaskSettingsFile::Load() {
    TaskSettings::Bytes bytes = record_.ToBytes();
    const int read = ReadWholeFile(path_.c_str(), bytes.data(), static_cast<int>(bytes.size()));
    if (read < 0) {
        return -1;
    }
    // A short file changes only the bytes it holds; the rest of the record stays as it was.
    record_ = TaskSettings::FromBytes(bytes);
    return read;
}

int CTaskSettingsFile::Save() const {
    const TaskSettings::Bytes bytes = record_.ToBytes();
    return ReplaceWholeFile(path_.c_str(), bytes.data(), static_cast<int>(bytes.size()));
}

void CTaskSettingsFile::LoadOrCreateDefaults() {
    if (Load() < 0) {
        record_ = TaskSettings::Defaults();
        Save();
    }
}

std::string SettingsPathFor(const std::string& appDirectory) {
    return appDirectory + kSettingsFileName;
}
