#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/cookie_jar.h"
#include "engine/http_getter.h"
#include "engine/http_socket.h"
#include "engine/page_likeness.h"
#include "engine/response_head.h"
#include "engine/retry_after.h"
#include "posix_helpers.h"
#include "run/extended_settings.h"
#include "support/text_format.h"
#include "temp_dir.h"
#include "tools/server/scripted_server.h"
#include "wait_until.h"

namespace {

// Byte patterns that catch reordering, NUL handling and line-end translation.
std::string PatternBody(std::size_t size) {
    std::string body(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        body[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    body.replace(0, 4, std::string("\r\n\0\n", 4));
    return body;
}

// What the probe read of a page: its start, and whether that was all of it.
PageSample Sampled(std::string start, bool whole) {
    PageSample sample;
    sample.start = std::move(start);
    sample.whole = whole;
    return sample;
}

class FetcherTest : public ::testing::Test {
  protected:
    // Serves `script` to every request and fetches `url` (the host part is replaced by the
    // server's loopback address) into "doc" in the temp folder.
    int Fetch(const ServerScript& script, int timeout = -1, std::string urlPath = "/a/1/1.xml") {
        server_ = std::make_unique<ScriptedServer>([script](const std::string&) { return script; });
        EXPECT_TRUE(server_->Start());
        getter_.SetPort(server_->Port());
        getter_.SetTimeout(timeout);
        url_ = "http://127.0.0.1" + urlPath;
        return getter_.Download(url_.c_str(), Target().c_str());
    }
    // Serves `script` to every request; the fetcher's port for portless URLs is the server's.
    void Serve(const ServerScript& script) {
        server_ = std::make_unique<ScriptedServer>([script](const std::string&) { return script; });
        ASSERT_TRUE(server_->Start());
        getter_.SetPort(server_->Port());
    }
    // Serves the answers in turn, the last one to every request after them, and sets the
    // fetcher up for HTTP/1.1 with `limit` per wait.
    void ServeInTurn(std::vector<ServerScript> answers, WaitLimit limit) {
        auto asked = std::make_shared<std::atomic<std::size_t>>(0);
        server_ = std::make_unique<ScriptedServer>(
            [answers = std::move(answers), asked](const std::string&) {
                return answers[std::min(asked->fetch_add(1), answers.size() - 1)];
            });
        ASSERT_TRUE(server_->Start());
        getter_.SetPort(server_->Port());
        getter_.SetVersions(HttpVersion::k11, HttpVersion::k11);
        getter_.SetWaitLimit(limit);
    }
    std::string Target() const { return dir_.File("doc"); }
    bool TargetExists() const { return std::filesystem::exists(Target()); }
    // The names in the folder besides the target: a failed or unfinished fetch leaves none.
    int OtherFiles() const {
        int count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
            count += entry.path() != Target();
        }
        return count;
    }

    TempDir dir_;
    CHttpGetter getter_;
    std::unique_ptr<ScriptedServer> server_;
    std::string url_;
};

TEST_F(FetcherTest, SendsExactlyTheRequestLineAndBlankLine) {
    ASSERT_EQ(Fetch(ServerScript().Send(HttpResponse(200, "x"))), 1);
    const auto requests = server_->Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], "GET " + url_ + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(requests[0].size(), url_.size() + 17);
}

TEST_F(FetcherTest, StoresSmallBodyExactly) {
    const std::string response =
        "HTTP/1.0 200 OK\r\nServer: t\r\nContent-Type: text/xml\r\n\r\n0123456789";
    ASSERT_EQ(Fetch(ServerScript().Send(response)), 1);
    EXPECT_EQ(ReadFileBytes(Target()), "0123456789");
}

TEST_F(FetcherTest, StoresBodyOfManyBlocksInOrder) {
    const std::string body = PatternBody(64 * 1024 + 77);
    ASSERT_EQ(Fetch(ServerScript().Send("HTTP/1.0 200 OK\r\n\r\n").Drip(body, 3000, 1)), 1);
    EXPECT_EQ(ReadFileBytes(Target()), body);
}

TEST_F(FetcherTest, EmptyBodyCreatesEmptyFile) {
    ASSERT_EQ(Fetch(ServerScript().Send("HTTP/1.0 200 OK\r\n\r\n")), 1);
    EXPECT_TRUE(TargetExists());
    EXPECT_EQ(ReadFileBytes(Target()), "");
}

TEST_F(FetcherTest, HeaderSplitFromBodyAcrossSendsStillStoresBody) {
    // The rest goes only once the first part is in the fetcher's socket.
    Serve(ServerScript().Send("HTTP/1.0 200 OK\r\n\r\nab").Mark().AwaitRelease().Send("cd"));
    std::thread release([this] {
        EXPECT_TRUE(WaitUntil([&] { return server_->MarksPassed() == 1; }));
        server_->Release();
    });
    EXPECT_EQ(getter_.Download("http://127.0.0.1/d", Target().c_str()), 1);
    release.join();
    EXPECT_EQ(ReadFileBytes(Target()), "abcd");
}

class StatusTest : public FetcherTest,
                   public ::testing::WithParamInterface<std::pair<const char*, int>> {};

TEST_P(StatusTest, AcceptsOnly200To300) {
    const auto [statusLine, expected] = GetParam();
    WriteFileBytes(Target(), "earlier");
    EXPECT_EQ(Fetch(ServerScript().Send(std::string(statusLine) + "\r\n\r\nbody")), expected);
    EXPECT_EQ(ReadFileBytes(Target()),
              expected ? "body" : "earlier");  // a refusal leaves the file be
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, StatusTest,
    ::testing::Values(std::make_pair("HTTP/1.0 199 Early", 0), std::make_pair("HTTP/1.0 200 OK", 1),
                      std::make_pair("HTTP/1.0 300 Multiple", 1),
                      std::make_pair("HTTP/1.0 301 Moved", 0),
                      std::make_pair("HTTP/1.0 302 Found", 0),
                      std::make_pair("HTTP/1.0 404 Not Found", 0),
                      std::make_pair("HTTP/1.0 2004 Odd", 1), std::make_pair("HTTP/1.0 200", 1),
                      std::make_pair("HTTP/1.0 20 Short", 0),
                      std::make_pair("HTTP/1.0 -20 Signed", 0), std::make_pair("garbage", 0)));

struct ReasonCase {
    const char* name;
    ServerScript script;
    const char* reason;
};

class ReasonTest : public FetcherTest, public ::testing::WithParamInterface<ReasonCase> {};

// What failed.txt says must tell a server that said nothing from one that said nonsense.
TEST_P(ReasonTest, FailureIsNamedForWhatTheServerDid) {
    Serve(GetParam().script);
    FetchFailure failure;
    EXPECT_EQ(getter_.Download("http://127.0.0.1/d", Target().c_str(), &failure), 0);
    EXPECT_EQ(DescribeFetchFailure(failure), GetParam().reason);
    EXPECT_FALSE(TargetExists());
}

INSTANTIATE_TEST_SUITE_P(
    Servers, ReasonTest,
    ::testing::Values(
        ReasonCase{"Silent", ServerScript().Close(), "closed before answering"},
        ReasonCase{"TwoDigits", ServerScript().Send("HTTP/1.0 20 OK\r\n\r\nx"), "bad status line"},
        ReasonCase{"Negative", ServerScript().Send("HTTP/1.0 -20 OK\r\n\r\nx"), "bad status line"},
        ReasonCase{"NoSpace", ServerScript().Send("garbage\r\n\r\n"), "bad status line"},
        ReasonCase{"CutInTheHead", ServerScript().Send("HTTP/1.0 200 OK\r\nServer: x\r\n"),
                   "closed inside the header block"},
        ReasonCase{"Missing", ServerScript().Send(HttpResponse(404, "gone")), "status 404"}),
    [](const auto& info) { return std::string(info.param.name); });

struct BodyFault {
    const char* name;
    ServerScript script;
    WaitLimit limit;
    FetchError error;
    bool resets = false;
};

class BodyFaultTest : public FetcherTest, public ::testing::WithParamInterface<BodyFault> {};

// Whatever breaks a body off, the document is not stored, nothing is left under a partial name,
// and an older copy of the same number stays as it was.
TEST_P(BodyFaultTest, FailedBodyLeavesOlderCopyAndNoPartialFile) {
    if (GetParam().resets) {
        NOVU_SKIP_ON_WINDOWS(
            "a reset by a zero linger time (Wine closes such a socket gracefully)");
    }
    WriteFileBytes(Target(), "good old copy");
    FetchFailure failure;
    Serve(GetParam().script);
    getter_.SetWaitLimit(GetParam().limit);
    // The reset comes once the head and part of the body are with the fetcher.
    std::thread release;
    if (GetParam().resets) {
        release = std::thread([this] {
            EXPECT_TRUE(WaitUntil([&] { return server_->MarksPassed() == 1; }));
            server_->Release();
        });
    }
    EXPECT_EQ(getter_.Download("http://127.0.0.1/d", Target().c_str(), &failure), 0);
    if (release.joinable()) {
        release.join();
    }
    EXPECT_EQ(failure.error, GetParam().error);
    EXPECT_EQ(ReadFileBytes(Target()), "good old copy");
    EXPECT_EQ(OtherFiles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, BodyFaultTest,
    ::testing::Values(
        BodyFault{"TimeLimit", ServerScript().Send("HTTP/1.0 200 OK\r\n\r\npart").Stall(),
                  WaitLimit::Of(std::chrono::milliseconds(100)), FetchError::kTimeLimit},
        BodyFault{"ResetWithoutLength",
                  ServerScript()
                      .Send("HTTP/1.0 200 OK\r\n\r\n" + std::string(3000, 'p'))
                      .Mark()
                      .AwaitRelease()
                      .Reset(),
                  WaitLimit::None(), FetchError::kReceive, true},
        BodyFault{"ShortOfLength",
                  ServerScript().Send(HttpResponse(200, "short", "Content-Length: 100\r\n")),
                  WaitLimit::None(), FetchError::kShortBody},
        BodyFault{"OneByteShortOfLength",
                  ServerScript().Send(HttpResponse(200, "hello", "Content-Length: 6\r\n")),
                  WaitLimit::None(), FetchError::kShortBody},
        // A body framed two ways is not believed in either: "hel" must not pass as whole.
        BodyFault{"TwoLengths",
                  ServerScript().Send(HttpResponse(200, "hello",
                                                   "Content-Length: 3\r\nContent-Length: 5\r\n")),
                  WaitLimit::None(), FetchError::kBadContentLength},
        BodyFault{"TwoLengthsInOneLine",
                  ServerScript().Send(HttpResponse(200, "hello", "Content-Length: 3, 5\r\n")),
                  WaitLimit::None(), FetchError::kBadContentLength}),
    [](const auto& info) { return std::string(info.param.name); });

// A chunked body, however its chunks are sized, stored without its framing; a broken one stored
// not at all. Each body follows "HTTP/1.1 200 OK" and "Transfer-Encoding: chunked".
TEST_F(FetcherTest, ChunkedBodiesAreStoredWithoutTheirFramingOrNotAtAll) {
    struct Case {
        std::string body;
        std::optional<std::string> stored;  // none: "bad chunked body"
        bool stall = false;                 // the server keeps the connection open after it
    };
    const std::string big(0x10000, 'b');
    for (const Case& c : std::initializer_list<Case>{
             {"0\r\n\r\n", ""},
             {"1\r\na\r\n0\r\n\r\n", "a"},
             {"10000\r\n" + big + "\r\n0\r\n\r\n", big},
             {"5;name=v\r\nhello\r\n3 ;x\r\n, w\r\n0;last\r\n\r\n", "hello, w"},
             {"5\r\nhello\r\n0\r\nX-Trailer: 1\r\nY: 2\r\n\r\n", "hello"},
             {"5\r\nhello\r\n0\r\n\r\n", "hello", true},
             {"x\r\nhello\r\n0\r\n\r\n", std::nullopt},
             {"5\nhello\r\n0\r\n\r\n", std::nullopt},
             {"5\r\nhelloX\r\n0\r\n\r\n", std::nullopt},
             {"5\r\nhello\r\n0\r\n\n", std::nullopt},
             {"5\r\nhello\r\n", std::nullopt},
             {"5\r\nhel", std::nullopt},
             {"0000000000000001\r\na\r\n0\r\n\r\n", std::nullopt}}) {
        ServerScript script = ServerScript().Send(
            "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n" + c.body);
        Serve(c.stall ? script.Stall() : script);
        getter_.SetWaitLimit(WaitLimit::Of(std::chrono::seconds(5)));
        FetchFailure failure;
        const int result = getter_.Download("http://127.0.0.1/d", Target().c_str(), &failure);
        const std::string shown = c.body.substr(0, 40);
        EXPECT_EQ(result, c.stored ? 1 : 0) << shown;
        EXPECT_EQ(DescribeFetchFailure(failure), c.stored ? "stored" : "bad chunked body") << shown;
        EXPECT_EQ(TargetExists() ? ReadFileBytes(Target()) : "(none)", c.stored.value_or("(none)"))
            << shown;
        std::filesystem::remove(Target());
        server_->Stop();
    }
    Serve(ServerScript().Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\nxx"));
    FetchFailure failure;
    EXPECT_EQ(getter_.Download("http://127.0.0.1/d", Target().c_str(), &failure), 0);
    EXPECT_EQ(DescribeFetchFailure(failure), "unsupported Transfer-Encoding: gzip");
}

// HTTP/1.1: documents go over one kept connection while the answers allow it; a connection
// the server closed while it was idle is replaced at once; a failure once the answer began is a
// failure. Each case answers its requests in turn (the last answer repeats).
TEST_F(FetcherTest, KeptConnectionsCarryDocumentsWhileTheAnswersAllowIt) {
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    struct Case {
        const char* name;
        std::vector<ServerScript> answers;
        std::vector<int> results;  // one document each
        int connections;
        // Each fetch but the first lets the server go on, and waits for its mark.
        bool afterEachMark = false;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"Length", {ServerScript().Send(ok).Next()}, {1, 1, 1}, 1},
             {"Chunked",
              {ServerScript()
                   .Send(
                       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n")
                   .Next()},
              {1, 1, 1},
              1},
             {"RefusalBodyDropped",
              {ServerScript()
                   .Send("HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone")
                   .Next(),
               ServerScript().Send(ok).Next()},
              {0, 1, 1},
              1},
             // A refusal's body is dropped to keep the connection up to 64 KiB, no further.
             {"RefusalBodyAtItsCap",
              {ServerScript()
                   .Send("HTTP/1.1 404 Not Found\r\nContent-Length: 65536\r\n\r\n" +
                         std::string(64 * 1024, 'g'))
                   .Next(),
               ServerScript().Send(ok).Next()},
              {0, 1},
              1},
             {"RefusalBodyPastItsCap",
              {ServerScript()
                   .Send("HTTP/1.1 404 Not Found\r\nContent-Length: 65537\r\n\r\n" +
                         std::string(64 * 1024 + 1, 'g'))
                   .Next(),
               ServerScript().Send(ok).Next()},
              {0, 1},
              2},
             {"ConnectionClose",
              {ServerScript().Send(
                  "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok")},
              {1, 1, 1},
              3},
             {"Http10Answer",
              {ServerScript().Send("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")},
              {1, 1, 1},
              3},
             {"Http10KeepAlive",
              {ServerScript()
                   .Send("HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\nok")
                   .Next()},
              {1, 1, 1},
              1},
             {"UntilTheClose", {ServerScript().Send("HTTP/1.1 200 OK\r\n\r\nok")}, {1, 1, 1}, 3},
             // The server says it closes, and does not: the connection goes all the same.
             {"ConnectionCloseLeftOpen",
              {ServerScript()
                   .Send("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok")
                   .Next()},
              {1, 1, 1},
              3},
             {"ChunkedWithTrailers",
              {ServerScript()
                   .Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n0\r\n"
                         "A: 1\r\nB: 2\r\n\r\n")
                   .Next()},
              {1, 1, 1},
              1},
             // A second answer nobody asked for, sent while the connection is idle, is never
             // taken for the next document's.
             {"UnaskedAnswerWhileIdle",
              {ServerScript()
                   .Send(ok)
                   .AwaitRelease()
                   .Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nWRONG")
                   .Mark()
                   .Next()},
              {1, 1, 1},
              3,
              true},
             // Bytes past a body's length that come after the next request went out are no
             // answer: the request goes once more, on a new connection.
             {"LateBytesBeforeTheAnswer",
              {ServerScript().Send(ok).Next(), ServerScript().Send("tail of the body" + ok).Next(),
               ServerScript().Send(ok).Next()},
              {1, 1},
              2},
             {"IdleOneClosedIsReplaced", {ServerScript().Send(ok).Close()}, {1, 1, 1}, 3},
             {"CloseAfterTheHead",
              {ServerScript().Send(ok).Next(),
               ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n").Close()},
              {1, 0},
              1},
             {"StallAfterReuse",
              {ServerScript().Send(ok).Next(), ServerScript().Stall()},
              {1, 0},
              1},
             // An answer that began is the answer: a failure inside it is not asked again.
             {"CloseInsideTheHead",
              {ServerScript().Send(ok).Next(),
               ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Le").Close()},
              {1, 0},
              1}}) {
        ServeInTurn(c.answers, WaitLimit::Of(std::chrono::milliseconds(100)));
        std::vector<int> results;
        for (std::size_t i = 0; i < c.results.size(); ++i) {
            if (c.afterEachMark && i > 0) {
                server_->Release();
                ASSERT_TRUE(
                    WaitUntil([&] { return server_->MarksPassed() >= static_cast<int>(i); }));
            }
            results.push_back(getter_.Download("http://127.0.0.1/d", Target().c_str()));
            EXPECT_TRUE(results.back() == 0 || ReadFileBytes(Target()) == "ok") << c.name;
        }
        EXPECT_EQ(results, c.results) << c.name;
        EXPECT_EQ(server_->ConnectionCount(), c.connections) << c.name;
        EXPECT_EQ(server_->Requests().at(0),
                  "GET /d HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: "
                  "NOVUDownLoad/1.0\r\nAccept-Encoding: gzip\r\n\r\n")
            << c.name;
        server_->Stop();
    }
}

// A kept connection is one per origin: scheme, host and port.
TEST_F(FetcherTest, KeptConnectionsAreKeptApartByPort) {
    const auto serve = [](const char* body) {
        return std::make_unique<ScriptedServer>([body](const std::string&) {
            return ServerScript()
                .Send(std::string("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\n") + body)
                .Next();
        });
    };
    std::unique_ptr<ScriptedServer> first = serve("1"), second = serve("2");
    ASSERT_TRUE(first->Start() && second->Start());
    getter_.SetVersions(HttpVersion::k11, HttpVersion::k11);
    for (const auto* server : {first.get(), second.get(), first.get()}) {
        const std::string url = "http://127.0.0.1:" + std::to_string(server->Port()) + "/d";
        ASSERT_EQ(getter_.Download(url.c_str(), Target().c_str()), 1);
        EXPECT_EQ(ReadFileBytes(Target()), server == first.get() ? "1" : "2");
    }
    EXPECT_EQ(first->ConnectionCount(), 1);
    EXPECT_EQ(second->ConnectionCount(), 1);
}

// A server may ask for a shorter idle time than 30 s, never for a longer one.
TEST_F(FetcherTest, KeptConnectionsWaitIdleAsLongAsTheServerAllowsAnd30SAtMost) {
    for (const auto& [field, idle] :
         std::initializer_list<std::pair<const char*, int>>{{"", 30},
                                                            {"Keep-Alive: timeout=5\r\n", 5},
                                                            {"Keep-Alive: timeout=30\r\n", 30},
                                                            {"Keep-Alive: timeout=31\r\n", 30},
                                                            {"Keep-Alive: timeout=3000\r\n", 30}}) {
        Serve(ServerScript().Send(std::string("HTTP/1.1 200 OK\r\n") + field +
                                  "Content-Length: 2\r\n\r\nok"));
        CHttpSocket socket;
        ASSERT_TRUE(socket.Connect("127.0.0.1", server_->Port()));
        const std::string request = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
        ASSERT_TRUE(
            socket.Send(request.data(), static_cast<int>(request.size()), WaitLimit::None()));
        ASSERT_EQ(socket.ReceiveResponse(Target().c_str(), WaitLimit::None()), 1);
        EXPECT_TRUE(socket.Reusable()) << field;
        EXPECT_EQ(socket.IdleLimit(), std::chrono::seconds(idle)) << field;
        server_->Stop();
    }
}

// `text` in the gzip format, made by zlib itself.
std::string Gzip(const std::string& text) {
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// Abort's cut-off ends a wait on a kept connection as on a new one, and the connection goes.
TEST_F(FetcherTest, CutOffEndsAWaitOnAKeptConnection) {
    auto asked = std::make_shared<std::atomic<int>>(0);
    server_ = std::make_unique<ScriptedServer>([asked](const std::string&) {
        return asked->fetch_add(1) == 0
                   ? ServerScript().Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok").Next()
                   : ServerScript().Stall();
    });
    ASSERT_TRUE(server_->Start());
    getter_.SetPort(server_->Port());
    getter_.SetVersions(HttpVersion::k11, HttpVersion::k11);
    ASSERT_EQ(getter_.Download("http://127.0.0.1/d", Target().c_str()), 1);
    getter_.CutOffAfter(std::chrono::milliseconds(60));
    const auto start = std::chrono::steady_clock::now();
    FetchFailure failure;
    EXPECT_EQ(getter_.Download("http://127.0.0.1/d", Target().c_str(), &failure), 0);
    EXPECT_EQ(failure.error, FetchError::kCutOff);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_EQ(server_->ConnectionCount(), 1);
    server_->Stop();
}

// A gzip body is stored decoded, however it is framed; a corrupt or cut one is not stored.
TEST_F(FetcherTest, GzipBodiesAreStoredDecodedOrNotAtAll) {
    const std::string text = PatternBody(1 << 20);
    const std::string packed = Gzip(text);
    std::string corrupt = packed;
    corrupt[corrupt.size() / 2] = static_cast<char>(corrupt[corrupt.size() / 2] ^ 0x55);
    const std::string cut = packed.substr(0, packed.size() - 4);
    const auto withLength = [](const std::string& body, const char* coding = "gzip") {
        return std::string("HTTP/1.1 200 OK\r\nContent-Encoding: ") + coding +
               "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    const std::string half = packed.substr(0, packed.size() / 2);
    const std::string rest = packed.substr(packed.size() / 2);
    struct Case {
        const char* name;
        std::string answer;
        const char* outcome;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"WithLength", withLength(packed), "stored"},
             {"UntilTheClose", "HTTP/1.0 200 OK\r\nContent-Encoding: gzip\r\n\r\n" + packed,
              "stored"},
             {"InsideChunks",
              "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n" +
                  FormatText("%lx\r\n", static_cast<unsigned long>(half.size())) + half + "\r\n" +
                  FormatText("%lx\r\n", static_cast<unsigned long>(rest.size())) + rest +
                  "\r\n0\r\n\r\n",
              "stored"},
             {"Corrupt", withLength(corrupt), "bad gzip body"},
             {"Cut", withLength(cut), "bad gzip body"},
             {"GoesOnPastItsEnd", withLength(packed + "more"), "bad gzip body"},
             {"TwoMembers", withLength(Gzip(text.substr(0, 1000)) + Gzip(text.substr(1000))),
              "stored"},
             {"CutInTheSecondMember", withLength(Gzip(text.substr(0, 1000)) + cut.substr(0, 100)),
              "bad gzip body"},
             {"Brotli", withLength(packed, "br"), "unsupported Content-Encoding: br"}}) {
        Serve(ServerScript().Send(c.answer));
        FetchFailure failure;
        getter_.Download("http://127.0.0.1/d", Target().c_str(), &failure);
        EXPECT_EQ(DescribeFetchFailure(failure), c.outcome) << c.name;
        EXPECT_EQ(TargetExists(), std::string(c.outcome) == "stored") << c.name;
        EXPECT_TRUE(!TargetExists() || ReadFileBytes(Target()) == text) << c.name;
        std::filesystem::remove(Target());
        server_->Stop();
    }
}

// What a careless or hostile server sends must end as its framing says, within the document
// limit, and never leave a connection that carries something else into the next document. Each
// case answers its requests in turn (the last answer repeats); every fetch has a time limit of
// 2 s, so that a fetch that waits for what never comes fails instead of passing late.
TEST_F(FetcherTest, HostileAnswersEndAsTheirFramingSaysWithinTheLimits) {
    const std::string ok = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    const std::string mib(1 << 20, 'm');
    const auto sized = [](const std::string& body, const char* fields = "") {
        return "HTTP/1.1 200 OK\r\n" + std::string(fields) +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    const auto chunked = [](const std::string& body) {
        return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
               FormatText("%lx\r\n", static_cast<unsigned long>(body.size())) + body +
               "\r\n0\r\n\r\n";
    };
    const std::string interim = "HTTP/1.1 100 Continue\r\n\r\n";
    std::string tenInterim, elevenInterim;
    for (int i = 0; i < 10; ++i) {
        tenInterim += i % 2 ? interim : "HTTP/1.1 103 Early Hints\r\nLink: </s.css>\r\n\r\n";
    }
    elevenInterim = tenInterim + interim;
    struct Case {
        const char* name;
        std::vector<ServerScript> answers;
        std::vector<std::string> outcomes;  // one fetch each
        int connections;
        std::string stored = "ok";  // what the last stored document holds
    };
    for (const Case& c : std::initializer_list<Case>{
             {"NoContentWithoutLength",
              {ServerScript().Send("HTTP/1.1 204 No Content\r\n\r\n").Next()},
              {"stored", "stored"},
              1,
              ""},
             {"NotModifiedWithALength",
              {ServerScript().Send("HTTP/1.1 304 Not Modified\r\nContent-Length: 9\r\n\r\n").Next(),
               ServerScript().Send(ok).Next()},
              {"status 304", "stored"},
              1},
             {"InterimAnswersFirst",
              {ServerScript().Send(tenInterim + ok).Next()},
              {"stored", "stored"},
              1},
             {"OneInterimAnswerTooMany",
              {ServerScript().Send(elevenInterim + ok)},
              {"too many interim (1xx) answers"},
              1},
             {"LengthBesideTheChunks",
              {ServerScript()
                   .Send("HTTP/1.1 200 OK\r\nContent-Length: 50\r\nTransfer-Encoding: "
                         "chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n")
                   .Next()},
              {"stored", "stored"},
              2},
             {"AtTheLimit", {ServerScript().Send(sized(mib)).Next()}, {"stored"}, 1, mib},
             {"OneByteOverTheLimit",
              {ServerScript().Send(sized(mib + "m"))},
              {"larger than the limit (1 MiB)"},
              1},
             {"ChunkedAtTheLimit", {ServerScript().Send(chunked(mib))}, {"stored"}, 1, mib},
             {"ChunkedOverTheLimit",
              {ServerScript().Send(chunked(mib + "m"))},
              {"larger than the limit (1 MiB)"},
              1},
             {"GzipAtTheLimit",
              {ServerScript().Send(sized(Gzip(mib), "Content-Encoding: gzip\r\n"))},
              {"stored"},
              1,
              mib},
             {"GzipOverTheLimit",
              {ServerScript().Send(sized(Gzip(mib + "m"), "Content-Encoding: gzip\r\n"))},
              {"larger than the limit (1 MiB)"},
              1}}) {
        ServeInTurn(c.answers, WaitLimit::Of(std::chrono::seconds(2)));
        HttpOptions options;
        options.maxDocumentBytes = 1 << 20;
        getter_.SetOptions(options);
        std::vector<std::string> outcomes;
        for (std::size_t i = 0; i < c.outcomes.size(); ++i) {
            FetchFailure failure;
            getter_.Download("http://127.0.0.1/d", Target().c_str(), &failure);
            outcomes.push_back(DescribeFetchFailure(failure));
        }
        EXPECT_EQ(outcomes, c.outcomes) << c.name;
        EXPECT_EQ(server_->ConnectionCount(), c.connections) << c.name;
        const bool stored =
            std::find(c.outcomes.begin(), c.outcomes.end(), "stored") != c.outcomes.end();
        EXPECT_EQ(TargetExists() ? ReadFileBytes(Target()) == c.stored : !stored, true) << c.name;
        EXPECT_EQ(OtherFiles(), 0) << c.name;
        std::filesystem::remove(Target());
        server_->Stop();
    }
}

// The start's probe reads an answer as far as it compares pages, 64 KiB, and no further: a
// body that would grow to any size costs no more, and nothing is stored.
TEST_F(FetcherTest, ASampleIsReadNoFurtherThanWhatIsCompared) {
    const std::size_t kept = PageRules::kBodySearched;
    std::string bomb = Gzip(std::string(16 << 20, '\0'));
    bomb.replace(bomb.size() - 8, 8, "corrupt!");  // a fault that only a whole read meets
    struct Case {
        std::string answer;
        std::size_t sampled;
        bool whole;
    };
    const auto sized = [](const std::string& body, const char* fields = "") {
        return "HTTP/1.1 200 OK\r\n" + std::string(fields) +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    for (const Case& c : std::initializer_list<Case>{
             {sized(std::string(kept, 'p')), kept, true},
             {sized(std::string(kept + 1, 'p')), kept, false},
             {sized(bomb, "Content-Encoding: gzip\r\n"), kept, false},
         }) {
        Serve(ServerScript().Send(c.answer));
        PageSample sample;
        FetchFailure failure;
        EXPECT_EQ(getter_.Sample("http://127.0.0.1/far", sample, &failure, nullptr), 1)
            << DescribeFetchFailure(failure);
        EXPECT_EQ(sample.start.size(), c.sampled);
        EXPECT_EQ(sample.whole, c.whole);
        EXPECT_FALSE(TargetExists());
        EXPECT_EQ(OtherFiles(), 0);
        server_->Stop();
    }
}

TEST_F(FetcherTest, NothingIsUnderTheFinalNameUntilTheDocumentIsWhole) {
    for (const bool olderCopy : {false, true}) {
        if (olderCopy) {
            WriteFileBytes(Target(), "older copy");
        }
        server_ = std::make_unique<ScriptedServer>([](const std::string&) {
            return ServerScript()
                .Send("HTTP/1.0 200 OK\r\n\r\nfirst ")
                .Mark()
                .AwaitRelease()
                .Send("second");
        });
        ASSERT_TRUE(server_->Start());
        getter_.SetPort(server_->Port());
        int result = -1;
        std::thread fetch(
            [&] { result = getter_.Download("http://127.0.0.1/d", Target().c_str()); });
        // Half the document is with the fetcher, the rest held back.
        ASSERT_TRUE(WaitUntil([&] { return server_->MarksPassed() == 1; }));
        // A crash now would leave no truncated file under the name, and the older copy whole.
        EXPECT_EQ(TargetExists() ? ReadFileBytes(Target()) : "", olderCopy ? "older copy" : "");
        server_->Release();
        fetch.join();
        EXPECT_EQ(result, 1);
        EXPECT_EQ(ReadFileBytes(Target()), "first second");
        EXPECT_EQ(OtherFiles(), 0);
    }
}

// The Delay box counts seconds: a Delay of 1 lets a silent server hold a fetch 1 s, no less.
TEST_F(FetcherTest, DelayOfOneSecondBoundsEachWaitToOneSecond) {
    Serve(ServerScript().Send("HTTP/1.0 200 OK\r\n\r\npart").Stall());
    getter_.SetTimeout(1);
    const auto start = std::chrono::steady_clock::now();
    FetchFailure failure;
    EXPECT_EQ(getter_.Download("http://127.0.0.1/d", Target().c_str(), &failure), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(failure.error, FetchError::kTimeLimit);
    EXPECT_GE(took, std::chrono::milliseconds(999));
    EXPECT_LT(took, std::chrono::milliseconds(1900));
    server_->Stop();
}

struct CutOffCase {
    const char* name;
    ServerScript script;
    int timeout;
};

class CutOffTest : public FetcherTest, public ::testing::WithParamInterface<CutOffCase> {};

// A server that never answers, or drips a byte now and then, holds a fetch until the cut-off
// and no longer.
TEST_P(CutOffTest, CutOffEndsTheFetchWithoutAFile) {
    Serve(GetParam().script);
    getter_.SetTimeout(GetParam().timeout);
    const auto start = std::chrono::steady_clock::now();
    getter_.CutOffAfter(std::chrono::milliseconds(60));
    FetchFailure failure;
    EXPECT_EQ(getter_.Download("http://127.0.0.1/d", Target().c_str(), &failure), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(59));  // the cut-off counts whole ms
    EXPECT_LT(took, std::chrono::milliseconds(1500));
    EXPECT_EQ(failure.error, FetchError::kCutOff);
    EXPECT_FALSE(TargetExists());
    EXPECT_EQ(OtherFiles(), 0);
    server_->Stop();
}

const ServerScript kDrip =
    ServerScript().Send("HTTP/1.0 200 OK\r\n\r\n").Drip(std::string(60, 'd'), 1, 50);

// A cut-off that comes due while fetches wait without a limit (the second Abort, a controller
// that goes) ends them at once, not at some later look at it.
TEST_F(FetcherTest, ACutOffThatComesDueDuringAWaitEndsItAtOnce) {
    Serve(ServerScript().Send("HTTP/1.0 200 OK\r\n\r\npart").Mark().Stall());
    getter_.SetTimeout(-1);
    std::thread abort([this] {
        ASSERT_TRUE(WaitUntil([&] { return server_->MarksPassed() == 1; }));
        getter_.CutOffAfter(std::chrono::milliseconds(0));
    });
    const auto start = std::chrono::steady_clock::now();
    FetchFailure failure;
    EXPECT_EQ(getter_.Download("http://127.0.0.1/d", Target().c_str(), &failure), 0);
    const auto took = std::chrono::steady_clock::now() - start;
    abort.join();
    EXPECT_EQ(failure.error, FetchError::kCutOff);
    EXPECT_LT(took, std::chrono::milliseconds(500));  // a look every second would take longer
    EXPECT_FALSE(TargetExists());
    EXPECT_EQ(OtherFiles(), 0);
    server_->Stop();
}

INSTANTIATE_TEST_SUITE_P(Servers, CutOffTest,
                         ::testing::Values(CutOffCase{"SilentNoLimit", ServerScript().Stall(), -1},
                                           CutOffCase{"SilentDelay3", ServerScript().Stall(), 3},
                                           CutOffCase{"DripNoLimit", kDrip, -1},
                                           CutOffCase{"DripDelay3", kDrip, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FetcherTest, EachWaitHasItsOwnLimit) {
    // Each wait is limited, not the download: three 50 ms gaps under a 125 ms limit pass,
    // though the download takes longer than the limit; one gap of 300 ms does not.
    getter_.SetWaitLimit(WaitLimit::Of(std::chrono::milliseconds(125)));
    Serve(ServerScript().Send("HTTP/1.0 200 OK\r\n\r\n").Drip("abc", 1, 50));
    EXPECT_EQ(getter_.Download("http://127.0.0.1/d", Target().c_str()), 1);
    EXPECT_EQ(ReadFileBytes(Target()), "abc");
    Serve(ServerScript().Send("HTTP/1.0 200 OK\r\n\r\n").Drip("ab", 1, 300));
    FetchFailure failure;
    EXPECT_EQ(getter_.Download("http://127.0.0.1/d", Target().c_str(), &failure), 0);
    EXPECT_EQ(failure.error, FetchError::kTimeLimit);
}

TEST_F(FetcherTest, TimeoutOfZeroOrBelowMinusOneFailsAtSend) {
    for (int timeout : {0, -5}) {
        EXPECT_EQ(Fetch(ServerScript().Send(HttpResponse(200, "x")), timeout), 0) << timeout;
        server_->Stop();
        EXPECT_TRUE(server_->Requests().empty() || server_->Requests()[0].empty()) << timeout;
        EXPECT_FALSE(TargetExists());
    }
}

struct LengthCase {
    const char* name;
    std::string response;
    int result;
    const char* stored;
};

class LengthTest : public FetcherTest, public ::testing::WithParamInterface<LengthCase> {};

// Only the header's own Content-Length counts: the body is exactly that long.
TEST_P(LengthTest, ContentLengthIsTheLeastLengthOfTheBody) {
    EXPECT_EQ(Fetch(ServerScript().Send(GetParam().response)), GetParam().result);
    EXPECT_EQ(TargetExists() ? ReadFileBytes(Target()) : "(none)", GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, LengthTest,
    ::testing::Values(
        LengthCase{"NotReached", HttpResponse(200, "short", "Content-Length: 100\r\n"), 0,
                   "(none)"},
        LengthCase{"Met", HttpResponse(200, "exact", "content-length:  5\r\n"), 1, "exact"},
        LengthCase{"Exceeded", HttpResponse(200, "longer than five", "Content-Length: 5\r\n"), 1,
                   "longe"},
        LengthCase{"NamedInTheBody", "HTTP/1.0 200 OK\r\n\r\nbody\r\nContent-Length: 99999\r\n\r\n",
                   1, "body\r\nContent-Length: 99999\r\n\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FetcherTest, BodyOfKnownLengthIsCompleteWithoutWaitingForTheClose) {
    // A server that keeps the connection open after the body: no time limit would ever end it.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Fetch(ServerScript()
                        .Send(HttpResponse(200, "01234", "Content-Length: 10\r\n"))
                        .Send("56789")
                        .Stall()),
              1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(ReadFileBytes(Target()), "0123456789");
}

TEST_F(FetcherTest, HeaderBlockIsReadAcrossReceivesUpTo64KiB) {
    // A header block of exactly n bytes, padded with header lines of at most 1009 bytes, then a
    // body.
    const auto response = [](std::size_t n) {
        std::string head = "HTTP/1.0 200 OK\r\n";
        std::size_t left = n - head.size() - 2;
        while (left > 0) {
            const std::size_t line = left <= 1009 ? left : 1000;
            head += "X-Pad: " + std::string(line - 9, 'p') + "\r\n";
            left -= line;
        }
        return head + "\r\nbody";
    };
    for (const std::size_t n : {513u, 4096u, 65536u, 65537u}) {
        ASSERT_EQ(response(n).size(), n + 4) << n;
        std::filesystem::remove(Target());
        FetchFailure failure;
        server_ = std::make_unique<ScriptedServer>([bytes = response(n)](const std::string&) {
            return ServerScript().Drip(bytes, 1400, 1);
        });
        ASSERT_TRUE(server_->Start());
        getter_.SetPort(server_->Port());
        const int result = getter_.Download("http://127.0.0.1/d", Target().c_str(), &failure);
        EXPECT_EQ(result, n <= 65536 ? 1 : 0) << n;
        EXPECT_EQ(TargetExists() ? ReadFileBytes(Target()) : "", n <= 65536 ? "body" : "") << n;
        if (n > 65536) {
            EXPECT_EQ(DescribeFetchFailure(failure), "header block too long");
        }
    }
    // The head one byte per segment: how the network splits it changes nothing.
    EXPECT_EQ(Fetch(ServerScript().Drip("HTTP/1.0 200 OK\r\nServer: s\r\n\r\nbytes", 1, 1)), 1);
    EXPECT_EQ(ReadFileBytes(Target()), "bytes");
}

TEST_F(FetcherTest, UnopenableTargetFailsWithoutTraffic) {
    server_ = std::make_unique<ScriptedServer>(
        [](const std::string&) { return ServerScript().Send(HttpResponse(200, "x")); });
    ASSERT_TRUE(server_->Start());
    getter_.SetPort(server_->Port());
    const std::string path = dir_.File("missing-folder/doc");
    EXPECT_EQ(getter_.Download("http://127.0.0.1/x", path.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(FetcherTest, WriteErrorFailsAndLeavesTheOlderCopy) {
    NOVU_SKIP_ON_WINDOWS("a limit on file sizes");
    WriteFileBytes(Target(), "older copy");
    server_ = std::make_unique<ScriptedServer>([](const std::string&) {
        return ServerScript().Send(HttpResponse(200, std::string(4000, 'x')));
    });
    ASSERT_TRUE(server_->Start());
    getter_.SetPort(server_->Port());
    FetchFailure failure;
    int result = -1;
    {
        const FileSizeLimit small(1000);  // every larger write fails, for any user
        result = getter_.Download("http://127.0.0.1/d", Target().c_str(), &failure);
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(failure.error, FetchError::kWriteError);
    EXPECT_EQ(DescribeFetchFailure(failure), "write error (File too large)");
    EXPECT_EQ(ReadFileBytes(Target()), "older copy");
    EXPECT_EQ(OtherFiles(), 0);
}

TEST_F(FetcherTest, FtpAndOtherSchemesFailWithoutTrafficOrFile) {
    FetchFailure failure;
    EXPECT_EQ(getter_.Download("ftp://127.0.0.1/x", Target().c_str(), &failure), 0);
    EXPECT_EQ(DescribeFetchFailure(failure), "not an http:// or https:// URL");
    EXPECT_FALSE(TargetExists());
    EXPECT_EQ(getter_.Download("FTP://127.0.0.1/x", Target().c_str()), 0);
    EXPECT_EQ(getter_.Download("HTTP://127.0.0.1/x", Target().c_str()), 0);
    EXPECT_EQ(getter_.Download(nullptr, Target().c_str()), 0);
}

TEST_F(FetcherTest, UrlWithoutPathUsesWholeUrlAsTarget) {
    ASSERT_EQ(Fetch(ServerScript().Send(HttpResponse(200, "root")), -1, ""), 1);
    EXPECT_EQ(server_->Requests().at(0), "GET http://127.0.0.1 HTTP/1.0\r\n\r\n");
}

TEST_F(FetcherTest, PortInTheUrlIsUsedAndTheRequestKeepsTheUrl) {
    server_ = std::make_unique<ScriptedServer>(
        [](const std::string&) { return ServerScript().Send(HttpResponse(200, "x")); });
    ASSERT_TRUE(server_->Start());
    getter_.SetPort(1);  // the default port must not be the one used
    const std::string url = "http://127.0.0.1:" + std::to_string(server_->Port()) + "/x";
    EXPECT_EQ(getter_.Download(url.c_str(), Target().c_str()), 1);
    EXPECT_EQ(server_->Requests().at(0), "GET " + url + " HTTP/1.0\r\n\r\n");
    for (const char* bad : {"http://127.0.0.1:0/x", "http://127.0.0.1:65536/x",
                            "http://127.0.0.1:8x/x", "http://127.0.0.1:/x"}) {
        FetchFailure failure;
        EXPECT_EQ(getter_.Download(bad, Target().c_str(), &failure), 0) << bad;
        EXPECT_EQ(failure.error, FetchError::kBadPort) << bad;
    }
    EXPECT_EQ(server_->ConnectionCount(), 1);
}

TEST_F(FetcherTest, HostBeginningWithADigitGoesToTheResolver) {
    // "127.1" is no dotted quad, but the resolver knows it as 127.0.0.1.
    ASSERT_EQ(Fetch(ServerScript().Send(HttpResponse(200, "resolved")), -1, ""), 1);
    EXPECT_EQ(getter_.Download("http://127.1/x", Target().c_str()), 1);
    EXPECT_EQ(server_->ConnectionCount(), 2);
}

TEST_F(FetcherTest, UnsafeUrlBytesNeverReachTheWire) {
    server_ = std::make_unique<ScriptedServer>(
        [](const std::string&) { return ServerScript().Send(HttpResponse(200, "x")); });
    ASSERT_TRUE(server_->Start());
    getter_.SetPort(server_->Port());
    for (const char* inject : {"\r\nX-Injected: 1", "\n", "\t", " ", "\x7f", "\x01"}) {
        const std::string url = std::string("http://127.0.0.1/a") + inject + "b";
        FetchFailure failure;
        EXPECT_EQ(getter_.Download(url.c_str(), Target().c_str(), &failure), 0);
        EXPECT_EQ(failure.error, FetchError::kUnsafeUrl);
    }
    EXPECT_EQ(server_->ConnectionCount(), 0);
    EXPECT_FALSE(TargetExists());
}

TEST_F(FetcherTest, ConnectionRefusedFails) {
    ScriptedServer probe([](const std::string&) { return ServerScript(); });
    ASSERT_TRUE(probe.Start());
    const int port = probe.Port();
    probe.Stop();  // nobody listens there any more
    getter_.SetPort(port);
    EXPECT_EQ(getter_.Download("http://127.0.0.1/x", Target().c_str()), 0);
}

TEST_F(FetcherTest, OverlongUrlOrPathIsRefusedNotCut) {
    server_ = std::make_unique<ScriptedServer>(
        [](const std::string&) { return ServerScript().Send(HttpResponse(200, "x")); });
    ASSERT_TRUE(server_->Start());
    getter_.SetPort(server_->Port());
    const std::string base = "http://127.0.0.1/";
    const std::string fits = base + std::string(259 - base.size(), 'u');
    const std::string tooLong = fits + "u";
    EXPECT_EQ(getter_.Download(fits.c_str(), Target().c_str()), 1);
    EXPECT_EQ(getter_.Download(tooLong.c_str(), Target().c_str()), 0);
    const std::string longPath = dir_.File(std::string(260, 'p'));
    EXPECT_EQ(getter_.Download(fits.c_str(), longPath.c_str()), 0);
    EXPECT_EQ(server_->ConnectionCount(), 1);
}

TEST(UrlTest, SchemeByCaseSensitivePrefix) {
    EXPECT_EQ(GetUrlScheme("http://h/x"), URL_HTTP);
    EXPECT_EQ(GetUrlScheme("ftp://h/x"), URL_NONE);
    EXPECT_EQ(GetUrlScheme("https://h/x"), URL_HTTPS);
    EXPECT_EQ(GetUrlScheme("HTTPS://h/x"), URL_NONE);
    EXPECT_EQ(GetUrlScheme("http:/"), URL_NONE);
    EXPECT_EQ(GetUrlScheme(nullptr), URL_NONE);
}

TEST(ParseTest, StatusCodeFromFirstThreeCharactersAfterFirstSpace) {
    auto parse = [](const std::string& s) { return CResponseHead(s).Status(); };
    EXPECT_EQ(parse("HTTP/1.0 200 OK\r\n"), 200);
    EXPECT_EQ(parse("HTTP/1.0 200\r\nServer: x\r\n\r\n"), 200);
    EXPECT_EQ(parse("HTTP/1.0 2004 X"), 200);
    EXPECT_EQ(parse("HTTP/1.0 404"), 404);
    // Anything but three digits is no status at all.
    EXPECT_EQ(parse("HTTP/1.0 20"), -1);
    EXPECT_EQ(parse("HTTP/1.0 20 OK"), -1);
    EXPECT_EQ(parse("HTTP/1.0 -20 X"), -1);
    EXPECT_EQ(parse("HTTP/1.0200"), -1);
    EXPECT_EQ(parse("X abc"), -1);
    EXPECT_EQ(parse(""), -1);
    EXPECT_EQ(parse(std::string("A 2\0"
                                "05",
                                6)),
              -1);
}

TEST(ParseTest, HeaderEndOnlyAfterCrLfCrLf) {
    auto find = [](const std::string& s) {
        return CResponseHead::FindEnd(s.data(), static_cast<int>(s.size()));
    };
    EXPECT_EQ(find("\r\n\r\n"), 4);
    EXPECT_EQ(find("ab\r\n\r\ncd\r\n\r\n"), 6);
    EXPECT_EQ(find("\r\n\r"), -1);
    EXPECT_EQ(find("a\n\nb"), -1);  // LF-only lines do not end the header
    EXPECT_EQ(find(std::string("\0\r\n\r\n", 5)), 5);
}

TEST(ParseTest, ContentLengthOnlyFromItsOwnLinesAndOnlyWhenTheyAgree) {
    auto length = [](const std::string& lines) {
        const std::string head = "HTTP/1.0 200 OK\r\n" + lines + "\r\n";
        return CResponseHead(head).ContentLength();
    };
    constexpr std::int64_t bad = CResponseHead::kBadContentLength;
    EXPECT_EQ(length("Content-Length: 42\r\n"), 42);
    EXPECT_EQ(length("CONTENT-LENGTH:7\r\n"), 7);
    EXPECT_EQ(length("Content-Length: 0\r\n"), 0);
    EXPECT_EQ(length("X-Content-Length: 42\r\n"), -1);
    EXPECT_EQ(length(""), -1);
    EXPECT_EQ(length("Content-Length: 5\r\nContent-Length: 5\r\n"), 5);
    EXPECT_EQ(length("Content-Length: 5 ,5\r\n"), 5);
    EXPECT_EQ(length("Content-Length: 9223372036854775807\r\n"), INT64_MAX);
    for (const char* refused :
         {"Content-Length: abc\r\n", "Content-Length: -5\r\n", "Content-Length: +5\r\n",
          "Content-Length:\r\n", "Content-Length: 5,\r\n", "Content-Length: 0x10\r\n",
          "Content-Length: 9223372036854775808\r\n", "Content-Length: 3\r\nContent-Length: 5\r\n",
          "Content-Length: 3, 5\r\n", "Content-Length: 5 5\r\n"}) {
        EXPECT_EQ(length(refused), bad) << refused;
    }
}

}  // namespace

namespace {

// A site that asks to be left alone says for how long in its Retry-After line: the fetch keeps
// it for 429 and 503 answers only.
TEST_F(FetcherTest, KeepsTheWaitA429Or503AnswerAsksFor) {
    struct Case {
        const char* head;
        std::optional<std::chrono::seconds> wait;
    };
    for (const Case& c :
         {Case{"HTTP/1.0 429 Too Many Requests\r\nRetry-After: 7\r\n\r\n", std::chrono::seconds(7)},
          Case{"HTTP/1.0 503 Unavailable\r\nX-A: b\r\nretry-after:  12 \r\n\r\n",
               std::chrono::seconds(12)},
          Case{"HTTP/1.0 503 Unavailable\r\n\r\n", std::nullopt},
          Case{"HTTP/1.0 404 Not Found\r\nRetry-After: 7\r\n\r\n", std::nullopt},
          Case{"HTTP/1.0 429 Too Many Requests\r\nRetry-After-Not: 7\r\n\r\n", std::nullopt}}) {
        Serve(ServerScript().Send(c.head));
        FetchFailure failure;
        EXPECT_EQ(getter_.Download("http://127.0.0.1/d", Target().c_str(), &failure), 0);
        EXPECT_EQ(failure.error, FetchError::kStatus) << c.head;
        EXPECT_EQ(failure.retryAfter, c.wait) << c.head;
    }
}

TEST(RetryAfterTest, SecondsOrAnHttpDate) {
    using std::chrono::seconds;
    const std::chrono::system_clock::time_point date(seconds(1445412480));  // 2015-10-21 07:28
    const std::chrono::system_clock::time_point twoBefore = date - seconds(2);
    EXPECT_EQ(ParseRetryAfter("2", twoBefore), seconds(2));
    EXPECT_EQ(ParseRetryAfter("0", twoBefore), seconds(0));
    EXPECT_GE(ParseRetryAfter("99999999999999999999999", twoBefore), seconds(600));
    EXPECT_EQ(ParseRetryAfter("Wed, 21 Oct 2015 07:28:00 GMT", twoBefore), seconds(2));
    EXPECT_EQ(ParseRetryAfter("Wed, 21 Oct 2015 07:28:00 GMT", date + seconds(5)), seconds(0));
    EXPECT_EQ(ParseRetryAfter("Thu, 01 Jan 2026 00:00:00 GMT", date),
              seconds(1767225600 - 1445412480));
    // Past the clock's own range (2262): still far ahead, never a past date.
    EXPECT_EQ(ParseRetryAfter("Wed, 01 Jan 3000 00:00:00 GMT", date),
              seconds(32503680000 - 1445412480));
    EXPECT_EQ(ParseRetryAfter("Fri, 31 Dec 9999 23:59:59 GMT", date),
              seconds(253402300799 - 1445412480));
    for (const char* refused : {"-1", "", " 2", "2s", "Wed, 21 Oct 2015 07:28:00 UTC",
                                "Wed, 21 Foo 2015 07:28:00 GMT", "Wed, 32 Oct 2015 07:28:00 GMT"}) {
        EXPECT_FALSE(ParseRetryAfter(refused, date)) << refused;
    }
}

}  // namespace

namespace {

// An HTTP/1.1 answer with its length, which keeps the connection.
std::string KeptAnswer(int status, const std::string& body, const std::string& headers = "") {
    return "HTTP/1.1 " + std::to_string(status) + " X\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// A site whose answers depend on the path: redirects of every kind, and one that sets a cookie.
ServerScript RedirectingSite(const std::string& request) {
    std::string path = request.substr(4, request.find(' ', 4) - 4);
    if (path.starts_with("http://")) {  // the one-connection exchange's absolute form
        path.erase(0, path.find('/', 7));
    }
    const auto moved = [](int status, const std::string& to) {
        return ServerScript().Send(KeptAnswer(status, "", "Location: " + to + "\r\n")).Next();
    };
    if (path == "/t/1") {
        return moved(301, "/t/1-title#top");
    }
    if (path == "/t/1-title") {
        return ServerScript()
            .Send(KeptAnswer(200, "topic", "Set-Cookie: seen=1; Path=/t/1-title; Max-Age=60\r\n"))
            .Next();
    }
    if (path.starts_with("/hop/")) {  // /hop/N leads on to /hop/N-1, /hop/0 is the document
        const int left = std::stoi(path.substr(5));
        return left == 0 ? ServerScript().Send(KeptAnswer(200, "end")).Next()
                         : moved(307, std::to_string(left - 1));
    }
    if (path == "/loop") {
        return moved(302, "/loop2");
    }
    if (path == "/loop2") {
        return moved(308, "loop");
    }
    if (path == "/away") {
        return moved(302, "http://elsewhere.example/away");
    }
    if (path == "/gone") {
        return moved(303, "/gone2");
    }
    // The same host on another port is another site; on its own port it is this one.
    const std::size_t host = request.find("Host: ");
    const std::string authority =
        host == std::string::npos ? ""
                                  : request.substr(host + 6, request.find('\r', host) - host - 6);
    const std::map<std::string, std::string> elsewhere = {
        {"/port", "http://127.0.0.1:9/t/1-title"},
        {"/same-port", "http://" + authority + "/t/1-title"},
        {"/file", "file:///etc/passwd"},
        {"/script", "javascript:alert(1)"},
        {"/query", "?q=11"},
        {"/dots/a/b", "../../t/1-title"},
        {"/long", "/" + std::string(300, 'x')},
    };
    if (const auto to = elsewhere.find(path); to != elsewhere.end()) {
        return moved(302, to->second);
    }
    if (path == "/query?q=11") {
        return ServerScript().Send(KeptAnswer(200, "query")).Next();
    }
    return ServerScript().Send(KeptAnswer(404, "")).Next();
}

}  // namespace

TEST_F(FetcherTest, RedirectsAreFollowedOnTheSameHostUpToTheLimit) {
    server_ = std::make_unique<ScriptedServer>(RedirectingSite);
    ASSERT_TRUE(server_->Start());
    const std::string site = "http://127.0.0.1:" + std::to_string(server_->Port());
    getter_.SetVersions(HttpVersion::k11, HttpVersion::k11);
    struct Case {
        const char* path;
        std::string outcome;  // what failed.txt would say, or what was stored
    };
    for (const Case& c : std::initializer_list<Case>{
             {"/t/1", "topic"},
             {"/hop/5", "end"},  // the default allows five
             {"/hop/6", "too many redirects"},
             {"/loop", "too many redirects"},
             {"/away", "redirected to another site: http://elsewhere.example/away"},
             {"/gone", "status 404"},
             {"/port", "redirected to another site: http://127.0.0.1:9/t/1-title"},
             {"/same-port", "topic"},
             {"/file", "redirected to a file: URL, which is not followed"},
             {"/script", "redirected to a javascript: URL, which is not followed"},
             {"/query", "query"},
             {"/dots/a/b", "topic"},
             {"/long", "redirected to a URL of " + std::to_string(site.size() + 301) +
                           " characters (259 at most)"},
         }) {
        FetchFailure failure;
        std::filesystem::remove(Target());
        const int result = getter_.Download((site + c.path).c_str(), Target().c_str(), &failure);
        EXPECT_EQ(result == 1 ? ReadFileBytes(Target()) : DescribeFetchFailure(failure), c.outcome)
            << c.path;
    }
    EXPECT_EQ(ClassifyFailure({FetchError::kStatus, 404}), Answer::kMissing);

    // The one-connection exchange follows nothing, and says where the document went.
    getter_.SetVersions(HttpVersion::k10, HttpVersion::k11);
    FetchFailure failure;
    EXPECT_EQ(getter_.Download((site + "/t/1").c_str(), Target().c_str(), &failure), 0);
    EXPECT_EQ(DescribeFetchFailure(failure), "status 301 (moved to " + site + "/t/1-title)");
}

TEST_F(FetcherTest, CookiesAndTheUsersHeadersGoWithEveryRequest) {
    server_ = std::make_unique<ScriptedServer>(RedirectingSite);
    ASSERT_TRUE(server_->Start());
    const std::string site = "http://127.0.0.1:" + std::to_string(server_->Port());
    auto jar = std::make_shared<CCookieJar>();
    ASSERT_TRUE(
        jar->Load("127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tabc\n"
                  "127.0.0.1\tFALSE\t/\tTRUE\t0\tsecure\tno\n",
                  nullptr));
    HttpOptions options;
    options.userAgent = "Mozilla/5.0";
    options.headers = {{"Accept-Language", "en"}};
    options.cookies = jar;
    getter_.SetOptions(options);
    getter_.SetVersions(HttpVersion::k11, HttpVersion::k11);
    EXPECT_EQ(getter_.Download((site + "/t/1").c_str(), Target().c_str()), 1);
    EXPECT_EQ(getter_.Download((site + "/t/1").c_str(), Target().c_str()), 1);
    const std::vector<std::string> requests = server_->Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0],
              "GET /t/1 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server_->Port()) +
                  "\r\nUser-Agent: Mozilla/5.0\r\nAccept-Encoding: gzip\r\n"
                  "Accept-Language: en\r\nCookie: sid=abc\r\n\r\n");
    // The cookie set by the answer goes where its path says, and not above it.
    EXPECT_NE(requests[3].find("Cookie: seen=1; sid=abc\r\n"), std::string::npos) << requests[3];
    EXPECT_NE(requests[2].find("Cookie: sid=abc\r\n"), std::string::npos) << requests[2];

    // The one-connection exchange carries them too, and nothing else when nothing is configured.
    getter_.SetVersions(HttpVersion::k10, HttpVersion::k10);
    getter_.Download((site + "/gone2").c_str(), Target().c_str());
    EXPECT_EQ(server_->Requests().back(), "GET " + site +
                                              "/gone2 HTTP/1.0\r\nUser-Agent: Mozilla/5.0\r\n"
                                              "Accept-Language: en\r\nCookie: sid=abc\r\n\r\n");
}

TEST(CookieJarTest, FileLinesAreTakenOrRefusedWithTheirNumber) {
    struct Case {
        const char* text;
        const char* problem;  // empty: taken
    };
    for (const Case& c : std::initializer_list<Case>{
             {"# Netscape HTTP Cookie File\n\n.example.org\tTRUE\t/\tFALSE\t0\ta\tb\r\n", ""},
             {"#HttpOnly_example.org\tFALSE\t/\tTRUE\t2000000000\ta\t\n", ""},
             {"\n\nexample.org\tFALSE\t/\tFALSE\t0\ta\n",
              "line 3: expected 7 tab-separated fields"},
             {"example.org FALSE / FALSE 0 a b\n", "line 1: expected 7 tab-separated fields"},
             {"example.org\tyes\t/\tFALSE\t0\ta\tb\n",
              "line 1: the second and fourth fields are TRUE or FALSE"},
             {"example.org\tFALSE\t/\tFALSE\tsoon\ta\tb\n",
              "line 1: the fifth field (the expiry) is a number of seconds"},
             {"\tFALSE\t/\tFALSE\t0\ta\tb\n", "line 1: the first field (the domain) is empty"},
             {"example.org\tFALSE\t/\tFALSE\t0\ta\tb\x01c\n", "line 1: a control character"},
         }) {
        CCookieJar jar;
        std::string why;
        EXPECT_EQ(jar.Load(c.text, &why), *c.problem == '\0') << c.text;
        EXPECT_EQ(why, c.problem) << c.text;
    }
}

TEST(CookieJarTest, CookiesMatchByDomainPathSchemeAndExpiry) {
    CCookieJar jar;
    ASSERT_TRUE(
        jar.Load(".example.org\tTRUE\t/\tFALSE\t0\tall\t1\n"
                 "example.org\tFALSE\t/forum\tFALSE\t0\tforum\t2\n"
                 "example.org\tFALSE\t/\tTRUE\t0\tsafe\t3\n"
                 "example.org\tFALSE\t/\tFALSE\t100\told\t4\n",
                 nullptr));
    const auto header = [&](const char* url) { return jar.HeaderFor(*ParseUrl(url), 99); };
    EXPECT_EQ(header("http://example.org/forum/t/1"), "forum=2; all=1; old=4");
    EXPECT_EQ(header("https://example.org/forumx"), "all=1; safe=3; old=4");
    EXPECT_EQ(header("http://www.example.org/forum"), "all=1");
    EXPECT_EQ(header("http://badexample.org/"), "");
    EXPECT_EQ(jar.HeaderFor(*ParseUrl("http://example.org/"), 100), "all=1");  // expired at 100

    const Url forum = *ParseUrl("http://www.example.org/forum/t/1");
    jar.Take(forum, "s=new; Domain=.example.org; Path=/", 99);
    jar.Take(forum, "all=2; Domain=example.org; Path=/", 99);  // replaces the file's value
    jar.Take(forum, "evil=1; Domain=other.org", 99);           // another site's: ignored
    jar.Take(forum, "tld=1; Domain=.org", 99);                 // every site's under .org: ignored
    jar.Take(forum, "here=1", 99);                             // this host, this folder
    // A new value keeps its cookie's age: the older cookies of a path go first.
    EXPECT_EQ(header("http://example.org/"), "all=2; old=4; s=new");
    EXPECT_EQ(header("http://www.example.org/forum/t/2"), "here=1; all=2; s=new");
    jar.Take(forum, "s=; Max-Age=0; Domain=example.org; Path=/", 99);
    EXPECT_EQ(header("http://example.org/"), "all=2; old=4");
    EXPECT_NE(jar.Text().find(".example.org\tTRUE\t/\tFALSE\t0\tall\t2\n"), std::string::npos);

    // An address takes cookies for itself alone: "0.0.1" is no domain above 10.0.0.1.
    const Url address = *ParseUrl("http://10.0.0.1/");
    jar.Take(address, "ip=1; Domain=0.0.1", 99);
    jar.Take(address, "ip=2; Domain=10.0.0.1", 99);
    EXPECT_EQ(header("http://10.0.0.1/"), "ip=2");
    EXPECT_EQ(header("http://20.0.0.1/"), "");
}

// A site that sets cookies without end costs a bounded jar and a bounded Cookie field, and what
// the jar holds is always a file the next run reads.
TEST(CookieJarTest, WhatASiteSetsIsBoundedAsBrowsersBoundIt) {
    const Url site = *ParseUrl("http://forum.example/t/1");
    const auto header = [](const CCookieJar& jar, const char* url) {
        return jar.HeaderFor(*ParseUrl(url), 99);
    };
    {
        CCookieJar jar;
        for (int i = 0; i < 50; ++i) {
            jar.Take(site, FormatText("c%d=%d; Path=/", i, i), 99);
        }
        EXPECT_EQ(header(jar, "http://forum.example/").substr(0, 10), "c0=0; c1=1");
        jar.Take(site, "c50=50; Path=/", 99);  // the 51st of a domain: the oldest goes
        const std::string sent = header(jar, "http://forum.example/");
        EXPECT_EQ(sent.substr(0, 10), "c1=1; c2=2");
        EXPECT_NE(sent.find("; c50=50"), std::string::npos);
    }
    {
        CCookieJar jar;
        for (int host = 0; host < 61; ++host) {
            const Url other = *ParseUrl(FormatText("http://h%d.example/", host));
            for (int i = 0; i < 50 && host * 50 + i <= 3000; ++i) {
                jar.Take(other, FormatText("c%d=1", i), 99);
            }
        }
        // The 3001st cookie in all: the oldest of all goes.
        EXPECT_EQ(header(jar, "http://h0.example/").substr(0, 5), "c1=1;");
        EXPECT_EQ(header(jar, "http://h60.example/"), "c0=1");
        // What the jar holds at its fullest, written as a cookie file, is read again.
        TempDir dir;
        const std::string file = dir.File("cookies.txt");
        CCookieJar full;
        for (int host = 0; host < 60; ++host) {
            const Url other = *ParseUrl(FormatText(
                "https://%s.example/%s/t", (std::to_string(host) + std::string(200, 'a')).c_str(),
                std::string(30, 'p').c_str()));
            for (int i = 0; i < 50; ++i) {
                full.Take(other,
                          FormatText("c%d=%s; Secure; HttpOnly; Path=/%s", i,
                                     std::string(4096 - 2 - std::to_string(i).size(), 'v').c_str(),
                                     std::string(1023, 'p').c_str()),
                          99);
            }
        }
        WriteFileBytes(file, full.Text());
        HttpOptions options;
        std::vector<std::string> warnings;
        EXPECT_TRUE(LoadCookieFile(file, options, warnings).IsOk());
        WriteFileBytes(file, full.Text() + "one.example\tFALSE\t/\tFALSE\t0\tmore\t1\n");
        EXPECT_EQ(LoadCookieFile(file, options, warnings).Text(),
                  file + " line 3002: more than 3000 cookies");
    }
    CCookieJar jar;
    const std::string limit(4096 - 1, 'v');
    jar.Take(site, "a=" + limit, 99);        // 4096 bytes of name and value: kept
    jar.Take(site, "b=" + limit + "v", 99);  // 4097: not
    jar.Take(site, "tab=a\tb", 99);
    jar.Take(site,
             "nul=a\x01"
             "b",
             99);
    jar.Take(site, "secret=1; Secure", 99);  // from plain http
    jar.Take(*ParseUrl("https://forum.example/t/1"), "safe=1; Secure", 99);
    EXPECT_EQ(header(jar, "https://forum.example/t/2"), "a=" + limit + "; safe=1");
    // The Cookie field is 8 KiB at most: 8192 bytes go, 8193 do not.
    CCookieJar big;
    big.Take(site, "a=" + limit, 99);
    big.Take(site, "b=" + std::string(4091, 'w'), 99);
    EXPECT_EQ(header(big, "http://forum.example/t/2").size(), 8192u);
    big.Take(site, "b=" + std::string(4092, 'w'), 99);
    big.Take(site, "c=1", 99);
    EXPECT_EQ(header(big, "http://forum.example/t/2"), "a=" + limit + "; c=1");
}

TEST(HeaderLineTest, TheExchangesOwnHeadersAndBrokenLinesAreRefused) {
    EXPECT_EQ(ParseHeaderLine("Accept-Language:  en, de "),
              std::make_pair(std::string("Accept-Language"), std::string("en, de")));
    for (const char* line :
         {"Host: a", "content-length: 1", "Transfer-Encoding: x", "Connection: close",
          "X-A: b\r\nX-B: c", "NoColon", ": v", "Two words: v"}) {
        EXPECT_FALSE(ParseHeaderLine(line)) << line;
    }
}

TEST_F(FetcherTest, PagesTheRulesMarkMissingAreNotStored) {
    const std::string notFound = std::string(PageRules::kBodySearched - 9, 'x') + "Not found";
    const std::string pastTheSearch = std::string(PageRules::kBodySearched - 8, 'x') + "Not found";
    server_ = std::make_unique<ScriptedServer>([&](const std::string& request) {
        const auto answer = [](const std::string& type, const std::string& body,
                               const std::string& headers = "") {
            return ServerScript().Send(
                KeptAnswer(200, body, "Content-Type: " + type + "\r\n" + headers));
        };
        if (request.starts_with("GET /gone ")) {
            return answer("text/xml", notFound);  // the words end at the searched part's end
        }
        if (request.starts_with("GET /packed ")) {
            return answer("text/xml", Gzip(notFound), "Content-Encoding: gzip\r\n");
        }
        if (request.starts_with("GET /later ")) {
            return answer("text/xml", pastTheSearch);
        }
        if (request.starts_with("GET /page ")) {
            return answer("text/html; charset=utf-8", "<html>");
        }
        if (request.starts_with("GET /old ")) {
            return ServerScript().Send(KeptAnswer(302, "", "Location: /removed?from=old\r\n"));
        }
        if (request.starts_with("GET /walled ")) {
            return ServerScript().Send(KeptAnswer(302, "", "Location: /Login?next=walled\r\n"));
        }
        return answer("application/xml", "<topic/>");
    });
    ASSERT_TRUE(server_->Start());
    getter_.SetVersions(HttpVersion::k11, HttpVersion::k11);
    const std::string site = "http://127.0.0.1:" + std::to_string(server_->Port());
    PageRules rules;
    rules.missingIfBody = CompilePattern("Not found$", nullptr);
    rules.missingIfUrl = CompilePattern("/removed", nullptr);
    rules.expect = PageRules::Kind::kXml;
    struct Case {
        const char* path;
        const char* reason;  // empty: stored
    };
    for (const Case& c : std::initializer_list<Case>{
             {"/gone", "status 200, a missing page (missing_if_body)"},
             {"/packed", "status 200, a missing page (missing_if_body)"},
             {"/later", ""},
             {"/page",
              "status 200, a missing page (Content-Type text/html; charset=utf-8 is not xml)"},
             {"/old", "status 200, a missing page (missing_if_url)"},
             // A login page is no document: not followed, so that the run can see the wall.
             {"/walled", "status 302 (moved to http://127.0.0.1:{port}/Login?next=walled)"},
             {"/t/1", ""},
         }) {
        std::filesystem::remove(Target());
        FetchFailure failure;
        const int result =
            getter_.Download((site + c.path).c_str(), Target().c_str(), &failure, &rules);
        EXPECT_EQ(result, *c.reason == '\0' ? 1 : 0) << c.path;
        EXPECT_EQ(TargetExists(), result == 1) << c.path;
        EXPECT_EQ(OtherFiles(), 0) << c.path;
        std::string reason = c.reason;
        if (const std::size_t port = reason.find("{port}"); port != std::string::npos) {
            reason.replace(port, 6, std::to_string(server_->Port()));
        }
        if (result == 0) {
            EXPECT_EQ(DescribeFetchFailure(failure), reason) << c.path;
            EXPECT_EQ(ClassifyFailure(failure),
                      reason.starts_with("status 302") ? Answer::kFailed : Answer::kMissing)
                << c.path;
        }
    }
    // A page just like the site's answer for a number it lacks is missing, as far as the probe
    // read that answer: all of it, or the start of a longer one. Anything else is a document.
    const std::string start = pastTheSearch.substr(0, PageRules::kBodySearched);
    for (const auto& [path, sample, missing] :
         std::initializer_list<std::tuple<const char*, PageSample, bool>>{
             {"/t/2", Sampled("<topic/>", true), true},
             {"/t/2", Sampled("<topic/>\n", true), false},
             {"/t/2", Sampled("<topix/>", true), false},
             {"/later", Sampled(start, false), true},
             {"/later", Sampled(start, true), false},
             {"/gone", Sampled(notFound, false), false},
         }) {
        PageRules sameAs;
        sameAs.missingIfLike =
            std::make_shared<const CPageLikeness>(*CPageLikeness::Of(sample, sample));
        FetchFailure failure;
        EXPECT_EQ(getter_.Download((site + path).c_str(), Target().c_str(), &failure, &sameAs),
                  missing ? 0 : 1)
            << path << " " << sample.start.size();
        EXPECT_EQ(ClassifyFailure(failure), missing ? Answer::kMissing : Answer::kFailed) << path;
    }
}

// A login page answered with a 200, and a page of another type than the documents: neither is
// stored, and neither replaces the good copy already there.
TEST_F(FetcherTest, ALoginPageOrAPageOfAnotherTypeFailsAndKeepsTheStoredCopy) {
    PageRules rules;
    rules.wallIfBody = CompilePattern("Login required", nullptr);
    ASSERT_TRUE(TakeExpectation({"text/x-wiki"}, rules, nullptr));
    for (const auto& [type, body, outcome] :
         std::initializer_list<std::tuple<const char*, const char*, const char*>>{
             {"text/x-wiki; charset=UTF-8", "== Page ==", "stored"},
             {"TEXT/X-WIKI", "== Page ==", "stored"},
             {"text/html; charset=UTF-8", "<p>Login required</p>",
              "status 200, a login page (wall_if_body)"},
             {"text/html; charset=UTF-8", "<html>", "not the expected type (text/html)"},
         }) {
        WriteFileBytes(Target(), "good copy");
        Serve(ServerScript().Send(
            HttpResponse(200, body, std::string("Content-Type: ") + type + "\r\n")));
        FetchFailure failure;
        getter_.Download("http://127.0.0.1/d", Target().c_str(), &failure, &rules);
        EXPECT_EQ(DescribeFetchFailure(failure), outcome) << type;
        EXPECT_EQ(ReadFileBytes(Target()), std::string(outcome) == "stored" ? body : "good copy");
        server_->Stop();
    }
}

// A wiki's "not found" page names the number and carries a request's id and its time: two of
// them teach what a third looks like, whatever its number, and a document is never taken for
// one, not even one that differs from it in a short line.
TEST(PageLikenessTest, TwoAnswersTeachTheSitesNotFoundPage) {
    const auto notFound = [](long number, const std::string& id, const std::string& extra = "") {
        const std::string n = std::to_string(number);
        return "<!DOCTYPE html><html><head><title>Error - "
               "Wiki</title><script>RLCONF={\"wgRequestId\":\"" +
               id + "\",\"wgRevisionId\":" + n +
               "};</script></head><body><h1>Error</h1><p>The revision #" + n +
               " of the page named \"Main Page\" does not exist.</p>" + extra +
               "<p>This is usually caused by following an outdated history link.</p>"
               "<!-- Served in 0." +
               std::to_string(number % 997) + " secs. --></body></html>";
    };
    const std::optional<CPageLikeness> likeness =
        CPageLikeness::Of(Sampled(notFound(10001000, "Zx81kPq_BnQAADSt0jIAAAAA"), true),
                          Sampled(notFound(11112111, "Zx81lEr4n0aUyQ8HwSsAAACX"), true));
    ASSERT_TRUE(likeness);
    for (const auto& [page, like] : std::initializer_list<std::pair<std::string, bool>>{
             {notFound(296, "Zx9aQ1qZ7mOo-7d0N8wAAAAB"), true},
             {notFound(1, "ZyAAAAAAAAAAAAAAAAAAAAAA"), true},
             {notFound(2147483647, "Zx81mP/rAAEAAHD+yZ4AAAAC"), true},
             {notFound(296, "Zx9aQ1qZ7mOo-7d0N8wAAAAB", "<p>Hi</p>"), false},
             {notFound(296, "Zx9aQ1qZ7mOo-7d0N8wAAAAB", "1"), false},
             {notFound(296, "an id with spaces"), false},
             {"<!DOCTYPE html><html><head><title>Main Page - "
              "Wiki</title></head><body>Welcome</body></html>",
              false},
         }) {
        EXPECT_EQ(likeness->Matches(page, true), like) << page;
    }
    // The start of a long page is like the start of a long answer, never like a whole one.
    const std::string tail(PageRules::kBodySearched, 't');
    const auto start = [&](long number, const std::string& id) {
        return (notFound(number, id) + tail).substr(0, PageRules::kBodySearched);
    };
    const std::optional<CPageLikeness> longer =
        CPageLikeness::Of(Sampled(start(10001000, "Zx81kPq_BnQAADSt0jIAAAAA"), false),
                          Sampled(start(11112111, "Zx81lEr4n0aUyQ8HwSsAAACX"), false));
    ASSERT_TRUE(longer);
    EXPECT_TRUE(longer->Matches(start(296, "Zx9aQ1qZ7mOo-7d0N8wAAAAB"), false));
    EXPECT_FALSE(longer->Matches(start(296, "Zx9aQ1qZ7mOo-7d0N8wAAAAB"), true));
    EXPECT_FALSE(likeness->Matches(notFound(296, "Zx9aQ1qZ7mOo-7d0N8wAAAAB"), false));
    // Two answers that share nothing teach nothing.
    std::string noise1, noise2;
    for (int i = 0; i < 2000; ++i) {
        noise1 += std::to_string(i * 7919 % 1009) + "a";
        noise2 += std::to_string(i * 104729 % 1013) + "b";
    }
    EXPECT_FALSE(CPageLikeness::Of(Sampled(noise1, true), Sampled(noise2, true)));
}

TEST(PageRulesTest, LoginPagesAreToldFromAuthorPages) {
    for (const char* url : {"https://f.example/login?next=/t/5", "https://f.example/Account/SignIn",
                            "https://f.example/authorize?client=f", "https://f.example/oauth2",
                            "https://f.example/authenticate?to=/t/5"}) {
        EXPECT_TRUE(LooksLikeLogin(url)) << url;
    }
    for (const char* url : {"https://f.example/author/5", "https://f.example/Authors",
                            "https://f.example/authority-of-x", "https://auth.example/t/5"}) {
        EXPECT_FALSE(LooksLikeLogin(url)) << url;
    }
}

TEST(PageRulesTest, BadPatternsAreRefusedWithTheirPlace) {
    std::string why;
    for (const auto& [pattern, reason] : std::initializer_list<std::pair<const char*, const char*>>{
             {"Not (found", "a parenthesis without its partner at position 5"},
             {"Not) found", "a parenthesis without its partner at position 4"},
             {"Topic [a-z", "a \"[\" without its \"]\" at position 7"},
             {"*gone", "*, + or ? with nothing to repeat at position 1"},
             {"gone\\", "a backslash with nothing after it at position 5"},
         }) {
        EXPECT_FALSE(CompilePattern(pattern, &why)) << pattern;
        EXPECT_EQ(why, reason) << pattern;
    }
    EXPECT_TRUE(CompilePattern("Topic (not|no longer) found", &why));
    // What a linear matcher cannot do is refused at Start, with its reason and place.
    EXPECT_FALSE(CompilePattern("(gone) \\1", &why));
    EXPECT_EQ(why, "a back-reference is not supported (\\1) at position 8");
    EXPECT_FALSE(CompilePattern("Topic(?! found)", &why));
    EXPECT_EQ(why, "a look-ahead or look-behind is not supported ((?!) at position 6");
}

// A backtracking matcher recurses once per character and overflows a worker's stack on a long
// line, and takes exponential time on nested repeats; neither may happen whatever a site sends.
TEST(PageRulesTest, PatternsSearchHostileTextInLinearTime) {
    const std::string minified = "<html><head><title>Topic 5</title></head><body>" +
                                 std::string(100 * 1024, 'x') + "</body></html>";
    const std::optional<CPattern> title = CompilePattern("<title>.*not found", nullptr);
    ASSERT_TRUE(title);
    EXPECT_FALSE(title->Search(minified));
    EXPECT_TRUE(title->Search("<title>Topic not found</title>"));
    const std::optional<CPattern> nested = CompilePattern("(a+)+$", nullptr);
    ASSERT_TRUE(nested);
    EXPECT_FALSE(nested->Search(std::string(34, 'a') + "b!"));
    EXPECT_TRUE(nested->Search(std::string(64 * 1024, 'a')));
    std::string deep = std::string(20000, '(') + "a" + std::string(20000, ')');
    std::string why;
    const std::optional<CPattern> groups = CompilePattern(deep, &why);
    EXPECT_TRUE(!groups || groups->Search("a")) << why;
}
