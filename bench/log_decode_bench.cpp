// Decoding a full 2 MiB log memory image as the upload does it: every one of
// the 32 sectors through CompactSector and DecodeSector, then the final
// chronological rebuild. Images: a log in memory order and a wrapped one,
// both with segment and waypoint markers and separators. Reading 2 MiB from
// memory takes about 0.2 ms; the goal is under 2 ms. everySector:1 asks for
// the ordered table after every sector as well (what a rebuild after each
// sector would cost); the upload asks only at the end. Counter:
//   bytes_per_second   image bytes decoded per second
#include <benchmark/benchmark.h>

#include <vector>

#include "sim/LogImage.h"
#include "tracklog/LogDecoder.h"

namespace {

constexpr std::uint32_t kStart = 1717243200u;  // 2024-06-01 12:00:00Z
constexpr std::int64_t kNow = 1751328000;      // 2025-07-01 00:00:00Z

void DecodeFullImage(benchmark::State& state) {
    const bool wrapped = state.range(0) != 0;
    const bool everySector = state.range(1) != 0;
    const sim::LogImage log = sim::LogImage::Synthetic(kLogMaxSlots - 64, kStart, 600, 97);
    const std::vector<std::uint8_t> image =
        wrapped ? log.BuildWrapped(kLogSectorCount, 50001) : log.Build(kLogSectorCount);
    std::vector<std::uint8_t> packed(kLogSectorSize);
    LogDecoder decoder([] { return kNow; });
    for (auto _ : state) {
        decoder.ResetUploadBuffers();
        for (std::size_t s = 0; s < kLogSectorCount; ++s) {
            const LogSector sector(image.data() + s * kLogSectorSize, kLogSectorSize);
            LogDecoder::CompactSector(sector, PackedSector(packed.data(), kLogSectorSize));
            decoder.DecodeSector(sector);
            if (everySector) {
                benchmark::DoNotOptimize(decoder.OrderedRecords().data());
            }
        }
        benchmark::DoNotOptimize(decoder.OrderedRecords().data());
    }
    if (decoder.ValidRecordCount() < 120000 || decoder.WrapFound() != wrapped) {
        state.SkipWithError("the image did not decode as built");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(image.size()));
}
BENCHMARK(DecodeFullImage)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->ArgNames({"wrapped", "everySector"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
