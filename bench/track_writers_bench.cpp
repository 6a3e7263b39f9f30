// The track file writers on a full log (130,000 points), against gpsbabel
// converting the same points from GPX to KML, side by side in one run.
//
//   BM_ConvertAllFour    the format page's Convert: the .trl read, all four
//                        outputs written into place
//   BM_WriteAllFour      the four documents formatted in memory only
//   BM_GpsbabelGpxToKml  gpsbabel as a process: -i gpx -f <gpx> -o kml.
//                        Arg 0: the GPX that Convert wrote (each point twice,
//                        as wpt and rtept); Arg 1: the same points once, as
//                        a route. Skipped with a message when gpsbabel is
//                        missing.
// At the end the ratios gpsbabel time / Convert time are printed. Outputs
// are written into the temporary folder (TMPDIR), new files each time.
// Build with optimisation (not the sanitizer test build) for figures.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "export/TrackConversion.h"
#include "support/AtomicFile.h"

namespace fs = std::filesystem;
using namespace track_writers;

namespace {

constexpr int kPoints = 130000;

struct Fixture {
    fs::path dir;
    std::vector<TrackLogRecord> records;
    std::string trlPath;
    std::string routeGpxPath;

    Fixture() {
        dir = fs::temp_directory_path() / ("pellora-bench-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        std::string trl;
        for (int i = 0; i < kPoints; ++i) {
            // A walk through Japan, one point every 5 s, heights 0 to 1,500 m.
            const TrackLogRecordBytes bytes = EncodeTrackLogRecord(
                {1577822400u + static_cast<std::uint32_t>(i) * 5u, static_cast<float>(33.0 + i * 0.0000731),
                 static_cast<float>(130.0 + i * 0.0000457), static_cast<float>((i % 3000) * 0.5)});
            records.push_back(DecodeTrackLogRecord(bytes));
            trl.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        }
        trlPath = (dir / "full.trl").string();
        WriteFileAtomically(trlPath, trl);
        // The points once, as a route: Convert's GPX without its waypoint pass.
        std::string gpx;
        WriteGpx(records, LineEnd::Lf, gpx);
        const std::size_t firstWpt = gpx.find("<wpt ");
        const std::size_t rte = gpx.find("<rte>");
        gpx.erase(firstWpt, rte - firstWpt);
        routeGpxPath = (dir / "route.gpx").string();
        WriteFileAtomically(routeGpxPath, gpx);
    }
    ~Fixture() { fs::remove_all(dir); }
};

Fixture& Data() {
    static Fixture fixture;
    return fixture;
}

// Seconds per iteration of each benchmark's last run, by name.
std::map<std::string, double>& Seconds() {
    static std::map<std::string, double> seconds;
    return seconds;
}

// Outputs of the previous iteration are removed before the clock starts, so
// every run writes new files (replacing files on ext4 adds a writeback
// that depends on what the disk is doing).
template <typename Body>
void Timed(benchmark::State& state, const std::string& name, std::initializer_list<const char*> outputs,
           Body body) {
    double total = 0;
    for (auto _ : state) {
        for (const char* output : outputs) {
            fs::remove(Data().dir / output);
        }
        const auto start = std::chrono::steady_clock::now();
        if (!body()) {
            state.SkipWithError("failed");
            return;
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    Seconds()[name] = total / static_cast<double>(state.iterations());
    state.counters["points"] = kPoints;
}

void BM_ConvertAllFour(benchmark::State& state) {
    Fixture& data = Data();
    Timed(state, "convert", {"full.txt", "full.kml", "fullNMEA.txt", "full.gpx"}, [&] {
        return ConvertTrackLog(data.trlPath, {true, true, true, true}, 4).AllWritten();
    });
}
BENCHMARK(BM_ConvertAllFour)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteAllFour(benchmark::State& state) {
    Fixture& data = Data();
    std::string out;
    std::size_t bytes = 0;
    Timed(state, "memory", {}, [&] {
        bytes = 0;
        for (const TrackFormatInfo& info : kTrackFormats) {
            out.clear();
            WriteFormat(info.format, data.records, kFormatPageLineEnd, out);
            bytes += out.size();
        }
        benchmark::DoNotOptimize(out.data());
        return true;
    });
    state.counters["output_MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_WriteAllFour)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GpsbabelGpxToKml(benchmark::State& state) {
    if (std::system("command -v gpsbabel >/dev/null 2>&1") != 0) {
        state.SkipWithError("gpsbabel is not installed: no comparison (scripts/deps.sh installs it)");
        return;
    }
    Fixture& data = Data();
    const bool once = state.range(0) == 1;
    std::string gpx = once ? data.routeGpxPath : (data.dir / "full.gpx").string();
    if (!once && !fs::exists(gpx)) {
        ConvertTrackLog(data.trlPath, {false, false, false, true}, 4);
    }
    const std::string command =
        "gpsbabel -i gpx -f " + gpx + " -o kml -F " + (data.dir / "gpsbabel.kml").string();
    Timed(state, once ? "gpsbabel-once" : "gpsbabel-convert-gpx", {"gpsbabel.kml"},
          [&] { return std::system(command.c_str()) == 0; });
}
BENCHMARK(BM_GpsbabelGpxToKml)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    const auto& s = Seconds();
    if (s.count("convert") == 0) {
        return 0;
    }
    const double ours = s.at("convert");
    std::printf("Convert, all four formats, %d points: %.1f ms\n", kPoints, ours * 1e3);
    for (const char* name : {"gpsbabel-convert-gpx", "gpsbabel-once"}) {
        if (s.count(name) != 0) {
            std::printf("%s: %.1f ms, %.1f times Convert's time\n", name, s.at(name) * 1e3, s.at(name) / ours);
        } else {
            std::printf("%s: not measured (gpsbabel missing or not selected)\n", name);
        }
    }
    return 0;
}
