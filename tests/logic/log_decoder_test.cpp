// The log memory decoder against images built by the simulator, whose own
// ground truth is the oracle.
//
// Golden images: tests/data/logimages/<name>.log describes a log (slots, PC
// clock, zone, user name, counts the decoder must reach); <name>.image.gz is
// the image built from it and <name>/ the .trl files the upload must write.
// One runner checks per image: the builder still makes the stored image; the
// decoder's files from the stored image equal the expected ones (names and
// bytes, nothing more) and so does the ground truth; the source record file;
// the status lines; the counters and where the log wraps; the KML
// conversion calls.
// PELLORA_REGENERATE_LOGIMAGES=1 rewrites image and files from the .log and
// the ground truth (never from the decoder).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "TempDir.h"
#include "sim/LogImage.h"
#include "support/AtomicFile.h"
#include "support/ProcessZone.h"
#include "tracklog/LogDecoder.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Files = std::map<std::string, Bytes>;
const fs::path kDir = fs::path(PELLORA_TEST_DATA_DIR) / "logimages";
const std::int64_t kNow = 1751328000;  // 2025-07-01 00:00:00Z

std::uint32_t Utc(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
    namespace c = std::chrono;
    const c::sys_days date{c::year{y} / c::month{mo} / c::day{d}};
    return static_cast<std::uint32_t>(date.time_since_epoch() / c::seconds(1) + h * 3600 + mi * 60 + s);
}

sim::LogFix Fix(std::uint32_t t) { return {t, 35.5f, 139.25f, 100.0f}; }

struct Host : TrlConversionHost {
    void AddStatusLine(const std::string& line) override { lines.push_back(line); }
    bool WriteKml(const std::string& trl, const std::string& kml) override {
        calls.push_back("kml " + trl + " " + kml);
        return ok;
    }
    bool ConvertWithPhotos(const std::string& trl, const std::string& kml, const std::string& photos) override {
        calls.push_back("photo " + trl + " " + kml + " " + photos);
        return ok;
    }
    std::vector<std::string> lines, calls;
    bool ok = true;
};

using testsupport::ReadFolder;
using TempFolder = testsupport::TempDir;

// As the upload does it; the source record file goes to sourcePath if given.
void Decode(LogDecoder& decoder, const Bytes& image, bool forceRebuild = false, const std::string& sourcePath = "") {
    Bytes packed(kLogSectorSize);
    AtomicFile source;
    ASSERT_TRUE(sourcePath.empty() || source.Open(sourcePath));
    decoder.ResetUploadBuffers();
    for (std::size_t off = 0; off < image.size(); off += kLogSectorSize) {
        const LogSector sector(image.data() + off, kLogSectorSize);
        LogDecoder::CompactSector(sector, PackedSector(packed));
        decoder.DecodeSector(sector);
        if (source.IsOpen()) {
            EXPECT_TRUE(WriteSectorRaw(LogSector(packed), source));
        }
        if (forceRebuild) decoder.OrderedRecords();
    }
    EXPECT_TRUE(sourcePath.empty() || source.Commit());
}

Files Expected(const sim::LogImage& log, const std::string& user, long zone, bool total) {
    Files out;
    for (const auto& f : log.ExpectedFiles(user, zone, total)) out[f.name] = f.bytes;
    return out;
}

struct Scenario {
    sim::LogImage log;
    std::int64_t clock = 0;
    long zone = 0;
    std::string user;
    bool total = false;
    std::size_t sectors = 1, wrap = 0;
    std::map<std::string, int> expect;
};

Scenario Parse(const fs::path& path) {
    Scenario sc;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        std::istringstream w(line);
        std::string op, t;
        if (!(w >> op) || op[0] == '#') continue;
        auto utc = [&] {
            int y = 0, h = 0, mi = 0, s = 0;
            unsigned mo = 0, d = 0;
            w >> t;
            EXPECT_EQ(std::sscanf(t.c_str(), "%d-%u-%uT%d:%d:%dZ", &y, &mo, &d, &h, &mi, &s), 6) << line;
            return Utc(y, mo, d, h, mi, s);
        };
        auto fix = [&] {
            sim::LogFix f{utc()};
            w >> f.latitude >> f.longitude >> f.height;
            return f;
        };
        int n = 1;
        if (op == "clock") sc.clock = utc();
        else if (op == "zone") w >> sc.zone;
        else if (op == "user") w >> sc.user;
        else if (op == "total") w >> sc.total;
        else if (op == "sectors") w >> sc.sectors;
        else if (op == "wrap") w >> sc.wrap;
        else if (op == "record") sc.log.Record(fix());
        else if (op == "waypoint") sc.log.Waypoint(fix());
        else if (op == "bad") sc.log.BadChecksum(fix());
        else if (op == "dropped") sc.log.Dropped(fix());
        else if (op == "waypoint-marker") sc.log.WaypointMarker();
        else if (op == "segment") sc.log.SegmentMarker();
        else if (op == "separator") sc.log.Separator(static_cast<std::uint8_t>(w >> n ? n : 0x5A));
        else if (op == "empty") for (w >> n; n-- > 0;) sc.log.Empty();
        else if (op == "pad-to") for (w >> n; sc.log.SlotCount() < static_cast<std::size_t>(n);) sc.log.Empty();
        else if (op == "track") {  // track <count> <first time> <step seconds>: a straight line
            int count = 0, step = 0;
            w >> count;
            const std::uint32_t first = utc();
            w >> step;
            for (int i = 0; i < count; ++i) {
                const float f = static_cast<float>(i);
                sc.log.Record({first + static_cast<std::uint32_t>(i * step), 35.0f + f * 1e-4f, 139.0f + f * 2e-4f,
                               20.0f + f * 0.5f});
            }
        } else if (op == "expect") w >> t >> sc.expect[t];
        else ADD_FAILURE() << path << ": unknown line " << line;
    }
    return sc;
}

Bytes ReadGz(const fs::path& path) {
    Bytes out(64 * kLogSectorSize);
    gzFile f = gzopen(path.c_str(), "rb");
    const int n = f == nullptr ? 0 : gzread(f, out.data(), static_cast<unsigned>(out.size()));
    out.resize(static_cast<std::size_t>(std::max(n, 0)));
    if (f != nullptr) gzclose(f);
    return out;
}

class LogImageGoldenTest : public ::testing::TestWithParam<std::string> {
    void TearDown() override { ClearChosenZone(); }
};

TEST_P(LogImageGoldenTest, DecodesToTheExpectedFiles) {
    const std::string name = GetParam();
    const Scenario sc = Parse(kDir / (name + ".log"));
    const Bytes built = sc.log.BuildWrapped(sc.sectors, sc.wrap);
    const Files truth = Expected(sc.log, sc.user, sc.zone, sc.total);
    if (getenv("PELLORA_REGENERATE_LOGIMAGES") != nullptr) {
        gzFile f = gzopen((kDir / (name + ".image.gz")).c_str(), "wb9");
        gzwrite(f, built.data(), static_cast<unsigned>(built.size()));
        gzclose(f);
        fs::remove_all(kDir / name);
        fs::create_directories(kDir / name);
        for (const auto& [file, bytes] : truth) {
            ASSERT_TRUE(WriteFileAtomically((kDir / name / file).string(), std::string(bytes.begin(), bytes.end())));
        }
    }
    const Bytes image = ReadGz(kDir / (name + ".image.gz"));
    EXPECT_TRUE(image == built) << "the builder no longer makes the stored image";
    const Files expected = ReadFolder(kDir / name);
    EXPECT_EQ(truth, expected) << "the ground truth differs from the stored files";

    SetChosenZoneOffset(sc.zone);
    LogDecoder decoder([&] { return sc.clock; });
    TempFolder out, raw;
    Decode(decoder, image, false, raw.Folder() + "source.trl");
    EXPECT_EQ(ReadFolder(raw.path)["source.trl"], sc.log.ExpectedSourceBytes(sc.sectors, sc.wrap));
    EXPECT_EQ(decoder.ValidRecordCount(), sc.expect.at("valid"));
    EXPECT_EQ(decoder.SegmentMarkerCount(), sc.expect.at("markers"));
    EXPECT_EQ(decoder.WaypointCount(), sc.expect.at("waypoints"));
    EXPECT_EQ(decoder.StoredRecordCount(), sc.expect.at("stored"));
    EXPECT_EQ(decoder.WrapStartIndex(), sc.expect.at("wrap-start"));
    EXPECT_EQ(decoder.WrapEndIndex(), sc.expect.at("wrap-end"));
    EXPECT_EQ(decoder.WrapFound(), sc.wrap != 0);

    Host host;
    decoder.WriteTrlFiles(out.Folder(), sc.user, sc.total, host);
    EXPECT_EQ(ReadFolder(out.path), expected);
    std::vector<std::string> lines, calls;
    for (const auto& f : sc.log.ExpectedFiles(sc.user, sc.zone, sc.total)) {  // in the order written
        const std::string stem = out.Folder() + f.name.substr(0, f.name.size() - 4);
        lines.push_back(" " + stem + ".trl");
        calls.push_back("kml " + stem + ".trl " + stem + ".kml");
    }
    EXPECT_EQ(host.lines, lines);
    decoder.ConvertTrlToKml(host);
    EXPECT_EQ(host.calls, calls);
}

INSTANTIATE_TEST_SUITE_P(LogImages, LogImageGoldenTest, ::testing::Values("normal", "wrapped", "waypoints", "empty"),
                         [](const auto& info) { return info.param; });

TEST(LogDecoderTest, YearWindowOfThreeYearsInLocalTime) {
    // The oracle's record framing is the worked vector.
    EXPECT_EQ(sim::LogImage::Frame(Fix(Utc(2024, 6, 1, 12))),
              (sim::LogImage::Slot{0x40, 0x0D, 0x5B, 0x66, 0x00, 0x00, 0x0E, 0x42, 0x00, 0x40, 0x0B, 0x43, 0x00, 0xC8,
                                   0x42, 0xBE}));
    struct Case {
        const char* what;
        std::uint32_t t;
        long zone;
        bool kept;
    } const cases[] = {
        {"three years before", Utc(2022, 1, 1), 0, true},
        {"four years before", Utc(2021, 12, 31, 23, 59, 59), 0, false},
        {"four years before in UTC, three in local time", Utc(2021, 12, 31, 23), 7200, true},
        {"three years before in UTC, four in local time", Utc(2022, 1, 1, 1), -7200, false},
        {"three years after", Utc(2028, 12, 31, 23, 59, 59), 0, true},
        {"four years after", Utc(2029, 1, 1), 0, false},
        {"negative as signed 32-bit", 0x80000000u, 0, false},
    };
    for (const Case& c : cases) {
        SetChosenZoneOffset(c.zone);
        EXPECT_EQ(LogDecoder::RecordValid(sim::LogImage::Frame(Fix(c.t)), 2025), c.kept) << c.what;
    }
    // A clock in 1971 puts the window's start before 1970: times below 0
    // (2^31 and above) are refused all the same.
    for (const std::uint32_t t : {0xFFFEAE80u, 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_FALSE(LogDecoder::RecordValid(sim::LogImage::Frame(Fix(t)), 1971)) << t;
    }
    EXPECT_TRUE(LogDecoder::RecordValid(sim::LogImage::Frame(Fix(86400)), 1971));
    // Near each end of the window the decision is the local year's.
    for (long zone = -12; zone <= 14; zone += 2) {
        SetChosenZoneOffset(zone * 3600);
        for (const std::int64_t edge : {Utc(2022, 1, 1), Utc(2029, 1, 1)}) {
            for (std::int64_t t = edge - 30 * 3600; t < edge + 30 * 3600; t += 1800) {
                std::tm tm{};
                ASSERT_TRUE(ToLocalTime(t, tm));
                const bool inside = tm.tm_year >= 122 && tm.tm_year <= 128;
                ASSERT_EQ(LogDecoder::RecordValid(sim::LogImage::Frame(Fix(static_cast<std::uint32_t>(t))), 2025),
                          inside)
                    << "zone " << zone << " t " << t;
            }
        }
    }
    ClearChosenZone();
}

// Full images round trip to exactly their segments: in memory order with
// more than 10,000 segments, and wrapped, the ordered table asked for after
// every sector (waypoint flags must follow each rebuild) or only at the end.
TEST(LogDecoderTest, RoundTripOfFullImages) {
    SetChosenZoneOffset(0);
    struct Run {
        sim::LogImage log;
        std::size_t wrap;
        bool force;
    } const runs[] = {{sim::LogImage::Synthetic(kLogMaxSlots - 7, Utc(2024, 3, 1), 10, 7), 0, false},
                      {sim::LogImage::Synthetic(kLogMaxSlots - 500, Utc(2024, 4, 1), 3001, 13), 70003, false},
                      {sim::LogImage::Synthetic(kLogMaxSlots - 500, Utc(2024, 4, 1), 3001, 13), 70003, true}};
    // Two thousand segments of one second: "_2" up to "_2000", as the oracle names them.
    sim::LogImage sameSecond;
    for (int i = 0; i < 2000; ++i) sameSecond.Record(Fix(Utc(2024, 5, 1))).SegmentMarker();
    for (const Run& run : {runs[0], runs[1], runs[2], Run{sameSecond, 0, false}}) {
        LogDecoder decoder([] { return kNow; });
        TempFolder out;
        Host host;
        Decode(decoder, run.log.BuildWrapped(kLogSectorCount, run.wrap), run.force);
        EXPECT_EQ(decoder.WrapFound(), run.wrap != 0);
        decoder.WriteTrlFiles(out.Folder(), "Taro", true, host);
        const Files expected = Expected(run.log, "Taro", 0, true);
        EXPECT_EQ(ReadFolder(out.path), expected) << run.wrap << run.force;
        EXPECT_EQ(host.lines.size(), expected.size());
        EXPECT_GT(decoder.SegmentMarkerCount(), run.wrap == 0 ? 1999 : 0);
    }
    ClearChosenZone();
}

TEST(LogDecoderTest, NamesStayInTheFolderAndFailuresAreReported) {
    SetChosenZoneOffset(0);
    sim::LogImage log;
    log.Record(Fix(Utc(2024, 6, 1, 12))).SegmentMarker().Waypoint(Fix(Utc(2024, 6, 1, 13)));
    LogDecoder decoder([] { return kNow; });
    Decode(decoder, log.Build(1));
    TempFolder outer;
    const std::string in = outer.Folder() + "in/";
    fs::create_directories(in + "___x____L-731_Waypoints.trl");  // a folder where the waypoint file goes
    Host host;
    decoder.WriteTrlFiles(outer.Folder() + "in", "../x/..", true, host);  // the '/' is added
    const std::string seg1 = in + "___x____L-731_Start_20240601-120000_Finish_20240601-120000";
    const std::string seg2 = in + "___x____L-731_Start_20240601-130000_Finish_20240601-130000";
    const std::string total = in + "___x____L-731_Total_Start_20240601-120000_Finish_20240601-130000";
    EXPECT_EQ(host.lines, (std::vector<std::string>{" " + seg1 + ".trl", " " + seg2 + ".trl", " " + total + ".trl",
                                                    " " + in + "___x____L-731_Waypoints.trl could not be written"}));
    EXPECT_TRUE(ReadFolder(outer.path).empty());
    host.lines.clear();
    host.ok = false;
    decoder.ConvertTrlToKmlUnicode(host, "/photos");
    EXPECT_EQ(host.calls, (std::vector<std::string>{"photo " + seg1 + ".trl " + seg1 + ".kml /photos",
                                                    "photo " + seg2 + ".trl " + seg2 + ".kml /photos",
                                                    "photo " + total + ".trl " + total + ".kml /photos"}));
    EXPECT_EQ(host.lines.back(), " " + total + ".kml could not be written");

    Host missing;  // a folder that does not exist: every file reported, none named, none converted
    decoder.WriteTrlFiles(outer.Folder() + "missing/", "", true, missing);
    EXPECT_EQ(missing.lines.size(), 4u);
    EXPECT_TRUE(missing.lines[2].ends_with("_L-731_Total_Start_20240601-120000_Finish_20240601-130000.trl could not be written"));
    EXPECT_EQ(decoder.SegmentFileNames(), std::vector<std::string>(2));
    decoder.ConvertTrlToKml(missing);
    EXPECT_TRUE(missing.calls.empty());
    ClearChosenZone();
}

TEST(HexPairsTest, TwoCharactersPerByte) {
    std::uint8_t out[4] = {};
    EXPECT_EQ(HexPairsToBytes("4A0bfF", out), 3u);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 3), (std::vector<std::uint8_t>{0x4A, 0x0B, 0xFF}));
    EXPECT_EQ(HexPairsToBytes("123", out), 1u);  // stops where the text ends
    EXPECT_EQ(HexPairsToBytes("aabbccddeeff", out), 4u);
}

}  // namespace
