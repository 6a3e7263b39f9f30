// Writing the files of an uploaded log, as the upload does after its
// transfer: a .trl file per segment and its KML, each listed in the shown
// "Track Log File Status" dialog of the main window. The logger page's
// worker writes while the UI thread runs its event loop; a timer on the UI
// thread notes how long the thread was kept from it. Every segment holds 28
// records, so the work per file is the same for every size. The files go to
// a folder in $PELLORA_BENCH_DIR (default: the temporary folder) and stay
// until the program ends. On a disk file system the kernel's cost of making a
// new file, which grows with the files deleted there in the last minutes (by
// any program, an earlier run of this one included), is part of the figures.
// Counters:
//   files               .trl files written (each also gets its KML)
//   ms_per_file         wall time per .trl file, from the start of the writing
//                       to the last line shown in the list
//   total_s             that wall time for the whole log
//   longest_ui_busy_ms  the longest stretch the UI thread was busy: the
//                       largest gap between two ticks of a 5 ms timer, less
//                       the 5 ms
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "platform/Application.h"
#include "shell/OrvikUtilityDlg.h"
#include "sim/LogImage.h"
#include "tracklog/PageMTKTracklogSetting.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kRecordsPerSegment = 28;
constexpr int kTickMs = 5;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

fs::path OutputFolder() {
    const char* base = std::getenv("PELLORA_BENCH_DIR");
    return (base ? fs::path(base) : fs::temp_directory_path()) / ("pellora-bench-upload-" + std::to_string(::getpid()));
}

void BM_UploadFiles(benchmark::State& state) {
    const auto segments = static_cast<std::size_t>(state.range(0));
    const fs::path out = OutputFolder() / std::to_string(segments);
    COrvikUtilityDlg window;
    window.Create(static_cast<QWidget*>(nullptr));
    window.ShowWindow(true);
    CPageMTKTracklogSetting* logger = window.LoggerPage();

    // The decoded log: 2026, a record every 5 s, a segment marker every 28 slots.
    const auto image =
        sim::LogImage::Synthetic(segments * kRecordsPerSegment, 1767225600u, kRecordsPerSegment, 0).Build(32);
    logger->logDecoder.ResetUploadBuffers();
    for (std::size_t at = 0; at < image.size(); at += kLogSectorSize) {
        logger->logDecoder.DecodeSector(LogSector(image.data() + at, kLogSectorSize));
    }

    double longestBusyMs = 0;
    double totalMs = 0;
    std::size_t files = 0;
    // A new folder each time; the files go only when the program ends, as
    // deleting them in between would slow the next writes down with the file
    // system's bookkeeping of recently deleted entries.
    int run = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path folder = out / std::to_string(++run);
        fs::create_directories(folder);
        CTrackLogFileStatusDlg* dialog = logger->OpenStatusDialog();
        QApplication::processEvents();
        state.ResumeTiming();

        const Clock::time_point start = Clock::now();
        Clock::time_point lastTick = start;
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const Clock::time_point now = Clock::now();
            longestBusyMs = std::max(longestBusyMs, Ms(now - lastTick) - kTickMs);
            lastTick = now;
        });
        tick.start(kTickMs);
        std::atomic<bool> done{false};
        std::thread worker([&] {
            logger->WriteUploadFiles(folder.string(), false, false, "");
            done = true;
        });
        int lines = -1;
        while (!done.load() || dialog->fileList.GetCount() < lines) {
            QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            if (done.load() && lines < 0) {
                worker.join();
                files = static_cast<std::size_t>(std::count_if(logger->logDecoder.SegmentFileNames().begin(),
                                                               logger->logDecoder.SegmentFileNames().end(),
                                                               [](const std::string& n) { return !n.empty(); }));
                lines = static_cast<int>(2 * files);
            }
        }
        totalMs += Ms(Clock::now() - start);
        tick.stop();
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["files"] = static_cast<double>(files);
    state.counters["total_s"] = totalMs / runs / 1000.0;
    state.counters["ms_per_file"] = files ? totalMs / runs / static_cast<double>(files) : 0.0;
    state.counters["longest_ui_busy_ms"] = longestBusyMs;
}
BENCHMARK(BM_UploadFiles)->Arg(500)->Arg(1500)->Arg(4500)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    // A real window where an X display is named, else offscreen.
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const auto app = platform::StartApplication(argc, argv, "pellora_bench_upload_files");
    platform::InitApplicationLook(*app);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::remove_all(OutputFolder());
    return 0;
}
