// Large documents at full speed and small ones at little cost: this program's fetcher and curl
// fetch the same documents from the same local server in the same run, files written to disk.
//
//   1 and 20 concurrent fetches of 64 MiB documents: MB/s, median of 5 runs, ours / curl; ours
//   also without the flush to the disk that makes each document durable before it is named
//   (curl makes none), to tell the transfer from the flush
//   10,000 documents of 4-300 KB over 20 connections at a time: CPU microseconds per document
//   one settings save: its cost beside the cost of a fetch (a run saves at most 5 times a second)
//
// All of it over http, then over https (curl --cacert with the same private CA that ours reads
// from SSL_CERT_FILE). The server runs in a process of its own and answers with sendfile (over
// TLS: with writes of 256 KiB), so that neither client's CPU time includes it.
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/resource.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "bench/counting_downloader.h"
#include "engine/downloader.h"
#include "engine/http_socket.h"
#include "run/task_settings_file.h"
#include "support/decimal.h"
#include "support/file_system.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 5;
constexpr std::size_t kLargeSize = 64u << 20;
constexpr int kSmallDocuments = 10000;
constexpr int kSmallVariants = 97;

// The real file system without the flush of file data: what the transfer costs by itself.
class CNoFlushFileSystem : public CFileSystem {
  public:
    Status SyncData(int) override { return Status::Ok(); }
};

// Sends the whole file over TLS.
void SendFileTls(SSL* ssl, int fd) {
    std::vector<char> block(256 * 1024);
    for (;;) {
        const ssize_t got = ::read(fd, block.data(), block.size());
        if (got <= 0) {
            return;
        }
        std::size_t written = 0;
        if (SSL_write_ex(ssl, block.data(), static_cast<std::size_t>(got), &written) != 1) {
            return;
        }
    }
}

// Serves /large/<n> and /small/<n> from files in `folder` until killed, over TLS when a
// certificate and key are given. Returns the child's pid and sets `port`.
pid_t StartFileServer(const std::string& folder, int& port, const std::string& certificate = {},
                      const std::string& key = {}) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 256) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return -1;
    }
    port = ntohs(address.sin_port);
    const pid_t child = ::fork();
    if (child != 0) {
        ::close(listener);
        return child;
    }
    SSL_CTX* context = nullptr;
    if (!certificate.empty()) {
        context = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_chain_file(context, certificate.c_str());
        SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM);
    }
    for (;;) {
        const int connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0) {
            continue;
        }
        std::thread([connection, folder, context] {
            SSL* ssl = nullptr;
            if (context != nullptr) {
                ssl = SSL_new(context);
                SSL_set_fd(ssl, connection);
                if (SSL_accept(ssl) != 1) {
                    SSL_free(ssl);
                    ::close(connection);
                    return;
                }
            }
            std::string request;
            char buffer[2048];
            while (request.find("\r\n\r\n") == std::string::npos) {
                std::size_t got = 0;
                const bool ok = ssl != nullptr
                                    ? SSL_read_ex(ssl, buffer, sizeof buffer, &got) == 1
                                    : (got = static_cast<std::size_t>(std::max<ssize_t>(
                                           0, ::recv(connection, buffer, sizeof buffer, 0)))) > 0;
                if (!ok || got == 0) {
                    break;
                }
                request.append(buffer, got);
            }
            const bool large = request.find("/large/") != std::string::npos;
            const std::size_t at = request.find(large ? "/large/" : "/small/");
            const std::size_t digits =
                at == std::string::npos ? 0 : request.find_first_not_of("0123456789", at + 7);
            const int number =
                at == std::string::npos
                    ? 0
                    : ParseDecimal<int>(std::string_view(request).substr(at + 7, digits - at - 7))
                          .value_or(0);
            const std::string file =
                folder + (large ? "/large" : "/small-" + std::to_string(number % kSmallVariants));
            const int fd = ::open(file.c_str(), O_RDONLY);
            struct stat info {};
            ::fstat(fd, &info);
            const std::string header =
                "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(info.st_size) + "\r\n\r\n";
            if (ssl != nullptr) {
                std::size_t written = 0;
                SSL_write_ex(ssl, header.data(), header.size(), &written);
                SendFileTls(ssl, fd);
                SSL_shutdown(ssl);
                SSL_free(ssl);
            } else {
                ::send(connection, header.data(), header.size(), MSG_NOSIGNAL);
                off_t offset = 0;
                while (offset<info.st_size&& ::sendfile(
                           connection, fd, &offset, static_cast<std::size_t>(info.st_size))> 0) {
                }
            }
            ::close(fd);
            ::close(connection);
        }).detach();
    }
}

double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Seconds for `count` concurrent fetches of the large document by our fetcher.
double OursLarge(int count, const std::string& base, const std::string& out) {
    CHttpGetter getter;
    getter.SetTimeout(10);
    std::vector<std::thread> threads;
    std::atomic<int> stored{0};
    const auto start = bench::Clock::now();
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&, i] {
            const std::string url = base + "/large/" + std::to_string(i);
            const std::string path = out + "/ours-" + std::to_string(i);
            stored += getter.Download(url.c_str(), path.c_str());
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const double seconds = bench::SecondsSince(start);
    return stored == count ? seconds : -1;
}

// CPU seconds of this process for fetching the small documents with 20 workers.
double OursSmall(const std::string& base, const std::string& out) {
    bench::CountingDownloader downloader;
    downloader.GetFetcher().SetTimeout(10);
    downloader.Start(20);
    downloader.Pause();
    for (int n = 0; n < kSmallDocuments; ++n) {
        const std::string url = base + "/small/" + std::to_string(n);
        const std::string path = out + "/" + std::to_string(n);
        downloader.AddJob(url.c_str(), path.c_str(), std::make_unique<JobTag>(JobTag{n, 0}));
    }
    const double before = CpuSeconds(RUSAGE_SELF);
    downloader.Resume();
    while (downloader.stored + downloader.failed < kSmallDocuments) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double cpu = CpuSeconds(RUSAGE_SELF) - before;
    if (downloader.failed > 0) {
        std::printf("ours: %d small documents failed\n", downloader.failed.load());
    }
    downloader.StopAll();
    while (downloader.HasLiveThreads()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    downloader.Drain();
    downloader.Teardown();
    return cpu;
}

// Runs curl with a config file of url/output pairs, `parallel` transfers at a time. Returns the
// wall seconds and adds curl's CPU seconds to `cpu`.
double Curl(const std::vector<std::pair<std::string, std::string>>& transfers, int parallel,
            const std::string& configPath, const std::string& caFile, double* cpu = nullptr) {
    {
        std::ofstream config(configPath);
        for (const auto& [url, output] : transfers) {
            config << "url = \"" << url << "\"\noutput = \"" << output << "\"\n";
        }
    }
    const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
    const double seconds =
        bench::TimeCommand("curl -s -f --no-progress-meter --http1.0 --parallel --parallel-max " +
                           std::to_string(parallel) + " --cacert " + caFile + " -K " + configPath);
    if (cpu != nullptr) {
        *cpu += CpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    }
    return seconds;
}

void ClearFolder(const std::string& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
}

// The same documents measured both ways; prints one line per measure, prefixed with the scheme.
double MeasureScheme(const std::string& scheme, const std::string& base, const std::string& root,
                     const std::string& out, const std::string& caFile) {
    for (int streams : {1, 20}) {
        if (std::getenv("NOVU_BENCH_SMALL_ONLY") != nullptr) {
            break;
        }
        std::vector<double> ours, oursNoFlush, curls;
        std::vector<std::pair<std::string, std::string>> transfers;
        for (int i = 0; i < streams; ++i) {
            transfers.push_back(
                {base + "/large/" + std::to_string(i), out + "/curl-" + std::to_string(i)});
        }
        for (int run = 0; run < kRuns; ++run) {
            ClearFolder(out);
            ours.push_back(OursLarge(streams, base, out));
            ClearFolder(out);
            CNoFlushFileSystem noFlush;
            CFileSystem::Install(&noFlush);
            oursNoFlush.push_back(OursLarge(streams, base, out));
            CFileSystem::Install(nullptr);
            ClearFolder(out);
            curls.push_back(Curl(transfers, 20, root + "/large.curl", caFile));
        }
        const double megabytes = streams * static_cast<double>(kLargeSize) / 1e6;
        const double oursRate = megabytes / Median(ours);
        const double noFlushRate = megabytes / Median(oursNoFlush);
        const double curlRate = megabytes / Median(curls);
        std::printf(
            "%-5s %2d x 64 MiB: ours %6.0f MB/s (without the flush %6.0f), curl %6.0f MB/s, ours / "
            "curl %.2f (without the flush %.2f, median of %d)\n",
            scheme.c_str(), streams, oursRate, noFlushRate, curlRate, oursRate / curlRate,
            noFlushRate / curlRate, kRuns);
    }

    // Small documents: CPU per document, 20 at a time, ours and curl by turns. The large files'
    // write-back must not be charged to them.
    std::vector<std::pair<std::string, std::string>> smallTransfers;
    for (int n = 0; n < kSmallDocuments; ++n) {
        smallTransfers.push_back(
            {base + "/small/" + std::to_string(n), out + "/" + std::to_string(n)});
    }
    std::vector<double> oursCpu, curlCpu;
    for (int run = 0; run < 3; ++run) {
        ClearFolder(out);
        ::sync();
        oursCpu.push_back(OursSmall(base, out) / kSmallDocuments * 1e6);
        ClearFolder(out);
        ::sync();
        double cpu = 0;
        Curl(smallTransfers, 20, root + "/small.curl", caFile, &cpu);
        curlCpu.push_back(cpu / kSmallDocuments * 1e6);
    }
    const double oursPerDocument = Median(oursCpu);
    const double curlPerDocument = Median(curlCpu);
    std::printf(
        "%-5s 10,000 x 4-300 KB: ours %.0f us CPU per document, curl %.0f us, ours / curl %.2f "
        "(median of 3)\n",
        scheme.c_str(), oursPerDocument, curlPerDocument, oursPerDocument / curlPerDocument);
    return oursPerDocument;
}

}  // namespace

int main() {
    for (const char* tool : {"curl", "openssl"}) {
        if (!bench::ToolInstalled(tool)) {
            std::printf("%s is not installed: nothing to compare with\n", tool);
            return 1;
        }
    }
    const std::string root = bench::TempPath("novu-throughput-bench");
    const std::string served = root + "/served";
    const std::string out = root + "/out";
    fs::create_directories(served);
    {
        std::string large(kLargeSize, '\0');
        for (std::size_t i = 0; i < large.size(); ++i) {
            large[i] = static_cast<char>((i * 131) >> 7);
        }
        std::ofstream(served + "/large", std::ios::binary) << large;
        for (int v = 0; v < kSmallVariants; ++v) {
            const std::size_t size = 4000 + static_cast<std::size_t>(v) * 3050;  // 4 KB .. 300 KB
            std::ofstream(served + "/small-" + std::to_string(v), std::ios::binary)
                << std::string(size, static_cast<char>('a' + v % 26));
        }
    }
    // A certificate for 127.0.0.1 signed by itself, trusted by both clients.
    const std::string certificate = root + "/server.pem";
    const std::string key = root + "/server.key";
    if (std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes "
                     "-days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout " +
                     key + " -out " + certificate + " 2>/dev/null")
                        .c_str()) != 0) {
        std::printf("openssl could not make a certificate\n");
        return 1;
    }
    ::setenv("SSL_CERT_FILE", certificate.c_str(), 1);
    int port = 0, tlsPort = 0;
    const pid_t server = StartFileServer(served, port);
    const pid_t tlsServer = StartFileServer(served, tlsPort, certificate, key);
    if (server < 0 || tlsServer < 0) {
        std::printf("cannot start the file servers\n");
        return 1;
    }
    std::printf("servers: 127.0.0.1:%d (http), :%d (https), %d CPUs, body reads of %zu KiB\n", port,
                tlsPort, static_cast<int>(std::thread::hardware_concurrency()),
                CHttpSocket::kBodyBlockSize / 1024);
    const double oursPerDocument =
        MeasureScheme("http", "http://127.0.0.1:" + std::to_string(port), root, out, certificate);
    MeasureScheme("https", "https://127.0.0.1:" + std::to_string(tlsPort), root, out, certificate);

    // One settings save; a run makes at most 5 a second.
    ClearFolder(out);
    ::sync();
    CTaskSettingsFile settings;
    settings.SetPath(out + "/NOVUDownLoad.cfg");
    settings.Record() = TaskSettings::Defaults();
    const int saves = 5000;
    const double before = CpuSeconds(RUSAGE_SELF);
    for (int i = 0; i < saves; ++i) {
        settings.Record().bbsNumber = i;
        settings.Save();
    }
    const double saveCpu = (CpuSeconds(RUSAGE_SELF) - before) / saves * 1e6;
    std::printf("settings save: %.0f us CPU each, %.0f%% of ours per document\n", saveCpu,
                100 * saveCpu / oursPerDocument);

    for (const pid_t child : {server, tlsServer}) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    fs::remove_all(root);
    return 0;
}
