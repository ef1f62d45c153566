#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/http_getter.h"
#include "engine/warc_archive.h"
#include "posix_helpers.h"
#include "support/debug_log.h"
#include "temp_dir.h"
#include "tools/server/scripted_server.h"

namespace {

namespace fs = std::filesystem;

// One record as a reader sees it, split by hand from the file's gzip members.
struct Record {
    std::map<std::string, std::string> fields;  // the last of each name
    std::vector<std::string> protocols;         // every WARC-Protocol
    std::string block;
    std::string Field(const std::string& name) const {
        const auto found = fields.find(name);
        return found != fields.end() ? found->second : "";
    }
    std::string Type() const { return Field("WARC-Type"); }
};

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every gzip member of the file decompressed on its own, as an index's offsets promise.
std::vector<Record> RecordsOf(const fs::path& path) {
    const std::string file = ReadBytes(path);
    std::vector<Record> records;
    std::size_t at = 0;
    while (at < file.size()) {
        z_stream stream{};
        EXPECT_EQ(inflateInit2(&stream, 16 + MAX_WBITS), Z_OK);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data() + at));
        stream.avail_in = static_cast<uInt>(file.size() - at);
        std::string decoded;
        int result = Z_OK;
        while (result == Z_OK) {
            char out[65536];
            stream.next_out = reinterpret_cast<Bytef*>(out);
            stream.avail_out = sizeof(out);
            result = inflate(&stream, Z_NO_FLUSH);
            decoded.append(out, sizeof(out) - stream.avail_out);
        }
        EXPECT_EQ(result, Z_STREAM_END) << "at " << at;
        at += stream.total_in;
        inflateEnd(&stream);
        if (result != Z_STREAM_END) {
            break;
        }
        Record record;
        const std::size_t headEnd = decoded.find("\r\n\r\n");
        std::size_t line = decoded.find("\r\n") + 2;
        while (line < headEnd + 2) {
            const std::size_t end = decoded.find("\r\n", line);
            const std::size_t colon = decoded.find(": ", line);
            const std::string name = decoded.substr(line, colon - line);
            const std::string value = decoded.substr(colon + 2, end - colon - 2);
            record.fields[name] = value;
            if (name == "WARC-Protocol") {
                record.protocols.push_back(value);
            }
            line = end + 2;
        }
        record.block = decoded.substr(headEnd + 4, std::stoull(record.Field("Content-Length")));
        EXPECT_EQ(decoded.substr(headEnd + 4 + record.block.size()), "\r\n\r\n");
        records.push_back(std::move(record));
    }
    return records;
}

std::vector<fs::path> ArchiveFiles(const fs::path& folder, const std::string& suffix) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().string().size() > suffix.size() &&
            entry.path().string().ends_with(suffix)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class ArchiveTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CWarcArchive::Settings settings;
        settings.folder = dir_.File("archive");
        settings.info = {{"bbs-url", "http://127.0.0.1/Expert/topic"}};
        ASSERT_TRUE(archive_.Open(settings).IsOk());
        getter_.SetArchive(&archive_);
        getter_.SetWaitLimit(WaitLimit::Of(std::chrono::milliseconds(300)));
    }
    // The records of the run so far, the file closed.
    std::vector<Record> Closed() {
        EXPECT_TRUE(archive_.Close().IsOk());
        const std::vector<fs::path> files = ArchiveFiles(dir_.File("archive"), ".warc.gz");
        EXPECT_EQ(files.size(), 1u);
        return files.empty() ? std::vector<Record>() : RecordsOf(files[0]);
    }

    TempDir dir_;
    CWarcArchive archive_;
    CHttpGetter getter_;
};

// What the site sent is what the archive holds: the answer to the request, from its status line
// to the end of its framing, with why it is cut short where it is.
TEST_F(ArchiveTest, EachExchangeIsKeptAsItWentOverTheWire) {
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    const std::string chunked =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
        "2\r\nok\r\n0\r\n\r\n";
    struct Case {
        const char* name;
        ServerScript script;
        HttpVersion version;
        std::string block;      // the response record's; none: no response record
        std::string truncated;  // its WARC-Truncated
        std::string payload;    // its WARC-Payload-Digest
    };
    const char* const okDigest = "sha1:PKC7I5SLXVW26HBVIXX3X4HSPGTNYC7L";  // of "ok"
    for (const Case& c : std::initializer_list<Case>{
             {"Whole", ServerScript().Send(ok), HttpVersion::k10, ok, "", okDigest},
             {"InterimAnswersLeftOut", ServerScript().Send("HTTP/1.1 100 Continue\r\n\r\n" + ok),
              HttpVersion::k11, ok, "", okDigest},
             {"ChunksKeptAndTakenOffForThePayload", ServerScript().Send(chunked), HttpVersion::k11,
              chunked, "", okDigest},
             {"BytesPastTheLengthLeftOut", ServerScript().Send(ok + "HTTP/1.1 200").Next(),
              HttpVersion::k11, ok, "", okDigest},
             {"CutShort",
              ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nok").Close(),
              HttpVersion::k10, "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nok", "disconnect",
              okDigest},
             {"Stalled", ServerScript().Send("HTTP/1.1 200 OK\r\n").Stall(), HttpVersion::k10,
              "HTTP/1.1 200 OK\r\n", "time", ""},
             {"ARefusalWhole",
              ServerScript().Send("HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nok"),
              HttpVersion::k10, "HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nok", "",
              okDigest},
             {"ARefusalNotReadPastItsHead",
              ServerScript().Send("HTTP/1.1 500 Oops\r\n\r\nok").Stall(), HttpVersion::k10,
              "HTTP/1.1 500 Oops\r\n\r\nok", "length", okDigest},
             {"NoAnswer", ServerScript().Close(), HttpVersion::k10, "", "", ""},
         }) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        CWarcArchive archive;
        CWarcArchive::Settings settings;
        settings.folder = dir.File("archive");
        ASSERT_TRUE(archive.Open(settings).IsOk());
        ScriptedServer server([&](const std::string&) { return c.script; });
        ASSERT_TRUE(server.Start());
        CHttpGetter getter;
        getter.SetArchive(&archive);
        getter.SetPort(server.Port());
        getter.SetVersions(c.version, c.version);
        getter.SetWaitLimit(WaitLimit::Of(std::chrono::milliseconds(300)));
        getter.Download("http://127.0.0.1/a/1.xml", dir.File("doc").c_str());
        server.Stop();
        ASSERT_TRUE(archive.Close().IsOk());
        const std::vector<Record> records =
            RecordsOf(ArchiveFiles(dir.File("archive"), ".warc.gz").at(0));
        ASSERT_EQ(records.size(), c.block.empty() ? 2u : 3u);
        EXPECT_EQ(records[0].Type(), "warcinfo");
        const Record& request = records[1];
        EXPECT_EQ(request.Type(), "request");
        EXPECT_EQ(request.Field("WARC-Target-URI"), "http://127.0.0.1/a/1.xml");
        EXPECT_EQ(request.Field("WARC-IP-Address"), "127.0.0.1");
        EXPECT_EQ(request.block, server.Requests().at(0));
        if (c.block.empty()) {
            EXPECT_EQ(request.Field("WARC-Concurrent-To"), "");
            continue;
        }
        const Record& response = records[2];
        EXPECT_EQ(response.Type(), "response");
        EXPECT_EQ(response.block, c.block);
        EXPECT_EQ(request.Field("WARC-Concurrent-To"), response.Field("WARC-Record-ID"));
        EXPECT_EQ(response.Field("WARC-Date"), request.Field("WARC-Date"));
        EXPECT_EQ(response.Field("WARC-Truncated"), c.truncated);
        EXPECT_EQ(response.Field("WARC-Payload-Digest"), c.payload);
        EXPECT_EQ(response.Field("Content-Type"), "application/http;msgtype=response");
        EXPECT_TRUE(response.protocols.empty());  // plain http
    }
}

TEST_F(ArchiveTest, EveryHopOfARedirectIsKeptAndTheIndexPointsAtEachResponse) {
    ScriptedServer server([](const std::string& request) {
        return ServerScript().Send(
            request.starts_with("GET /old")
                ? "HTTP/1.1 301 Moved\r\nLocation: /new?b=2&a=1\r\nContent-Length: 0\r\n\r\n"
                : "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                  "Content-Length: 2\r\n\r\nok");
    });
    ASSERT_TRUE(server.Start());
    getter_.SetPort(server.Port());
    getter_.SetVersions(HttpVersion::k11, HttpVersion::k11);
    ASSERT_EQ(getter_.Download("http://127.0.0.1/old", dir_.File("doc").c_str()), 1);
    server.Stop();
    const std::vector<Record> records = Closed();
    std::vector<std::string> kept;
    for (const Record& record : records) {
        kept.push_back(record.Type() + " " + record.Field("WARC-Target-URI"));
    }
    EXPECT_EQ(kept, (std::vector<std::string>{"warcinfo ", "request http://127.0.0.1/old",
                                              "response http://127.0.0.1/old",
                                              "request http://127.0.0.1/new?b=2&a=1",
                                              "response http://127.0.0.1/new?b=2&a=1"}));
    EXPECT_NE(records[0].block.find("bbs-url: http://127.0.0.1/Expert/topic\r\n"),
              std::string::npos);
    // Sorted by key; the query's arguments sorted in the key; offsets as the members lie.
    const std::string index = ReadBytes(ArchiveFiles(dir_.File("archive"), ".cdxj").at(0));
    const std::string name =
        ArchiveFiles(dir_.File("archive"), ".warc.gz").at(0).filename().string();
    const std::string stamp = records[2].Field("WARC-Date").substr(0, 19);
    std::string digits;
    for (const char c : stamp) {
        if (std::isdigit(static_cast<unsigned char>(c))) {
            digits += c;
        }
    }
    const std::string file = ReadBytes(ArchiveFiles(dir_.File("archive"), ".warc.gz").at(0));
    std::vector<std::size_t> offsets;
    for (std::size_t at = file.find("\x1f\x8b\x08"); at != std::string::npos;
         at = file.find("\x1f\x8b\x08", at + 1)) {
        offsets.push_back(at);
    }
    ASSERT_EQ(offsets.size(), 5u);
    offsets.push_back(file.size());
    const auto line = [&](const char* key, const char* url, const char* rest, int member) {
        return std::string(key) + " " + digits + " {\"url\":\"" + url + "\"" + rest +
               ",\"length\":\"" + std::to_string(offsets[member + 1] - offsets[member]) +
               "\",\"offset\":\"" + std::to_string(offsets[member]) + "\",\"filename\":\"" + name +
               "\"}\n";
    };
    EXPECT_EQ(index,
              line("1,0,0,127)/new?a=1&b=2", "http://127.0.0.1/new?b=2&a=1",
                   ",\"mime\":\"text/html\",\"status\":\"200\",\"digest\":"
                   "\"PKC7I5SLXVW26HBVIXX3X4HSPGTNYC7L\"",
                   4) +
                  line("1,0,0,127)/old", "http://127.0.0.1/old",
                       ",\"status\":\"301\",\"digest\":\"3I42H3S6NNFQ2MSVX7XZKYAYSCX5QBYJ\"", 2));
}

// What a kill or a power cut leaves at the end of the newest file is cut off at the next start,
// and said in the debug log; damage before whole records is left alone; the files are indexed.
TEST_F(ArchiveTest, ALeftOverFileIsFinishedAtTheNextStart) {
    ScriptedServer server([](const std::string&) {
        return ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    });
    ASSERT_TRUE(server.Start());
    getter_.SetPort(server.Port());
    for (int i = 0; i < 3; ++i) {
        getter_.Download(("http://127.0.0.1/" + std::to_string(i)).c_str(),
                         dir_.File("doc").c_str());
    }
    server.Stop();
    ASSERT_TRUE(archive_.Close().IsOk());
    const fs::path whole = ArchiveFiles(dir_.File("archive"), ".warc.gz").at(0);
    const std::string bytes = ReadBytes(whole);
    const std::size_t lastMember = bytes.rfind("\x1f\x8b\x08");
    const std::size_t secondMember = bytes.find("\x1f\x8b\x08", 1);
    SetDebugLogPath(dir_.File("debug.txt"));
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t kept;  // the length the file keeps; 0: it goes
        int indexed;       // the responses in its index
    };
    std::string damaged = bytes;
    damaged[secondMember + 20] ^= 0x55;
    for (const Case& c : std::initializer_list<Case>{
             {"Whole", bytes, bytes.size(), 3},
             {"LastRecordCut", bytes.substr(0, bytes.size() - 3), lastMember, 2},
             {"BytesAfterTheLast", bytes + std::string("\x1f\x8b\x08\x00garbage", 11), bytes.size(),
              3},
             {"DamageInTheMiddle", damaged, bytes.size(), 3},
             {"NotEvenTheFirstRecord", bytes.substr(0, 30), 0, 0},
         }) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::create_directory(dir.File("archive"));
        const fs::path left =
            fs::path(dir.File("archive")) / "NOVUDownLoad-20260101000000-00000.warc.gz";
        std::ofstream(left, std::ios::binary) << c.bytes;
        CWarcArchive next;
        CWarcArchive::Settings settings;
        settings.folder = dir.File("archive");
        ASSERT_TRUE(next.Open(settings).IsOk());
        ASSERT_TRUE(next.Close().IsOk());
        EXPECT_EQ(fs::exists(left) ? ReadBytes(left).size() : 0u, c.kept);
        const fs::path index =
            fs::path(left.string().substr(0, left.string().size() - 8) + ".cdxj");
        const std::string lines = fs::exists(index) ? ReadBytes(index) : "";
        EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), c.indexed);
        // This start's own file is a new one, never the old.
        EXPECT_EQ(ArchiveFiles(dir.File("archive"), ".warc.gz").size(), c.kept > 0 ? 2u : 1u);
    }
    CloseDebugLog();
    const std::string log = ReadBytes(dir_.File("debug.txt"));
    EXPECT_NE(log.find("archive: cut " + std::to_string(bytes.size() - 3 - lastMember) +
                       " bytes off the end of"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("archive: cut 11 bytes off the end of"), std::string::npos) << log;
    EXPECT_NE(log.find("damaged bytes at " + std::to_string(secondMember)), std::string::npos);
}

TEST_F(ArchiveTest, FilesEndAtTheirLimitAndAFailedWriteLeavesNothingHalfWritten) {
    TempDir dir;
    CWarcArchive archive;
    CWarcArchive::Settings settings;
    settings.folder = dir.File("archive");
    settings.maxFileBytes = 4096;
    ASSERT_TRUE(archive.Open(settings).IsOk());
    WireTape tape(settings.folder);
    tape.uri = "http://127.0.0.1/a";
    tape.request = "GET /a HTTP/1.0\r\n\r\n";
    std::string noise;
    for (int i = 0; i < 1500; ++i) {
        noise += static_cast<char>('a' + (i * 7919 + i / 3) % 26);
    }
    ASSERT_TRUE(tape.received.Append("HTTP/1.1 200 OK\r\n\r\n" + noise));
    const fs::path first = ArchiveFiles(settings.folder, ".warc.gz").at(0);
    const auto infoBytes = fs::file_size(first);
    ASSERT_TRUE(archive.Keep(tape).IsOk());
    const auto exchangeBytes = fs::file_size(first) - infoBytes;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(archive.Keep(tape).IsOk());
    }
    const std::vector<fs::path> files = ArchiveFiles(settings.folder, ".warc.gz");
    ASSERT_GE(files.size(), 2u);
    for (const fs::path& file : files) {
        if (file != files.back()) {
            // Full: one more exchange would have passed the limit.
            EXPECT_LE(fs::file_size(file), 4096u);
            EXPECT_GT(fs::file_size(file) + exchangeBytes, 4096u);
            EXPECT_TRUE(fs::exists(file.string().substr(0, file.string().size() - 8) + ".cdxj"));
        }
        EXPECT_EQ(RecordsOf(file).at(0).Type(), "warcinfo");
    }
#ifndef _WIN32
    const auto before = fs::file_size(files.back());
    {
        FileSizeLimit limit(before + 100);  // less than a record
        EXPECT_FALSE(archive.Keep(tape).IsOk());
    }
    EXPECT_EQ(fs::file_size(files.back()), before);
    EXPECT_TRUE(archive.Keep(tape).IsOk());
    EXPECT_EQ(RecordsOf(files.back()).back().Type(), "response");
#endif
    EXPECT_TRUE(archive.Close().IsOk());
}

}  // namespace
