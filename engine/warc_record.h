#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/wire_tape.h"
#include "support/spool.h"
#include "support/status.h"

// WARC/1.1 records (ISO 28500), each compressed as a gzip member of its own so that a reader can
// start at any record. Pure formatting: no file of the archive is touched here.
namespace warc {

using Fields = std::vector<std::pair<std::string, std::string>>;

// "<urn:uuid:...>", random (version 4).
std::string NewRecordId();
// UTC with microseconds: "2026-12-09T04:52:00.123456Z".
std::string Date(std::chrono::system_clock::time_point when);
// The 14 digits ("20261209045200") that replay indexes and file names give the second of a
// WARC-Date by.
std::string Timestamp(std::string_view date);
// The key that replay indexes sort a URL by: host labels reversed, "www." and the scheme's port
// left out, query arguments sorted ("org,example)/a/1?a=1&b=2").
std::string SortKey(const std::string& url);

// What the index says of a response record.
struct IndexEntry {
    std::string key;  // SortKey of the URL, then a space and the Timestamp
    std::string url, mime, status, digest;
    std::uint64_t offset = 0, length = 0;
};
// One line of a CDXJ index for the entry, in the file `filename`; ends in LF.
std::string IndexLine(const IndexEntry& entry, const std::string& filename);

// The records of one exchange, compressed and ready to be appended: the request and, when any
// byte of an answer came, the response.
struct ExchangeRecords {
    explicit ExchangeRecords(std::string scratchFolder) : members(std::move(scratchFolder)) {}
    CSpool members;                    // the gzip members, one after another
    std::uint64_t responseOffset = 0;  // within `members`; equal to its size when none
    bool indexed = false;              // `entry` holds the response's index entry
    IndexEntry entry;                  // offset relative to the members' start
};
// Builds them from the tape; scratch files, when needed, go in the tape's folder. False, with
// `failure` set, when a scratch file could not be written or read.
bool BuildExchange(WireTape& tape, ExchangeRecords& records, Status& failure);

// The warcinfo record that opens a file named `filename`: the program, the format, and `info`.
std::string InfoMember(const std::string& filename, std::chrono::system_clock::time_point when,
                       const Fields& info);

// One record read back: its header fields, its block's first bytes and its length.
struct ReadRecord {
    Fields fields;
    std::string blockStart;  // up to 64 KiB
    std::uint64_t blockLength = 0;
    const std::string* Field(const char* name) const;
};
// Parses a decompressed record as far as `decoded` holds it; false when it is no record.
bool ParseRecordHead(const std::string& decoded, std::size_t& headLength, ReadRecord& record);
// The index entry of a read record: false when it is no response with an HTTP status.
bool EntryOf(const ReadRecord& record, IndexEntry& entry);

}  // namespace warc
