// A whole engine run: 20 workers and the production fetcher against a loopback server that
// answers each document after a set delay, beside aria2c and curl where installed.
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_util.h"
#include "bench/counting_downloader.h"
#include "engine/downloader.h"
#include "tools/server/scripted_server.h"

namespace {

void RunEngine(int delayMs, int documents, const std::string& folder) {
    const std::string body(4096, 'd');
    ScriptedServer server([&](const std::string&) {
        return ServerScript().Sleep(delayMs).Send(HttpResponse(200, body));
    });
    server.Start();
    std::vector<std::string> urls;
    {
        bench::CountingDownloader downloader;
        downloader.GetFetcher().SetPort(server.Port());
        downloader.GetFetcher().SetTimeout(10);
        downloader.Start(20);
        downloader.Pause();
        for (int n = 0; n < documents; ++n) {
            const std::string path = folder + "/" + std::to_string(n) + ".xml";
            downloader.AddJob(("http://127.0.0.1/doc/" + std::to_string(n) + ".xml").c_str(),
                              path.c_str(), std::make_unique<JobTag>(JobTag{n, JOB_BBS}));
            urls.push_back("http://127.0.0.1:" + std::to_string(server.Port()) + "/doc/" +
                           std::to_string(n) + ".xml");
        }
        const auto start = bench::Clock::now();
        downloader.Resume();
        while (downloader.stored + downloader.failed < documents) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const double seconds = bench::SecondsSince(start);
        const double rate = documents / seconds;
        std::printf("delay %3d ms: %5d documents, %d failed, %7.0f documents/s", delayMs, documents,
                    downloader.failed.load(), rate);
        if (delayMs > 0) {
            std::printf(", %.2f of the ideal %d/s", rate / (20000.0 / delayMs), 20000 / delayMs);
        }
        std::printf(", peak memory %.1f MiB\n", bench::PeakMemoryMiB());
        downloader.StopAll();
        while (downloader.HasLiveThreads()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        downloader.Drain();
        downloader.Teardown();
    }

    const std::string list = bench::TempPath("novu-engine-bench.list");
    if (bench::ToolInstalled("aria2c")) {
        std::FILE* file = std::fopen(list.c_str(), "w");
        for (const auto& url : urls)
            std::fprintf(file, "%s\n", url.c_str());
        std::fclose(file);
        const double seconds = bench::TimeCommand("aria2c -q -j20 --allow-overwrite=true -d " +
                                                  folder + " -i " + list);
        if (seconds > 0)
            std::printf("              aria2c -j20: %7.0f documents/s\n", documents / seconds);
    } else {
        std::printf("              aria2c: not installed\n");
    }
    if (bench::ToolInstalled("curl")) {
        const std::string config = bench::WriteCurlConfig(urls, list);
        const double seconds = bench::TimeCommand(
            "curl -s --http1.0 --parallel --parallel-max 20 -K " + config + " 2>/dev/null");
        if (seconds > 0)
            std::printf("              curl --parallel 20: %7.0f documents/s\n",
                        documents / seconds);
    }
    std::filesystem::remove(list);
}

}  // namespace

int main() {
    const std::string folder = bench::TempPath("novu-engine-bench");
    std::filesystem::create_directories(folder);
    RunEngine(0, 3000, folder);
    RunEngine(20, 1000, folder);
    RunEngine(100, 400, folder);
    std::filesystem::remove_all(folder);
    return 0;
}
