// Start-up to a shown main window, and resident memory when idle.
//
// The first figure is the whole road of a program start: from the process's
// own start (as the kernel records it) through the application object, the
// main window with its eight pages and the first paint. The benchmark then
// repeats the window part alone. Resident memory is read after the window
// has been shown and the event queue is empty.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "platform/Application.h"
#include "shell/OrvikUtilityDlg.h"

namespace {

double ResidentMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            std::istringstream in(line.substr(6));
            double kb = 0;
            in >> kb;
            return kb / 1024.0;
        }
    }
    return 0;
}

// Seconds since this process started, from /proc.
double SecondsSinceProcessStart() {
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), {});
    const auto close = stat.rfind(')');
    std::istringstream fields(stat.substr(close + 2));
    std::string field;
    unsigned long long startTicks = 0;
    for (int i = 3; i <= 22 && fields >> field; ++i) {
        if (i == 22) startTicks = std::stoull(field);
    }
    std::ifstream uptimeFile("/proc/uptime");
    double uptime = 0;
    uptimeFile >> uptime;
    return uptime - static_cast<double>(startTicks) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

void ShowAndSettle(COrvikUtilityDlg& window) {
    window.Create(static_cast<QWidget*>(nullptr));
    window.ShowWindow(true);
    window.GetWidget()->repaint();
    QApplication::processEvents();
}

double g_processToShownSeconds = 0;
double g_idleRssMb = 0;

void BM_MainWindowStartUp(benchmark::State& state) {
    for (auto _ : state) {
        auto window = std::make_unique<COrvikUtilityDlg>();
        ShowAndSettle(*window);
        benchmark::DoNotOptimize(window.get());
        state.PauseTiming();
        window.reset();
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["process_start_to_shown_s"] = g_processToShownSeconds;
    state.counters["idle_rss_MB"] = g_idleRssMb;
}
BENCHMARK(BM_MainWindowStartUp)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) {
    // A real window where an X display is named, else offscreen.
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const auto app = platform::StartApplication(argc, argv, "pellora_bench_startup");
    platform::InitApplicationLook(*app);
    {
        COrvikUtilityDlg window;
        ShowAndSettle(window);
        g_processToShownSeconds = SecondsSinceProcessStart();
        QElapsedTimer idle;
        idle.start();
        while (idle.elapsed() < 300) {
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        g_idleRssMb = ResidentMegabytes();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
