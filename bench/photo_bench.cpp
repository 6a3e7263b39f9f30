// The photo operations' speed.
//
// BM_MatchPhotos: the two stable sorts and the matching of 10,000 photos to a
// track of 140,000 points (one a second, with gaps), the tables in memory.
// Goal: under 100 ms.
//
// BM_GpsCopies/0 and /1: GPS copies of 1,000 photos into an empty GPS
// folder, one WriteGpsToPhoto each (read the head, splice, write beside,
// copy the rest, rename). The photos are the 64 x 48 Canon reference photo
// of the tests (/0), or one 1600 x 1200 JPEG made by ImageMagick and tagged
// by exiftool (/1), 1,000 times. After the benchmarks the same
// copies are timed side by side with
//   exiftool -geotag track.gpx -o out/ photos/
// on the same photos and the same track as a GPX, and the ratio is printed.
// Goal: at least 100 times faster. Without exiftool that part is skipped
// with a message.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "export/GpsTagWriter.h"
#include "export/PhotoMatch.h"
#include "support/ProcessZone.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPhotoCount = 1000;
constexpr std::uint32_t kPhotoTime = 1212829503;  // 2008:06:07 09:05:03 UTC

PhotoLinkState MatchState() {
    PhotoLinkState state;
    state.batchMode = true;
    std::mt19937 random(1);
    std::uint32_t t = 1212700000;
    for (int i = 0; i < 140000; ++i) {
        t += random() % 500 == 0 ? 600 : 1;
        state.trackPoints.push_back({120.0f, 22.0f, 10.0f, t});
    }
    const std::uint32_t span = t - 1212700000;
    for (int i = 0; i < 10000; ++i) {
        PhotoFileEntry photo;
        photo.path = "photo" + std::to_string(i) + ".jpg";
        photo.captureTime = 1212700000 + random() % span;
        photo.captureTimeRead = true;
        state.photoFiles.push_back(photo);
    }
    return state;
}

void BM_MatchPhotos(benchmark::State& bench) {
    PhotoLinkState state = MatchState();
    std::size_t matched = 0;
    for (auto _ : bench) {
        state.SortTrackByTime();
        state.SortPhotosByTime();
        state.MatchPhotosToTrack();
        matched = 0;
        for (const auto& entry : state.photoOrder) {
            matched += entry.matched;
        }
        benchmark::DoNotOptimize(matched);
    }
    bench.counters["matched"] = static_cast<double>(matched);
}
BENCHMARK(BM_MatchPhotos)->Unit(benchmark::kMillisecond);

struct PhotoFolder {
    fs::path dir;
    bool realPhoto = false;
    std::uintmax_t photoBytes = 0;
};

bool Have(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// Photo kind 0: the 1 KB Canon reference photo of the tests (64 x 48);
// kind 1: a 1600 x 1200 photo of about 750 KB made by ImageMagick and
// tagged by exiftool (kind 0 again when they are absent).
PhotoFolder MakeFolder(int kind) {
        PhotoFolder f;
        f.dir = fs::temp_directory_path() /
                ("pellora-photo-bench-" + std::to_string(::getpid()) + "-" + std::to_string(kind));
        fs::remove_all(f.dir);
        fs::create_directories(f.dir / "photos");
        const fs::path first = f.dir / "photo.jpg";
        if (kind == 1 && Have("convert") && Have("exiftool")) {
            const std::string make =
                "convert -size 1600x1200 xc:gray +noise Gaussian -quality 85 " + first.string() +
                " && exiftool -q -overwrite_original -Make=Canon -Model='Canon Test' "
                "-DateTimeOriginal='2008:06:07 09:05:03' '-ThumbnailImage<=" PELLORA_PHOTO_DATA_DIR
                "/tiny.jpg' " + first.string();
            f.realPhoto = std::system(make.c_str()) == 0;
        }
        if (!f.realPhoto) {
            fs::copy_file(PELLORA_PHOTO_DATA_DIR "/magick-canon.jpg", first, fs::copy_options::overwrite_existing);
        }
        f.photoBytes = fs::file_size(first);
        for (int i = 0; i < kPhotoCount; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
            fs::copy_file(first, f.dir / "photos" / name);
        }
        // The track as a GPX for exiftool: a point a minute around the photos.
        std::ofstream gpx(f.dir / "track.gpx");
        gpx << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<gpx version=\"1.1\" creator=\"bench\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n"
               "<trk><trkseg>\n";
        for (int m = -30; m <= 30; ++m) {
            const std::time_t t = kPhotoTime + m * 60;
            std::tm utc{};
            gmtime_r(&t, &utc);
            char when[32];
            std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &utc);
            gpx << "<trkpt lat=\"" << 22.5 + m * 0.001 << "\" lon=\"" << 120.25 + m * 0.001
                << "\"><ele>12.5</ele><time>" << when << "</time></trkpt>\n";
        }
        gpx << "</trkseg></trk>\n</gpx>\n";
        return f;
}

const PhotoFolder& Folder(int kind) {
    static const PhotoFolder folders[2] = {MakeFolder(0), MakeFolder(1)};
    return folders[kind];
}

double CopyAll(int kind) {
    const PhotoFolder& f = Folder(kind);
    const PhotoTrackPoint point{120.25f, 22.5f, 12.5f, kPhotoTime};
    // Into an empty GPS folder, as exiftool writes into a new one.
    fs::remove_all(f.dir / "photos" / "GPS");
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kPhotoCount; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
        int failed = 0;
        std::string message;
        bool ok = true;
        WriteGpsToPhoto((f.dir / "photos" / name).string(), point, failed, message, ok);
        if (failed || !ok) {
            std::fprintf(stderr, "GPS copy failed: %s\n", message.c_str());
            std::exit(1);
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_GpsCopies(benchmark::State& bench) {
    const int kind = static_cast<int>(bench.range(0));
    for (auto _ : bench) {
        bench.SetIterationTime(CopyAll(kind));
    }
    bench.counters["photos"] = kPhotoCount;
    bench.counters["photo_bytes"] = static_cast<double>(Folder(kind).photoBytes);
}
BENCHMARK(BM_GpsCopies)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void SideBySide(int kind) {
    const PhotoFolder& f = Folder(kind);
    // The median of five runs: file creation on a shared disk is noisy.
    std::vector<double> runs;
    for (int i = 0; i < 5; ++i) {
        runs.push_back(CopyAll(kind));
    }
    std::sort(runs.begin(), runs.end());
    const double ours = runs[2];
    std::printf("\nGPS copies of %d photos of %ju bytes (%s):\n", kPhotoCount,
                static_cast<std::uintmax_t>(f.photoBytes),
                f.realPhoto ? "ImageMagick 1600x1200, tagged by exiftool" : "the 64x48 reference photo");
    std::printf("  WriteGpsToPhoto          %10.1f ms  (%.3f ms a photo; runs %.1f to %.1f ms)\n",
                ours * 1000, ours * 1000 / kPhotoCount, runs.front() * 1000, runs.back() * 1000);
    if (!Have("exiftool")) {
        std::printf("  exiftool absent: the side-by-side run is skipped\n");
        return;
    }
    fs::remove_all(f.dir / "out");
    const std::string command = "cd " + f.dir.string() +
                                " && exiftool -q -q -geotag track.gpx -o out/ photos/ >/dev/null 2>&1";
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double tool = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::size_t written = 0;
    if (fs::exists(f.dir / "out")) {
        for (const auto& entry : fs::directory_iterator(f.dir / "out")) {
            written += entry.is_regular_file();
        }
    }
    std::printf("  exiftool -geotag         %10.1f ms  (%.3f ms a photo, %zu written, status %d)\n",
                tool * 1000, tool * 1000 / kPhotoCount, written, status);
    std::printf("  ratio                    %10.1f x  (goal at least 100 x)\n", tool / ours);
}

}  // namespace

int main(int argc, char** argv) {
    SetChosenZoneOffset(0);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    SideBySide(0);
    SideBySide(1);
    benchmark::Shutdown();
    fs::remove_all(Folder(0).dir);
    fs::remove_all(Folder(1).dir);
    return 0;
}
