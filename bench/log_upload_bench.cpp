// A full 2 MiB log read-out from the simulated logger on a pseudo-terminal at
// unlimited speed: every request, packet search, checksum and block hand-off
// of the upload, with the sleeps the program keeps on a real link taken on a
// virtual clock. Counters:
//   ms_per_MiB          wall time per MiB of log memory beyond the fixed sleeps
//   piece_sleep_ms      the fixed pauses a real run adds between the 16-byte
//                       pieces of the read requests at 921600 bit/s (a real
//                       run adds one 38 ms poll or two per block for the
//                       block announcement as well)
//   wire_ms             the time the same bytes take on the wire at 921600
//                       bit/s (10 bits a character)
#include <benchmark/benchmark.h>

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <memory>

#include "device/CommandEngine.h"
#include "device/SerialLink.h"
#include "platform/Clock.h"
#include "sim/Behaviours.h"
#include "sim/DeviceSimulator.h"
#include "sim/LogImage.h"
#include "support/UtilityManager.h"
#include "tracklog/LogUploader.h"

namespace fs = std::filesystem;

namespace {

void BM_FullLogUpload(benchmark::State& state) {
    const fs::path dir = fs::temp_directory_path() / ("pellora-bench-ports-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    ::setenv("PELLORA_PORT_DIR", dir.c_str(), 1);
    platform::FakeClock clock;
    platform::ScopedClock scope(clock);

    sim::SimOptions options;
    options.portDir = dir.string();
    sim::DeviceSimulator device(options);
    auto live = sim::InstallDevice(device, sim::ProfileForModel("L-731"));
    const auto image = sim::LogImage::Synthetic(32 * sim::LogImage::kSlotsPerSector - 100, 1767225600u, 3001, 997)
                           .Build(32);
    live->WriteMemory(0, image);
    if (!device.Start()) {
        state.SkipWithError("no simulator");
        return;
    }
    SerialLink link;
    link.linkPortName = device.PortName();
    link.OpenPort();
    portLinked = 1;
    CommandEngine engine(&link);
    theUtility.highSpeedLink = 1;  // the requests go out in pieces, as on a bridge

    std::atomic<int> stop{0}, timedOut{0}, active{0};
    UploadObserver observer;
    std::size_t bytes = 0;
    double wallMs = 0;
    for (auto _ : state) {
        const auto startedAt = std::chrono::steady_clock::now();
        LogUploader uploader(engine, link, {stop, timedOut, active}, observer);
        std::size_t got = 0;
        const auto sink = [&](std::uint32_t, std::span<const std::uint8_t> block) { got += block.size(); };
        const auto result = uploader.Run(logupload::kLogMemoryBytes, false, sink);
        if (result != LogUploader::Result::kDone || got != image.size()) {
            state.SkipWithError("upload failed");
            break;
        }
        wallMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - startedAt).count();
        bytes += got;
    }
    const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    state.counters["ms_per_MiB"] = mib > 0 ? wallMs / mib : 0.0;
    // "$PMTK182,7,<address>,10000*CS\r\n" per block, in 16-byte pieces.
    double pieceMs = 0;
    for (std::uint32_t a = 0; a < logupload::kLogMemoryBytes; a += logupload::kBlockBytes) {
        char text[64];
        const int n = std::snprintf(text, sizeof(text), "$PMTK182,7,%X,10000*00\r\n", a);
        pieceMs += ((n + 15) / 16) * 50.0;
    }
    state.counters["piece_sleep_ms"] = pieceMs;
    // One packet: "$PMTK182,8,AAAAAAAA," + 4,096 hex characters + "*CS\r\n".
    const double lineChars = 32.0 * 32.0 * (20.0 + 4096.0 + 5.0);
    state.counters["wire_ms"] = lineChars * 10.0 / 921600.0 * 1000.0;
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    theUtility.highSpeedLink = 0;
    portLinked = 0;
    link.ClosePort();
    device.Stop();
    fs::remove_all(dir);
}
BENCHMARK(BM_FullLogUpload)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
