// Golden log images: each tests/data/logimages/<name>.log describes a log
// (the slots, the PC clock, the zone, the user name, what the decoder must
// count); <name>.image.gz is the memory image built from it and <name>/ holds
// the .trl files the upload must write. One runner checks, per image: the
// builder still makes the stored image, the decoder's files from the stored
// image equal the expected ones (names and bytes, nothing more), the image's
// own ground truth equals them too, the status lines, the counters and the
// KML conversion calls.
//
// PELLORA_REGENERATE_LOGIMAGES=1 rewrites the image and the expected files
// from the .log and the image's ground truth (never from the decoder).
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "LogDecodeHelpers.h"
#include "sim/LogImage.h"
#include "support/AtomicFile.h"
#include "support/ProcessZone.h"
#include "tracklog/LogDecoder.h"

namespace fs = std::filesystem;

namespace {

const fs::path kDir = fs::path(PELLORA_TEST_DATA_DIR) / "logimages";

std::uint32_t ParseUtc(const std::string& text) {
    int y = 0;
    unsigned mo = 0, d = 0;
    int h = 0, mi = 0, s = 0;
    if (std::sscanf(text.c_str(), "%d-%u-%uT%d:%d:%dZ", &y, &mo, &d, &h, &mi, &s) != 6) {
        ADD_FAILURE() << "bad time " << text;
    }
    namespace c = std::chrono;
    const c::sys_days date{c::year{y} / c::month{mo} / c::day{d}};
    return static_cast<std::uint32_t>(date.time_since_epoch() / c::seconds(1) + h * 3600 + mi * 60 + s);
}

struct Scenario {
    sim::LogImage log;
    std::int64_t clock = 0;
    long zone = 0;
    std::string user;
    bool total = false;
    std::size_t sectors = 1;
    std::size_t wrap = 0;
    std::map<std::string, int> expect;
};

Scenario Parse(const fs::path& path) {
    Scenario sc;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string op;
        if (!(words >> op) || op[0] == '#') {
            continue;
        }
        auto fix = [&] {
            std::string t;
            sim::LogFix f;
            words >> t >> f.latitude >> f.longitude >> f.height;
            f.utcTime = ParseUtc(t);
            return f;
        };
        if (op == "clock") {
            std::string t;
            words >> t;
            sc.clock = ParseUtc(t);
        } else if (op == "zone") {
            words >> sc.zone;
        } else if (op == "user") {
            words >> sc.user;
        } else if (op == "total") {
            words >> sc.total;
        } else if (op == "sectors") {
            words >> sc.sectors;
        } else if (op == "wrap") {
            words >> sc.wrap;
        } else if (op == "record") {
            sc.log.Record(fix());
        } else if (op == "waypoint") {
            sc.log.Waypoint(fix());
        } else if (op == "bad") {
            sc.log.BadChecksum(fix());
        } else if (op == "dropped") {
            sc.log.Dropped(fix());
        } else if (op == "waypoint-marker") {
            sc.log.WaypointMarker();
        } else if (op == "segment") {
            sc.log.SegmentMarker();
        } else if (op == "separator") {
            int middle = 0x5A;
            words >> middle;
            sc.log.Separator(static_cast<std::uint8_t>(middle));
        } else if (op == "empty") {
            int n = 1;
            words >> n;
            while (n-- > 0) {
                sc.log.Empty();
            }
        } else if (op == "pad-to") {
            std::size_t n = 0;
            words >> n;
            while (sc.log.SlotCount() < n) {
                sc.log.Empty();
            }
        } else if (op == "track") {
            // track <count> <first time> <step seconds>: a straight line.
            int count = 0, step = 0;
            std::string t;
            words >> count >> t >> step;
            const std::uint32_t first = ParseUtc(t);
            for (int i = 0; i < count; ++i) {
                sc.log.Record({first + static_cast<std::uint32_t>(i * step), 35.0f + static_cast<float>(i) * 1e-4f,
                               139.0f + static_cast<float>(i) * 2e-4f, 20.0f + static_cast<float>(i) * 0.5f});
            }
        } else if (op == "expect") {
            std::string what;
            int n = 0;
            words >> what >> n;
            sc.expect[what] = n;
        } else {
            ADD_FAILURE() << path << ": unknown line " << line;
        }
    }
    return sc;
}

std::vector<std::uint8_t> ReadGz(const fs::path& path) {
    std::vector<std::uint8_t> out;
    gzFile f = gzopen(path.c_str(), "rb");
    if (f == nullptr) {
        return out;
    }
    std::uint8_t buf[65536];
    int n = 0;
    while ((n = gzread(f, buf, sizeof buf)) > 0) {
        out.insert(out.end(), buf, buf + n);
    }
    gzclose(f);
    return out;
}

void Regenerate(const std::string& name, const Scenario& sc, const std::vector<std::uint8_t>& image) {
    gzFile f = gzopen((kDir / (name + ".image.gz")).c_str(), "wb9");
    ASSERT_NE(f, nullptr);
    gzwrite(f, image.data(), static_cast<unsigned>(image.size()));
    gzclose(f);
    fs::remove_all(kDir / name);
    fs::create_directories(kDir / name);
    for (const auto& file : sc.log.ExpectedFiles(sc.user, sc.zone, sc.total)) {
        ASSERT_TRUE(WriteFileAtomically((kDir / name / file.name).string(),
                                        std::string(file.bytes.begin(), file.bytes.end())));
    }
}

class LogImageGoldenTest : public ::testing::TestWithParam<std::string> {
protected:
    void TearDown() override { ClearChosenZone(); }
};

TEST_P(LogImageGoldenTest, DecodesToTheExpectedTrlFiles) {
    const std::string name = GetParam();
    const Scenario sc = Parse(kDir / (name + ".log"));
    const std::vector<std::uint8_t> built =
        sc.wrap == 0 ? sc.log.Build(sc.sectors) : sc.log.BuildWrapped(sc.sectors, sc.wrap);
    if (std::getenv("PELLORA_REGENERATE_LOGIMAGES") != nullptr) {
        Regenerate(name, sc, built);
    }
    const std::vector<std::uint8_t> image = ReadGz(kDir / (name + ".image.gz"));
    ASSERT_EQ(image.size(), sc.sectors * kLogSectorSize);
    EXPECT_TRUE(image == built) << "the builder no longer makes the stored image";

    const auto expected = testsupport::ReadFolder((kDir / name).string());
    std::map<std::string, std::vector<std::uint8_t>> truth;
    for (const auto& f : sc.log.ExpectedFiles(sc.user, sc.zone, sc.total)) {
        truth[f.name] = f.bytes;
    }
    EXPECT_EQ(truth, expected) << "the image's ground truth differs from the stored files";

    SetChosenZoneOffset(sc.zone);
    const std::int64_t now = sc.clock;
    LogDecoder decoder([now] { return now; });
    testsupport::DecodeImage(decoder, image);
    EXPECT_EQ(decoder.ValidRecordCount(), sc.expect.at("valid"));
    EXPECT_EQ(decoder.SegmentMarkerCount(), sc.expect.at("markers"));
    EXPECT_EQ(decoder.WaypointCount(), sc.expect.at("waypoints"));
    EXPECT_EQ(decoder.StoredRecordCount(), sc.expect.at("stored"));
    EXPECT_EQ(decoder.WrapStartIndex(), sc.expect.at("wrap-start"));
    EXPECT_EQ(decoder.WrapFound(), sc.expect.at("wrap-start") != 0);

    testsupport::TempFolder out;
    testsupport::RecordingTrlHost host;
    decoder.WriteTrlFiles(out.Path(), sc.user, sc.total, host);
    EXPECT_EQ(testsupport::ReadFolder(out.Path()), expected);
    std::vector<std::string> lines, calls;
    for (const auto& f : sc.log.ExpectedFiles(sc.user, sc.zone, sc.total)) {
        lines.push_back(" " + out.Path() + f.name);
        const std::string stem = out.Path() + f.name.substr(0, f.name.size() - 4);
        calls.push_back("kml " + stem + ".trl " + stem + ".kml");
    }
    EXPECT_EQ(host.lines, lines);
    decoder.ConvertTrlToKml(host);
    EXPECT_EQ(host.calls, calls);
}

INSTANTIATE_TEST_SUITE_P(LogImages, LogImageGoldenTest, ::testing::Values("normal", "wrapped", "waypoints"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
