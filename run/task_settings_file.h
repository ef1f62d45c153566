#pragma once

#include <string>

#include "run/task_settings.h"
#include "support/status.h"

inline constexpr const char* kSettingsFileName = "NOVUDownLoad.cfg";

// The settings record and the file that holds it. Not thread-safe by itself: the run controller
// serialises changes and saves under its report lock.
class CTaskSettingsFile {
  public:
    virtual ~CTaskSettingsFile() = default;

    void SetPath(const std::string& path) { path_ = path; }
    const std::string& GetPath() const { return path_; }

    // Reads up to 540 bytes of the file over the start of the record. Returns the bytes read
    // (0..540), or -1 when the path is not a regular file that can be read.
    int Load();
    // Writes the whole record, replacing the file so that a crash leaves the old record or the
    // new one. Returns 540, or -1 with the reason in LastError(). While saves are withheld it
    // returns -1 and touches nothing.
    int Save();
    // The same for a copy of the record taken at some moment (the run's saves).
    int Save(const TaskSettings& record);
    // Load; a missing file (or a path that is no regular file) gets the defaults, saved at once.
    // A file that exists but cannot be read is never overwritten: the defaults serve this session
    // and every save is withheld. Returns what the user must be told, or the empty text.
    Status LoadOrCreateDefaults();

    // Why the last save failed, and the system's error number where it said one (else 0).
    const std::string& LastError() const { return lastError_; }
    int LastSystemError() const { return lastSystemError_; }
    // True when the file was left as it is on purpose (it could not be read).
    bool SavesWithheld() const { return savesWithheld_; }

    TaskSettings& Record() { return record_; }
    const TaskSettings& Record() const { return record_; }

  private:
    TaskSettings record_;
    std::string path_;
    std::string lastError_;
    int lastSystemError_ = 0;
    bool savesWithheld_ = false;
};

// "<appDirectory>NOVUDownLoad.cfg"; the directory ends in its separator.
std::string SettingsPathFor(const std::string& appDirectory);
