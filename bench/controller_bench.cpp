// A controller-level run with its ticks at their real periods against a loopback server,
// measured against the design ceiling of two jobs per 10 ms tick, and the cost of one settings
// save.
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/bench_util.h"
#include "run/run_controller.h"
#include "run/run_driver.h"
#include "tools/server/scripted_server.h"

namespace {

// The bench looks at the counters only.
class CQuietObserver : public CRunObserver {
    void OnSettings(const TaskSettings&) override {}
    void OnStatus(const RunCounts&, const TaskSettings&) override {}
    void OnJobReport(const std::string&, JobOutcome) override {}
    void OnPhase(RunPhase) override {}
    void OnStartRefused(const std::string& reason) override {
        std::fprintf(stderr, "%s\n", reason.c_str());
    }
};

void RunController(int delayMs, double seconds, const std::string& app) {
    ScriptedServer server([&](const std::string&) {
        return ServerScript().Sleep(delayMs).Send(HttpResponse(200, std::string(2048, 'x')));
    });
    server.Start();
    CQuietObserver observer;
    CRunController controller(observer, app);
    controller.Open();
    controller.Settings().Record().bbsUrl = "http://127.0.0.1/bbs";
    controller.Settings().Record().documentUrl = "http://127.0.0.1/doc";
    controller.SetFetchPort(server.Port());
    RunRequest request;
    request.bbs = {true, 1, TaskPlan::Open()};
    request.document = {true, 1, TaskPlan::Open()};
    request.delaySeconds = 10;
    controller.Start(request);

    const auto start = bench::Clock::now();
    RunState state;
    DriveRunToItsEnd(controller, [&] {
        // Read once the time is up, before the workers are asked to stop.
        const bool done = bench::SecondsSince(start) >= seconds;
        if (done) {
            state = controller.Snapshot();
        }
        return done;
    });
    const double finished = state.succeeded + state.failed;
    std::printf("delay %3d ms: %.0f documents/s finished (ceiling 200/s: %.2f), %d failed\n",
                delayMs, finished / seconds, finished / seconds / 200.0, state.failed);
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
    // A run saves at most once every kSaveInterval, however many documents finish.
    const double savesPerSecond = 1000.0 / static_cast<double>(kSaveInterval.count());
    std::printf("settings save: %.1f us each; at most %.0f a second, %.2f%% of one core\n",
                perSave * 1e6, savesPerSecond, perSave * savesPerSecond * 100);
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
