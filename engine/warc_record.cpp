#include "engine/warc_record.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <random>
#include <string_view>
#include <thread>

#include "engine/chunked_decoder.h"
#include "engine/http_socket.h"
#include "engine/response_head.h"
#include "engine/sha1.h"
#include "support/object_pool.h"
#include "support/text_format.h"

namespace warc {
namespace {

constexpr std::string_view kVersionLine = "WARC/1.1\r\n";
constexpr std::string_view kRecordEnd = "\r\n\r\n";
constexpr std::size_t kBlockStartKept = 64 * 1024;

std::string Base32(const CSha1::Digest& digest) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string text;
    unsigned buffer = 0;
    int bits = 0;
    for (const unsigned char byte : digest) {
        buffer = (buffer << 8) | byte;
        bits += 8;
        while (bits >= 5) {
            text += kAlphabet[(buffer >> (bits - 5)) & 31];
            bits -= 5;
        }
    }
    if (bits > 0) {
        text += kAlphabet[(buffer << (5 - bits)) & 31];
    }
    return text;  // 160 bits: 32 letters, no padding
}

std::string DigestField(CSha1& sha1) {
    return "sha1:" + Base32(sha1.Finish());
}

// Whether bytes look compressed already (an image, a gzip body): their entropy is near 8 bits a
// byte. Such a block is stored in its member without a second compression, which would cost
// more CPU than the whole fetch and save nothing.
bool LooksCompressed(std::string_view sample) {
    if (sample.size() < 512) {
        return false;
    }
    std::array<unsigned, 256> counts{};
    for (const unsigned char byte : sample) {
        ++counts[byte];
    }
    const double n = static_cast<double>(sample.size());
    double entropy = 0;
    for (const unsigned count : counts) {
        if (count != 0) {
            const double p = count / n;
            entropy -= p * std::log2(p);
        }
    }
    // 4 KiB of random bytes measure some 7.95 bits; text and markup stay below 6.
    return entropy > 7.5;
}

// One gzip member at a time into a spool; a stream is kept and reset for the next record, since
// setting one up costs more than compressing a small page.
class CMemberWriter {
  public:
    CMemberWriter() {
        ready_ = deflateInit2(&stream_, Z_BEST_SPEED, Z_DEFLATED, 16 + MAX_WBITS, 8,
                              Z_DEFAULT_STRATEGY) == Z_OK;
    }
    ~CMemberWriter() {
        if (ready_) {
            deflateEnd(&stream_);
        }
    }
    CMemberWriter(const CMemberWriter&) = delete;
    CMemberWriter& operator=(const CMemberWriter&) = delete;

    bool Begin(CSpool& out, bool store) {
        out_ = &out;
        return ready_ && deflateReset(&stream_) == Z_OK &&
               deflateParams(&stream_, store ? Z_NO_COMPRESSION : Z_BEST_SPEED,
                             Z_DEFAULT_STRATEGY) == Z_OK;
    }
    bool Add(const void* data, std::size_t length) { return Run(data, length, Z_NO_FLUSH); }
    bool End() { return Run(nullptr, 0, Z_FINISH); }

  private:
    bool Run(const void* data, std::size_t length, int flush) {
        const auto* in = static_cast<const unsigned char*>(data);
        do {
            const auto piece = static_cast<uInt>(std::min<std::size_t>(length, 1u << 30));
            stream_.next_in = const_cast<unsigned char*>(in);
            stream_.avail_in = piece;
            const int mode = piece == length ? flush : Z_NO_FLUSH;
            int result;
            do {
                stream_.next_out = out_block_.data();
                stream_.avail_out = static_cast<uInt>(out_block_.size());
                result = deflate(&stream_, mode);
                if (result == Z_STREAM_ERROR) {
                    return false;
                }
                const std::size_t made = out_block_.size() - stream_.avail_out;
                if (made > 0 && !out_->Append(out_block_.data(), made)) {
                    return false;
                }
            } while (stream_.avail_out == 0 || (mode == Z_FINISH && result != Z_STREAM_END));
            in += piece;
            length -= piece;
        } while (length > 0);
        return true;
    }

    z_stream stream_{};
    bool ready_ = false;
    std::array<unsigned char, 64 * 1024> out_block_{};
    CSpool* out_ = nullptr;
};

std::string HeaderBlock(const Fields& fields, std::uint64_t contentLength) {
    std::string header(kVersionLine);
    for (const auto& [name, value] : fields) {
        header += name + ": " + value + "\r\n";
    }
    header += "Content-Length: " + std::to_string(contentLength) + "\r\n\r\n";
    return header;
}

// Hashes a response as it is read: the whole block, and the payload behind the head with its
// transfer coding taken off, as replay tools compute it.
class CResponseDigests {
  public:
    void Take(const char* data, std::size_t length) {
        block_.Update(data, length);
        if (!headEnded_) {
            const std::size_t before = head_.size();
            head_.append(data, std::min(length, CHttpSocket::kMaxHeaderBytes + 4 - before));
            const int end = CResponseHead::FindEnd(head_.data(), static_cast<int>(head_.size()));
            if (end < 0) {
                return;
            }
            headEnded_ = true;
            head_.resize(static_cast<std::size_t>(end));
            const CResponseHead head(head_);
            const std::optional<std::string_view> coding = head.Field("transfer-encoding");
            chunked_ = coding && EqualsNoCase(*coding, "chunked");
            const std::size_t used = static_cast<std::size_t>(end) - before;
            data += used;
            length -= used;
        }
        if (chunked_) {
            dechunk_.Write(data, length);
        } else {
            payload_.Update(data, length);
        }
        if (bodyStart_.size() < 4096) {
            bodyStart_.append(data, std::min(length, 4096 - bodyStart_.size()));
        }
    }
    std::string BlockDigest() { return DigestField(block_); }
    // None when the payload cannot be told: no end of the head, or chunks that break.
    std::optional<std::string> PayloadDigest() {
        if (!headEnded_ || dechunk_.Bad()) {
            return std::nullopt;
        }
        return DigestField(payload_);
    }
    const std::string& Head() const { return head_; }
    std::string_view BodyStart() const { return bodyStart_; }

  private:
    struct Sink {
        CSha1& sha1;
        bool Write(const void* data, std::size_t length) {
            sha1.Update(data, length);
            return true;
        }
        int Error() const { return 0; }
    };

    CSha1 block_;
    CSha1 payload_;
    Sink sink_{payload_};
    CChunkedDecoder<Sink> dechunk_{sink_};
    std::string head_;
    bool headEnded_ = false;
    bool chunked_ = false;
    std::string bodyStart_;
};

// The fields every record of an exchange has.
Fields ExchangeFields(const WireTape& tape, const char* type, const std::string& id) {
    Fields fields = {{"WARC-Type", type},
                     {"WARC-Record-ID", id},
                     {"WARC-Date", Date(tape.date)},
                     {"WARC-Target-URI", tape.uri}};
    if (!tape.peerAddress.empty()) {
        fields.emplace_back("WARC-IP-Address", tape.peerAddress);
    }
    if (!tape.tlsProtocol.empty()) {
        fields.emplace_back("WARC-Protocol", tape.httpProtocol);
        fields.emplace_back("WARC-Protocol", tape.tlsProtocol);
    }
    if (!tape.tlsCipher.empty()) {
        fields.emplace_back("WARC-Cipher-Suite", tape.tlsCipher);
    }
    return fields;
}

bool Fail(Status& failure, const Status& why) {
    failure = why.IsOk() ? Status::SystemError(EIO, "archive") : why;
    return false;
}

std::string JsonString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20 || byte >= 0x7F) {
            quoted += FormatText("\\u%04x", byte);  // a hostile field's bytes stay valid JSON
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

}  // namespace

std::string NewRecordId() {
    thread_local std::mt19937_64 random = [] {
        std::random_device device;
        std::seed_seq seed{
            device(),
            device(),
            device(),
            device(),
            static_cast<unsigned>(std::hash<std::thread::id>()(std::this_thread::get_id())),
            static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count())};
        return std::mt19937_64(seed);
    }();
    const std::uint64_t high = (random() & ~0xF000ull) | 0x4000ull;       // version 4
    const std::uint64_t low = (random() & ~(3ull << 62)) | (2ull << 62);  // the RFC 4122 variant
    return FormatText("<urn:uuid:%08llx-%04llx-%04llx-%04llx-%012llx>",
                      static_cast<unsigned long long>(high >> 32),
                      static_cast<unsigned long long>((high >> 16) & 0xFFFF),
                      static_cast<unsigned long long>(high & 0xFFFF),
                      static_cast<unsigned long long>(low >> 48),
                      static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
}

std::string Date(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto micros = time_point_cast<microseconds>(when);
    const auto day = floor<days>(micros);
    const year_month_day date(day);
    const hh_mm_ss<microseconds> time(micros - day);
    return FormatText("%04d-%02u-%02uT%02d:%02d:%02d.%06lldZ", static_cast<int>(date.year()),
                      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                      static_cast<int>(time.hours().count()),
                      static_cast<int>(time.minutes().count()),
                      static_cast<int>(time.seconds().count()),
                      static_cast<long long>(time.subseconds().count()));
}

std::string Timestamp(std::string_view date) {
    std::string digits;
    for (const char c : date.substr(0, 19)) {
        if (c >= '0' && c <= '9') {
            digits += c;
        }
    }
    return digits;
}

std::string SortKey(const std::string& url) {
    const std::string lower = LowerCase(url);
    const std::size_t schemeEnd = lower.find("://");
    if (schemeEnd == std::string::npos) {
        return lower;
    }
    const std::string scheme = lower.substr(0, schemeEnd);
    const std::size_t hostStart = schemeEnd + 3;
    const std::size_t pathStart = std::min(lower.find_first_of("/?#", hostStart), lower.size());
    std::string authority = lower.substr(hostStart, pathStart - hostStart);
    std::string port;
    if (const std::size_t colon = authority.rfind(':');
        colon != std::string::npos && authority.find(']', colon) == std::string::npos) {
        port = authority.substr(colon + 1);
        authority.resize(colon);
        if ((scheme == "http" && port == "80") || (scheme == "https" && port == "443")) {
            port.clear();
        }
    }
    // "www.", "www2." and the like name the same site.
    if (authority.rfind("www", 0) == 0) {
        const std::size_t dot = authority.find('.');
        if (dot != std::string::npos && authority.find_first_not_of("0123456789", 3) == dot) {
            authority.erase(0, dot + 1);
        }
    }
    std::string key;
    for (std::size_t end = authority.size(); end > 0;) {
        const std::size_t dot = authority.rfind('.', end - 1);
        const std::size_t begin = dot == std::string::npos ? 0 : dot + 1;
        if (!key.empty()) {
            key += ',';
        }
        key.append(authority, begin, end - begin);
        end = dot == std::string::npos ? 0 : dot;
    }
    if (!port.empty()) {
        key += ":" + port;
    }
    key += ")";
    const std::string rest = lower.substr(pathStart, lower.find('#', pathStart) - pathStart);
    const std::size_t query = rest.find('?');
    const std::string path = rest.substr(0, query);
    key += path.empty() ? "/" : path;
    if (query != std::string::npos) {
        std::vector<std::string> arguments;
        for (std::size_t at = query + 1; at <= rest.size();) {
            const std::size_t amp = std::min(rest.find('&', at), rest.size());
            arguments.push_back(rest.substr(at, amp - at));
            at = amp + 1;
        }
        std::sort(arguments.begin(), arguments.end());
        key += "?";
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            if (i > 0) {
                key += '&';
            }
            key += arguments[i];
        }
    }
    return key;
}

std::string IndexLine(const IndexEntry& entry, const std::string& filename) {
    // Compact JSON, field for field as replay tools' own indexers write it.
    std::string line = entry.key + " {\"url\":" + JsonString(entry.url);
    if (!entry.mime.empty()) {
        line += ",\"mime\":" + JsonString(entry.mime);
    }
    line += ",\"status\":" + JsonString(entry.status);
    if (!entry.digest.empty()) {
        line += ",\"digest\":" + JsonString(entry.digest);
    }
    line += ",\"length\":\"" + std::to_string(entry.length) + "\",\"offset\":\"" +
            std::to_string(entry.offset) + "\",\"filename\":" + JsonString(filename) + "}\n";
    return line;
}

bool BuildExchange(WireTape& tape, ExchangeRecords& records, Status& failure) {
    const std::string requestId = NewRecordId();
    const std::string responseId = NewRecordId();
    const std::uint64_t answerEnd = tape.AnswerEnd();
    const bool answered = answerEnd > tape.answerBegin;
    const auto lease = CObjectPool<CMemberWriter>::Shared().Take();
    CMemberWriter& writer = *lease;

    CSha1 requestDigest;
    requestDigest.Update(tape.request.data(), tape.request.size());
    Fields request = ExchangeFields(tape, "request", requestId);
    if (answered) {
        request.emplace_back("WARC-Concurrent-To", responseId);
    }
    request.emplace_back("Content-Type", "application/http;msgtype=request");
    request.emplace_back("WARC-Block-Digest", DigestField(requestDigest));
    const std::string requestHeader = HeaderBlock(request, tape.request.size());
    if (!writer.Begin(records.members, false) ||
        !writer.Add(requestHeader.data(), requestHeader.size()) ||
        !writer.Add(tape.request.data(), tape.request.size()) ||
        !writer.Add(kRecordEnd.data(), kRecordEnd.size()) || !writer.End()) {
        return Fail(failure, records.members.Failure());
    }
    records.responseOffset = records.members.Size();
    if (!answered) {
        return true;
    }

    CResponseDigests digests;
    if (!tape.received.Read(tape.answerBegin, answerEnd, [&](const char* data, std::size_t size) {
            digests.Take(data, size);
            return true;
        })) {
        return Fail(failure, tape.received.Failure());
    }
    Fields response = ExchangeFields(tape, "response", responseId);
    if (!tape.truncated.empty()) {
        response.emplace_back("WARC-Truncated", tape.truncated);
    }
    response.emplace_back("Content-Type", "application/http;msgtype=response");
    response.emplace_back("WARC-Block-Digest", digests.BlockDigest());
    if (const std::optional<std::string> payload = digests.PayloadDigest()) {
        response.emplace_back("WARC-Payload-Digest", *payload);
    }
    const std::string responseHeader = HeaderBlock(response, answerEnd - tape.answerBegin);
    if (!writer.Begin(records.members, LooksCompressed(digests.BodyStart())) ||
        !writer.Add(responseHeader.data(), responseHeader.size()) ||
        !tape.received.Read(
            tape.answerBegin, answerEnd,
            [&](const char* data, std::size_t size) { return writer.Add(data, size); }) ||
        !writer.Add(kRecordEnd.data(), kRecordEnd.size()) || !writer.End()) {
        return Fail(failure, records.members.Failure().IsOk() ? tape.received.Failure()
                                                              : records.members.Failure());
    }
    ReadRecord read;
    read.fields = std::move(response);
    read.blockStart = digests.Head();
    read.blockLength = answerEnd - tape.answerBegin;
    records.indexed = EntryOf(read, records.entry);
    records.entry.offset = records.responseOffset;
    records.entry.length = records.members.Size() - records.responseOffset;
    return true;
}

std::string InfoMember(const std::string& filename, std::chrono::system_clock::time_point when,
                       const Fields& info) {
    std::string block = "software: NOVUDownLoad/" NOVU_VERSION
                        "\r\n"
                        "format: WARC File Format 1.1\r\n"
                        "conformsTo: http://bibnum.bnf.fr/WARC/"
                        "WARC_ISO_28500_version1-1_latestdraft.pdf\r\n";
    for (const auto& [name, value] : info) {
        block += name + ": " + value + "\r\n";
    }
    CSha1 digest;
    digest.Update(block.data(), block.size());
    const std::string header = HeaderBlock({{"WARC-Type", "warcinfo"},
                                            {"WARC-Record-ID", NewRecordId()},
                                            {"WARC-Date", Date(when)},
                                            {"WARC-Filename", filename},
                                            {"Content-Type", "application/warc-fields"},
                                            {"WARC-Block-Digest", DigestField(digest)}},
                                           block.size());
    CSpool member;
    const auto lease = CObjectPool<CMemberWriter>::Shared().Take();
    CMemberWriter& writer = *lease;
    std::string bytes;
    if (writer.Begin(member, false) && writer.Add(header.data(), header.size()) &&
        writer.Add(block.data(), block.size()) &&
        writer.Add(kRecordEnd.data(), kRecordEnd.size()) && writer.End()) {
        member.Read(0, member.Size(), [&](const char* data, std::size_t size) {
            bytes.append(data, size);
            return true;
        });
    }
    return bytes;
}

const std::string* ReadRecord::Field(const char* name) const {
    const std::string lower = LowerCase(name);
    for (const auto& [field, value] : fields) {
        if (EqualsNoCase(field, lower)) {
            return &value;
        }
    }
    return nullptr;
}

bool ParseRecordHead(const std::string& decoded, std::size_t& headLength, ReadRecord& record) {
    if (decoded.compare(0, kVersionLine.size(), kVersionLine) != 0) {
        return false;
    }
    const std::size_t end = decoded.find("\r\n\r\n");
    if (end == std::string::npos) {
        return false;
    }
    record.fields.clear();
    for (std::size_t at = kVersionLine.size(); at < end + 2;) {
        const std::size_t lineEnd = decoded.find("\r\n", at);
        const std::size_t colon = decoded.find(':', at);
        if (colon == std::string::npos || colon > lineEnd) {
            return false;
        }
        std::size_t value = colon + 1;
        while (value < lineEnd && decoded[value] == ' ') {
            ++value;
        }
        record.fields.emplace_back(decoded.substr(at, colon - at),
                                   decoded.substr(value, lineEnd - value));
        at = lineEnd + 2;
    }
    const std::string* length = record.Field("Content-Length");
    if (length == nullptr || length->empty() || length->size() > 18 ||
        length->find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    record.blockLength = std::stoull(*length);
    headLength = end + 4;
    record.blockStart = decoded.substr(headLength, kBlockStartKept);
    return true;
}

bool EntryOf(const ReadRecord& record, IndexEntry& entry) {
    const std::string* type = record.Field("WARC-Type");
    const std::string* url = record.Field("WARC-Target-URI");
    const std::string* date = record.Field("WARC-Date");
    if (type == nullptr || *type != "response" || url == nullptr || date == nullptr) {
        return false;
    }
    const int headEnd = CResponseHead::FindEnd(record.blockStart.data(),
                                               static_cast<int>(record.blockStart.size()));
    if (headEnd < 0) {
        return false;
    }
    const CResponseHead head(std::string_view(record.blockStart).substr(0, headEnd));
    if (head.Status() < 0) {
        return false;
    }
    entry.key = SortKey(*url) + " " + Timestamp(*date);
    entry.url = *url;
    entry.status = std::to_string(head.Status());
    entry.mime.clear();
    if (const std::optional<std::string_view> type = head.Field("content-type")) {
        std::string_view mime = type->substr(0, type->find(';'));
        while (!mime.empty() && (mime.back() == ' ' || mime.back() == '\t')) {
            mime.remove_suffix(1);
        }
        entry.mime = std::string(mime);
    }
    const std::string* digest = record.Field("WARC-Payload-Digest");
    entry.digest = digest != nullptr ? digest->substr(digest->find(':') + 1) : "";
    return true;
}

}  // namespace warc
