// Sequential fetches of small documents and one large body from a loopback server, beside the
// same work done by curl where it is installed.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_util.h"
#include "engine/http_getter.h"
#include "tools/server/scripted_server.h"

int main() {
    const std::string smallBody(2048, 's');
    const std::string largeBody(64u << 20, 'L');
    ScriptedServer server([&](const std::string& request) {
        const bool large = request.find("/large") != std::string::npos;
        return ServerScript().Send(HttpResponse(200, large ? largeBody : smallBody));
    });
    if (!server.Start()) {
        std::fprintf(stderr, "cannot start the loopback server\n");
        return 1;
    }
    const std::string base = "http://127.0.0.1:" + std::to_string(server.Port());
    CHttpGetter getter;
    getter.SetPort(server.Port());
    getter.SetTimeout(10);
    const std::string target = bench::TempPath("novu-fetch-bench.out");

    const int fetches = 2000;
    auto start = bench::Clock::now();
    int stored = 0;
    for (int i = 0; i < fetches; ++i) {
        stored += getter.Download("http://127.0.0.1/small", target.c_str());
    }
    const double smallSeconds = bench::SecondsSince(start);
    std::printf("small documents: %d of %d stored, %.0f fetches/s\n", stored, fetches,
                fetches / smallSeconds);

    start = bench::Clock::now();
    const int largeStored = getter.Download("http://127.0.0.1/large", target.c_str());
    const double largeSeconds = bench::SecondsSince(start);
    const double megabytes = largeBody.size() / 1e6;
    std::printf("64 MiB body: %s, %.0f MB/s\n", largeStored ? "stored" : "FAILED",
                megabytes / largeSeconds);
    std::filesystem::remove(target);

    if (!bench::ToolInstalled("curl")) {
        std::printf("curl: not installed, no comparison\n");
        return 0;
    }
    std::vector<std::string> urls(fetches, base + "/small");
    const std::string config =
        bench::WriteCurlConfig(urls, bench::TempPath("novu-fetch-bench.curl"));
    const double curlSmall = bench::TimeCommand("curl -s --http1.0 -K " + config);
    const double curlLarge =
        bench::TimeCommand("curl -s --http1.0 -o /dev/null " + base + "/large");
    std::filesystem::remove(config);
    if (curlSmall > 0) {
        std::printf("curl small documents: %.0f fetches/s (ours / curl = %.2f)\n",
                    fetches / curlSmall, (fetches / smallSeconds) / (fetches / curlSmall));
    }
    if (curlLarge > 0) {
        std::printf("curl 64 MiB body: %.0f MB/s (ours / curl = %.2f)\n", megabytes / curlLarge,
                    curlLarge / largeSeconds);
    }
    return 0;
}
