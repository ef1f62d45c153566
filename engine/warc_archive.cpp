#include "engine/warc_archive.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>

#include "support/debug_log.h"
#include "support/file_helpers.h"
#include "support/file_platform.h"
#include "support/file_system.h"
#include "support/text_format.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kNamePrefix = "NOVUDownLoad-";
constexpr const char* kArchiveSuffix = ".warc.gz";
constexpr const char* kIndexSuffix = ".cdxj";

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// "NOVUDownLoad-20261209045200-00000.warc.gz" -> "...-00000.cdxj"
std::string IndexPathOf(const std::string& archivePath) {
    return archivePath.substr(0, archivePath.size() - std::string(kArchiveSuffix).size()) +
           kIndexSuffix;
}

Status WriteIndex(const std::string& archivePath, std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines) {
        text += line;
    }
    if (text.size() > static_cast<std::size_t>(INT32_MAX)) {
        return Status::Refused("the index of " + archivePath + " is larger than 2 GiB");
    }
    return ReplaceWholeFile(IndexPathOf(archivePath).c_str(), text.data(),
                            static_cast<int>(text.size()));
}

// Reads gzip members one after another from a file, each decoded as far as a record's head and
// the start of its block, and counted to its end.
class CMemberReader {
  public:
    explicit CMemberReader(std::FILE* file) : file_(file), in_(256 * 1024), out_(64 * 1024) {
        ready_ = inflateInit2(&stream_, 16 + MAX_WBITS) == Z_OK;
    }
    ~CMemberReader() {
        if (ready_) {
            inflateEnd(&stream_);
        }
    }
    CMemberReader(const CMemberReader&) = delete;
    CMemberReader& operator=(const CMemberReader&) = delete;

    enum class Result { kMember, kEnd, kTorn, kCorrupt };
    // The member at `offset`: its decoded start (the head and 64 KiB of the block), its decoded
    // length and last 4 bytes, and its end in the file.
    Result Next(std::uint64_t offset, std::string& start, std::uint64_t& decodedLength,
                std::string& tail, std::uint64_t& end) {
        if (!ready_ || inflateReset(&stream_) != Z_OK) {
            return Result::kCorrupt;
        }
        start.clear();
        tail.clear();
        decodedLength = 0;
        std::uint64_t at = offset;
        for (;;) {
            const std::size_t available = Fill(at);
            if (available == 0) {
                return at == offset ? Result::kEnd : Result::kTorn;
            }
            const std::size_t skip = static_cast<std::size_t>(at - bufferOffset_);
            stream_.next_in = in_.data() + skip;
            stream_.avail_in = static_cast<uInt>(available);
            stream_.next_out = out_.data();
            stream_.avail_out = static_cast<uInt>(out_.size());
            const int result = inflate(&stream_, Z_NO_FLUSH);
            at += available - stream_.avail_in;
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
                return Result::kCorrupt;
            }
            const std::size_t made = out_.size() - stream_.avail_out;
            decodedLength += made;
            const char* bytes = reinterpret_cast<const char*>(out_.data());
            start.append(bytes, std::min(made, kKeptStart - std::min(kKeptStart, start.size())));
            tail.append(bytes, made);
            if (tail.size() > 4) {
                tail.erase(0, tail.size() - 4);
            }
            if (result == Z_STREAM_END) {
                end = at;
                return Result::kMember;
            }
        }
    }

    // Where the next gzip member's magic bytes stand after `from`, if anywhere.
    std::optional<std::uint64_t> FindMagic(std::uint64_t from) {
        for (std::uint64_t at = from + 1;;) {
            const std::size_t available = Fill(at, 3);
            if (available < 3) {
                return std::nullopt;
            }
            const unsigned char* bytes = in_.data() + (at - bufferOffset_);
            std::size_t i = 0;
            for (; i + 2 < available; ++i) {
                if (bytes[i] == 0x1f && bytes[i + 1] == 0x8b && bytes[i + 2] == 0x08) {
                    return at + i;
                }
            }
            at += i;  // the last two bytes are looked at again with what follows them
        }
    }

  private:
    static constexpr std::size_t kKeptStart = 192 * 1024;

    // Makes the bytes from `offset` on available in the buffer, at least `least` of them unless
    // the file ends first; how many, 0 at the end.
    std::size_t Fill(std::uint64_t offset, std::size_t least = 1) {
        if (offset < bufferOffset_ || offset + least > bufferOffset_ + bufferLength_) {
            if (!SeekTo(offset)) {
                return 0;
            }
            bufferOffset_ = offset;
            bufferLength_ = std::fread(in_.data(), 1, in_.size(), file_);
            if (bufferLength_ == 0) {
                return 0;
            }
        }
        return static_cast<std::size_t>(bufferOffset_ + bufferLength_ - offset);
    }
    bool SeekTo(std::uint64_t offset) {
        // fseek takes a long, which has 32 bits on Windows: there in steps of 1 GiB.
        constexpr std::uint64_t kStep = 1u << 30;
        if (std::fseek(file_, 0, SEEK_SET) != 0) {
            return false;
        }
        while (offset > 0) {
            const std::uint64_t step = std::min(offset, kStep);
            if (std::fseek(file_, static_cast<long>(step), SEEK_CUR) != 0) {
                return false;
            }
            offset -= step;
        }
        return true;
    }

    std::FILE* file_;
    z_stream stream_{};
    bool ready_ = false;
    std::vector<unsigned char> in_;
    std::vector<unsigned char> out_;
    std::uint64_t bufferOffset_ = 0;
    std::size_t bufferLength_ = 0;
};

// Whether a decoded member is one whole record, and what it is.
bool WholeRecord(const std::string& start, std::uint64_t decodedLength, const std::string& tail,
                 warc::ReadRecord& record) {
    std::size_t headLength = 0;
    return warc::ParseRecordHead(start, headLength, record) &&
           decodedLength == headLength + record.blockLength + 4 && tail == "\r\n\r\n";
}

}  // namespace

ArchiveRepair ReadArchiveFile(const std::string& path, const std::string& filename) {
    ArchiveRepair repair;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                         &std::fclose);
    if (!file) {
        repair.reason = SystemErrorText(errno);
        return repair;
    }
    CMemberReader reader(file.get());
    std::uint64_t offset = 0;
    std::string start, tail;
    for (;;) {
        std::uint64_t decoded = 0, end = 0;
        const CMemberReader::Result result = reader.Next(offset, start, decoded, tail, end);
        if (result == CMemberReader::Result::kEnd) {
            break;
        }
        warc::ReadRecord record;
        if (result == CMemberReader::Result::kMember && WholeRecord(start, decoded, tail, record)) {
            warc::IndexEntry entry;
            if (warc::EntryOf(record, entry)) {
                entry.offset = offset;
                entry.length = end - offset;
                repair.index.push_back(warc::IndexLine(entry, filename));
            }
            offset = end;
            repair.wholeBytes = offset;
            continue;
        }
        repair.reason = result == CMemberReader::Result::kTorn      ? "a record cut short"
                        : result == CMemberReader::Result::kCorrupt ? "bytes that are no gzip"
                                                                    : "no whole WARC record";
        // Whole records after broken bytes are damage in the middle, not a torn end: nothing
        // is cut then, and reading goes on with them.
        std::optional<std::uint64_t> next = offset;
        while ((next = reader.FindMagic(*next))) {
            std::uint64_t nextDecoded = 0, nextEnd = 0;
            warc::ReadRecord nextRecord;
            if (reader.Next(*next, start, nextDecoded, tail, nextEnd) ==
                    CMemberReader::Result::kMember &&
                WholeRecord(start, nextDecoded, tail, nextRecord)) {
                break;
            }
        }
        if (!next) {
            break;
        }
        WriteDebugLog("archive: %s has %llu damaged bytes at %llu (%s); they stay as they are",
                      path.c_str(), static_cast<unsigned long long>(*next - offset),
                      static_cast<unsigned long long>(offset), repair.reason.c_str());
        repair.reason.clear();
        offset = *next;
    }
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    repair.cutBytes = !error && size > offset ? size - offset : 0;
    repair.wholeBytes = offset;
    return repair;
}

struct CWarcArchive::File {
    int descriptor = -1;
    std::string path;
    std::string name;
    std::uint64_t size = 0;
    std::vector<std::string> index;
    ~File() {
        if (descriptor >= 0) {
            platform::CloseDescriptor(descriptor);
        }
    }
};

CWarcArchive::~CWarcArchive() {
    static_cast<void>(Close());
}

namespace {

// Closes a file an earlier run left without its index: a partial record at its end is cut off.
Status FinishLeftOver(const std::string& path, const std::string& name) {
    const ArchiveRepair repair = ReadArchiveFile(path, name);
    if (repair.cutBytes > 0) {
        WriteDebugLog("archive: cut %llu bytes off the end of %s at %llu (%s)",
                      static_cast<unsigned long long>(repair.cutBytes), path.c_str(),
                      static_cast<unsigned long long>(repair.wholeBytes), repair.reason.c_str());
        const int descriptor = platform::OpenAppendWithoutWaiting(path.c_str());
        if (descriptor < 0) {
            return Status::SystemError(errno, path);
        }
        const bool cut =
            platform::TruncateDescriptor(descriptor, static_cast<long long>(repair.wholeBytes));
        const int cutError = errno;
        const Status synced = cut ? CFileSystem::Current().SyncData(descriptor) : Status::Ok();
        platform::CloseDescriptor(descriptor);
        if (!cut) {
            return Status::SystemError(cutError, path);
        }
        if (!synced.IsOk()) {
            return synced;
        }
    }
    if (repair.wholeBytes == 0) {
        // Not even its first record was whole: nothing in it to keep or to index.
        std::error_code error;
        fs::remove(path, error);
        return Status::Ok();
    }
    return WriteIndex(path, repair.index);
}

}  // namespace

Status CWarcArchive::Open(Settings settings) {
    settings_ = std::move(settings);
    if (!CreateDirsIfAbsent(settings_.folder)) {
        return Status::SystemError(errno, settings_.folder);
    }
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(settings_.folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(kNamePrefix, 0) != 0 || !EndsWith(name, kArchiveSuffix) ||
            !entry.is_regular_file(error) ||
            fs::exists(IndexPathOf(entry.path().string()), error)) {
            continue;
        }
        if (const Status finished = FinishLeftOver(entry.path().string(), name); !finished.IsOk()) {
            return finished;
        }
    }
    if (error) {
        return Status::SystemError(error.value(), settings_.folder);
    }
    std::lock_guard<std::mutex> lock(lock_);
    serial_ = 0;
    return StartFile();
}

Status CWarcArchive::StartFile() {
    auto file = std::make_shared<File>();
    const std::string stamp = warc::Timestamp(warc::Date(settings_.start));
    // A start in the same second as an earlier one takes the next free serial: an old file is
    // never written again.
    for (;; ++serial_) {
        file->name = kNamePrefix + stamp + FormatText("-%05u", serial_) + kArchiveSuffix;
        file->path = (fs::path(settings_.folder) / file->name).string();
        const int created =
            platform::CreateNewDescriptor(file->path.c_str(), platform::kNewFilePermissions);
        if (created >= 0) {
            // Opened again for appending: after a failed write is cut off, the next record
            // goes where the cut is, not where the failed one stopped.
            platform::CloseDescriptor(created);
            file->descriptor = platform::OpenAppendWithoutWaiting(file->path.c_str());
            if (file->descriptor < 0) {
                return Status::SystemError(errno, file->path);
            }
            break;
        }
        if (errno != EEXIST) {
            return Status::SystemError(errno, file->path);
        }
    }
    ++serial_;
    const std::string info =
        warc::InfoMember(file->name, std::chrono::system_clock::now(), settings_.info);
    Status written = WriteWhole(file->descriptor, info.data(), info.size());
    if (written.IsOk()) {
        written = CFileSystem::Current().SyncDirectory(settings_.folder);
    }
    if (!written.IsOk()) {
        platform::CloseDescriptor(file->descriptor);
        file->descriptor = -1;
        std::error_code error;
        fs::remove(file->path, error);
        return written;
    }
    file->size = info.size();
    file_ = std::move(file);
    return Status::Ok();
}

Status CWarcArchive::FinishFile() {
    if (!file_) {
        return Status::Ok();
    }
    const std::shared_ptr<File> file = std::move(file_);
    file_.reset();
    Status finished = CFileSystem::Current().SyncData(file->descriptor);
    if (finished.IsOk()) {
        finished = WriteIndex(file->path, std::move(file->index));
    }
    return finished;
}

Status CWarcArchive::Keep(WireTape& tape) {
    if (tape.request.empty()) {
        return Status::Ok();  // nothing went to the site
    }
    warc::ExchangeRecords records(settings_.folder);
    Status built;
    if (!warc::BuildExchange(tape, records, built)) {
        return built;
    }
    std::lock_guard<std::mutex> lock(lock_);
    if (!file_) {
        return Status::Refused("the archive is closed");
    }
    const auto needed = static_cast<std::int64_t>(records.members.Size());
    if (static_cast<std::int64_t>(file_->size) + needed > settings_.maxFileBytes &&
        file_->size > 0) {
        Status rotated = FinishFile();
        if (rotated.IsOk()) {
            rotated = StartFile();
        }
        if (!rotated.IsOk()) {
            return rotated;
        }
    }
    File& file = *file_;
    Status written;
    records.members.Read(0, records.members.Size(), [&](const char* data, std::size_t length) {
        written = WriteWhole(file.descriptor, data, length);
        return written.IsOk();
    });
    if (written.IsOk() && !records.members.Failure().IsOk()) {
        written = records.members.Failure();
    }
    if (!written.IsOk()) {
        // Nothing half-written stays: the next record starts where this one would have.
        static_cast<void>(
            platform::TruncateDescriptor(file.descriptor, static_cast<long long>(file.size)));
        return written;
    }
    if (records.indexed) {
        records.entry.offset += file.size;
        file.index.push_back(warc::IndexLine(records.entry, file.name));
    }
    file.size += records.members.Size();
    return Status::Ok();
}

Status CWarcArchive::Sync() {
    std::shared_ptr<File> file;
    {
        std::lock_guard<std::mutex> lock(lock_);
        file = file_;
    }
    // Outside the lock: the workers go on appending while the disk catches up.
    return file ? CFileSystem::Current().SyncData(file->descriptor) : Status::Ok();
}

Status CWarcArchive::Close() {
    std::lock_guard<std::mutex> lock(lock_);
    return FinishFile();
}
