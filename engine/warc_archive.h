#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/warc_record.h"
#include "engine/wire_tape.h"
#include "support/status.h"

// A run's web archive: every exchange as WARC/1.1 request and response records, in files of the
// archive folder named "NOVUDownLoad-<UTC start, YYYYMMDDhhmmss>-<serial>.warc.gz". Each start
// begins a new file, and so does a file that passes the size limit; a closed file gets a CDXJ
// index beside it (".cdxj", sorted), which replay tools load with it, and is never written again.
//
// Threads: Open and Close on the thread that runs the run, before the workers start and after
// they have gone; Keep on any worker at once (the records of one exchange are appended whole,
// never between another's); Sync from any thread.
class CWarcArchive {
  public:
    static constexpr int kDefaultMaxMib = 1024;
    static constexpr int kMostMaxMib = 1 << 20;

    struct Settings {
        std::string folder;  // made when missing
        std::int64_t maxFileBytes = std::int64_t{kDefaultMaxMib} << 20;
        warc::Fields info;  // what the warcinfo record says of the run
        std::chrono::system_clock::time_point start = std::chrono::system_clock::now();
    };

    CWarcArchive() = default;
    ~CWarcArchive();
    CWarcArchive(const CWarcArchive&) = delete;
    CWarcArchive& operator=(const CWarcArchive&) = delete;

    // Finishes the files an earlier run left without an index (a kill or a power cut may have
    // left a partial record at the end of the newest: it is cut off, its length and why written
    // to the debug log), then opens this run's first file.
    Status Open(Settings settings);
    // Appends the exchange's records. On a failure (a full disk) nothing of them stays in the
    // file, and the fetch that made them must not count.
    Status Keep(WireTape& tape);
    // Makes every record kept so far durable: the saved place may then pass their documents.
    Status Sync();
    // Syncs, indexes and closes the current file. Safe to call twice.
    Status Close();
    // Where the workers' scratch files for large answers go.
    const std::string& Folder() const { return settings_.folder; }

  private:
    struct File;
    // Under the lock.
    Status StartFile();
    Status FinishFile();

    Settings settings_;
    std::mutex lock_;
    std::shared_ptr<File> file_;  // guarded by lock_; Sync holds a reference while it syncs
    unsigned serial_ = 0;         // guarded by lock_
};

// What finishing one left-over file found; for tests and the debug log.
struct ArchiveRepair {
    std::uint64_t wholeBytes = 0;  // the length of its whole records
    std::uint64_t cutBytes = 0;    // what followed them at its end, now cut off
    std::string reason;            // why those bytes were no whole record
    std::vector<std::string> index;
};
// Reads an archive file record by record, as far as its records are whole.
ArchiveRepair ReadArchiveFile(const std::string& path, const std::string& filename);
