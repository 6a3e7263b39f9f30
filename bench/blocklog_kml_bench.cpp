// A whole block read-out decoded and written as KML: N records in blocks of
// 32, decoded into the store and the KML document built. Counters:
//   records      decoded records
//   kml_bytes    bytes of the KML document
#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <vector>

#include "support/ProcessZone.h"
#include "tracklog/BlockLogRecord.h"

namespace {

std::vector<std::array<std::uint8_t, kBlockLogBlockBytes>> MakeBlocks(int records) {
    std::vector<std::array<std::uint8_t, kBlockLogBlockBytes>> blocks((records + 31) / 32);
    for (auto& block : blocks) {
        block.fill(0xFF);
    }
    for (int i = 0; i < records; ++i) {
        const BlockLogRecord r{1215000000 + i * 10, 247500000 - i * 7, 12750 + i,
                               1209787200u + static_cast<unsigned>(i)};
        const auto bytes = EncodeBlockLogRecord(r);
        std::copy(bytes.begin(), bytes.end(), blocks[i / 32].begin() + (i % 32) * 16);
    }
    return blocks;
}

void BM_BlockLogKml(benchmark::State& state) {
    SetChosenZoneOffset(0);
    const auto blocks = MakeBlocks(static_cast<int>(state.range(0)));
    const std::int64_t total = static_cast<std::int64_t>(blocks.size() * kBlockLogBlockBytes);
    std::size_t kmlBytes = 0;
    for (auto _ : state) {
        BlockLogStore store;
        std::string text;
        for (std::size_t b = 0; b < blocks.size(); ++b) {
            DecodeTrackRecords(blocks[b], static_cast<std::int64_t>(b * kBlockLogBlockBytes), total, kOutputKml, store,
                               text);
        }
        const std::string kml = ToTextModeBytes(BuildBlockLogKml(store));
        kmlBytes = kml.size();
        benchmark::DoNotOptimize(kml.data());
    }
    state.counters["records"] = static_cast<double>(state.range(0));
    state.counters["kml_bytes"] = static_cast<double>(kmlBytes);
    ClearChosenZone();
}

}  // namespace

BENCHMARK(BM_BlockLogKml)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
