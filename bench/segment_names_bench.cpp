// Naming and writing the .trl files of a full log whose segments all share
// one second, so that every name collides ("_2", "_3", ... up to the count),
// against the same count of segments a second apart, whose names are all
// distinct. The two should cost the same per file. Logs: 16,256 segments of
// seven records and 65,024 of one, each closed by its marker (the whole 2 MiB
// memory). Files go to a fresh folder under the temporary folder
// ($TMPDIR). Counter:
//   per_file   the time to name and write one segment file
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "sim/LogImage.h"
#include "support/ProcessZone.h"
#include "tracklog/LogDecoder.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kStart = 1717243200u;  // 2024-06-01 12:00:00Z
constexpr std::int64_t kNow = 1751328000;      // 2025-07-01 00:00:00Z

struct StatusSink final : TrlConversionHost {
    void AddStatusLine(const std::string&) override { ++lines; }
    bool WriteKml(const std::string&, const std::string&) override { return true; }
    bool ConvertWithPhotos(const std::string&, const std::string&, const std::string&) override { return true; }
    std::size_t lines = 0;
};

void NameAndWriteSegments(benchmark::State& state) {
    const auto segments = static_cast<std::size_t>(state.range(0));
    const bool sameSecond = state.range(1) != 0;
    sim::LogImage log;
    for (std::size_t s = 0; s < segments; ++s) {
        const std::uint32_t t = kStart + (sameSecond ? 0u : static_cast<std::uint32_t>(s));
        for (std::size_t r = 0; r + 1 < kLogMaxSlots / segments; ++r) log.Record({t, 35.5f, 139.25f, 100.0f});
        log.SegmentMarker();
    }
    const std::vector<std::uint8_t> image = log.Build(kLogSectorCount);
    SetChosenZoneOffset(0);
    LogDecoder decoder([] { return kNow; });
    decoder.ResetUploadBuffers();
    for (std::size_t s = 0; s < kLogSectorCount; ++s) {
        decoder.DecodeSector(LogSector(image.data() + s * kLogSectorSize, kLogSectorSize));
    }
    const fs::path folder = fs::temp_directory_path() / ("pellora-segment-names-" + std::to_string(::getpid()));
    StatusSink sink;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(folder);
        fs::create_directories(folder);
        sink.lines = 0;
        state.ResumeTiming();
        decoder.WriteTrlFiles(folder.string(), "Taro", false, sink);
    }
    const auto written = static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
    fs::remove_all(folder);
    ClearChosenZone();
    if (written != segments || sink.lines != segments) {
        state.SkipWithError("not every segment was written under a name of its own");
    }
    state.counters["per_file"] = benchmark::Counter(static_cast<double>(segments) * static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(NameAndWriteSegments)
    ->ArgsProduct({{16256, 65024}, {1, 0}})
    ->ArgNames({"segments", "sameSecond"})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
