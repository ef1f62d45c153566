#include "run/task_settings_file.h"

#include "support/file_helpers.h"
#include "support/text_format.h"

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

int CTaskSettingsFile::Save() {
    return Save(record_);
}

int CTaskSettingsFile::Save(const TaskSettings& record) {
    if (savesWithheld_) {
        lastError_ = "it could not be read, so it is left as it is";
        lastSystemError_ = 0;
        return -1;
    }
    const TaskSettings::Bytes bytes = record.ToBytes();
    const Status saved =
        ReplaceWholeFile(path_.c_str(), bytes.data(), static_cast<int>(bytes.size()));
    if (!saved.IsOk()) {
        lastError_ = saved.Text();
        lastSystemError_ = saved.SystemErrorNumber();
        return -1;
    }
    return static_cast<int>(bytes.size());
}

Status CTaskSettingsFile::LoadOrCreateDefaults() {
    if (Load() >= 0) {
        return Status::Ok();
    }
    record_ = TaskSettings::Defaults();
    if (IsRegularFile(path_.c_str())) {
        // It exists but cannot be read: whatever it holds is the user's, not ours to replace.
        savesWithheld_ = true;
        return Status::Refused(FormatText(
            "The settings file %s cannot be read, so it was left as it is. This session uses the "
            "default settings and saves nothing.",
            path_.c_str()));
    }
    if (Save() < 0) {
        return Status::Refused(FormatText(
            "The settings file %s cannot be written (%s). This session uses the default settings.",
            path_.c_str(), lastError_.c_str()));
    }
    return Status::Ok();
}

std::string SettingsPathFor(const std::string& appDirectory) {
    return appDirectory + kSettingsFileName;
}
