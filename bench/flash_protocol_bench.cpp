// The flash transfer protocol's cost on the line: a whole transfer (hello,
// 1 KiB download agent, image, end) against the flash target's engine in
// memory, for a few image sizes. Counters:
//   overhead_pct            protocol bytes (both ways) beyond agent and image,
//                           as a percentage of the image's bytes
//   overhead_with_agent_pct the same with the agent's bytes counted as overhead
//   line_bytes              all bytes on the line, both ways
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/Clock.h"
#include "flashlib/FlashFiles.h"
#include "flashlib/FlashLibrary.h"
#include "sim/FlashTarget.h"

namespace {

// A channel whose far end is the flash target's engine: every write is
// answered at once.
class EngineChannel final : public platform::SerialChannel {
public:
    explicit EngineChannel(sim::FlashTargetEngine& engine) : engine_(engine) {}
    bool Configure(int) override { return true; }
    bool SetQueues(std::uint32_t, std::uint32_t) override { return true; }
    bool Read(void* buffer, std::uint32_t count, std::uint32_t* got) override {
        const std::size_t n = std::min<std::size_t>(count, pending_.size());
        std::memcpy(buffer, pending_.data(), n);
        pending_.erase(0, n);
        *got = static_cast<std::uint32_t>(n);
        return true;
    }
    bool Write(const void* buffer, std::uint32_t count, std::uint32_t* written) override {
        pending_ += engine_.Feed(std::string_view(static_cast<const char*>(buffer), count));
        *written = count;
        return true;
    }
    bool Purge() override {
        pending_.clear();
        return true;
    }
    bool Close() override { return true; }

private:
    sim::FlashTargetEngine& engine_;
    std::string pending_;
};

void BM_FlashTransfer(benchmark::State& state) {
    const auto imageSize = static_cast<std::size_t>(state.range(0));
    std::vector<std::uint8_t> image(imageSize);
    for (std::size_t i = 0; i < imageSize; ++i) image[i] = static_cast<std::uint8_t>(i * 131 + 7);
    const std::vector<std::uint8_t> agent = platform::flashfiles::DefaultAgentCode("MT3329");

    platform::FlashTransferParams params;
    params.chip = "MT3329";
    params.speedCode = 4;
    params.option = 0x100;
    params.agent = agent;
    params.image = image;
    platform::FakeClock clock;

    platform::FlashTransferStats stats;
    for (auto _ : state) {
        sim::FlashTargetEngine engine({.chip = "MT3329"});
        EngineChannel channel(engine);
        stats = {};
        const std::uint32_t result = platform::RunFlashTransfer(channel, params, {}, &stats, &clock);
        if (result != platform::flashresult::kOk || engine.Image() != image) {
            state.SkipWithError("transfer failed");
            break;
        }
    }
    const double line = static_cast<double>(stats.bytesOut + stats.bytesIn);
    const double protocol = line - static_cast<double>(imageSize + agent.size());
    state.counters["overhead_pct"] = 100.0 * protocol / static_cast<double>(imageSize);
    state.counters["overhead_with_agent_pct"] =
        100.0 * (protocol + static_cast<double>(agent.size())) / static_cast<double>(imageSize);
    state.counters["line_bytes"] = line;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(imageSize));
}

BENCHMARK(BM_FlashTransfer)->Arg(64 * 1024)->Arg(256 * 1024)->Arg(800 * 1024)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
