// A controller-level run with its timers driven at their real periods against a loopback server,
// measured against the design ceiling of two jobs per 10 ms tick, and the cost of the settings
// save that every finished job makes.
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "bench/bench_util.h"
#include "fake_window.h"
#include "run/run_controller.h"
#include "tools/server/scripted_server.h"

namespace {

void RunController(int delayMs, double seconds, const std::string& app) {
    ScriptedServer server([&](const std::string&) {
        return ServerScript().Sleep(delayMs).Send(HttpResponse(200, std::string(2048, 'x')));
    });
    server.Start();
    FakeWindow window;
    CTaskSettingsFile settings;
    settings.SetPath(SettingsPathFor(app));
    settings.Record() = TaskSettings::Defaults();
    settings.Record().bbsUrl = "http://127.0.0.1/bbs";
    settings.Record().documentUrl = "http://127.0.0.1/doc";
    CRunController controller(window, settings, app);
    controller.SetFetchPort(server.Port());
    controller.CreateDownloadFolders();
    controller.ShowSettings();
    window.SetInt(IDC_DELAY, 10);
    controller.OnStart();

    const auto start = bench::Clock::now();
    auto nextGenerate = start;
    auto nextStatus = start;
    while (bench::SecondsSince(start) < seconds) {
        const auto now = bench::Clock::now();
        if (now >= nextGenerate) {
            controller.OnTimer(TIMER_GENERATE);
            nextGenerate += std::chrono::milliseconds(kGeneratePeriodMs);
        }
        if (now >= nextStatus) {
            controller.OnTimer(TIMER_STATUS);
            nextStatus += std::chrono::milliseconds(kStatusPeriodMs);
        }
        std::this_thread::sleep_until(std::min(nextGenerate, nextStatus));
    }
    const RunState state = controller.Snapshot();
    const double finished = state.succeeded + state.failed;
    std::printf(
        "delay %3d ms: %.0f documents/s finished (ceiling 200/s: %.2f), %d failed, %.0f saves/s\n",
        delayMs, finished / seconds, finished / seconds / 200.0, state.failed, finished / seconds);
    controller.OnAbort();
    while (controller.HasRun()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        controller.OnAbort();
    }
}

void MeasureSaveCost(const std::string& app) {
    CTaskSettingsFile settings;
    settings.SetPath(SettingsPathFor(app));
    settings.Record() = TaskSettings::Defaults();
    const int saves = 2000;
    const auto start = bench::Clock::now();
    for (int i = 0; i < saves; ++i) {
        settings.Record().bbsNumber = i;
        settings.Save();
    }
    const double perSave = bench::SecondsSince(start) / saves;
    std::printf("settings save: %.1f us each; at the 200/s ceiling that is %.1f%% of one core\n",
                perSave * 1e6, perSave * 200 * 100);
}

}  // namespace

int main() {
    const std::string app = bench::TempPath("novu-controller-bench") + "/";
    std::filesystem::create_directories(app);
    RunController(0, 3.0, app);
    RunController(100, 3.0, app);
    MeasureSaveCost(app);
    std::filesystem::remove_all(app);
    return 0;
}
