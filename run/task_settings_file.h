#pragma once

#include <string>

#include "run/task_settings.h"

inline constexpr const char* kSettingsFileName = "NOVUDownLoad.cfg";

// The settings record and the file that holds it. Not thread-safe by itself: the run controller
// serialises changes and saves under its report lock.
class CTaskSettingsFile {
  public:
    virtual ~CTaskSettingsFile() = default;

    void SetPath(const std::string& path) { path_ = path; }
    const std::string& GetPath() const { return path_; }

    // Reads up to 540 bytes of the file over the start of the record. Returns the bytes read
    // (0..540), or -1 when the file cannot be opened.
    int Load();
    // Writes the whole record, replacing the file in one step. Returns 540, or -1.
    int Save() const;
    // Load, and when the file cannot be opened, the defaults, saved at once.
    void LoadOrCreateDefaults();

    TaskSettings& Record() { return record_; }
    const TaskSettings& Record() const { return record_; }

  private:
    TaskSettings record_;
    std::string path_;
};

// "<appDirectory>NOVUDownLoad.cfg"; the directory ends in its separator.
std::string SettingsPathFor(const std::string& appDirectory);
