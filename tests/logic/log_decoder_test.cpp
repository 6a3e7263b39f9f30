// The log memory decoder on images built by the simulator: slot kinds,
// segment markers, the year window, wrapped logs, waypoints, file names and
// files that cannot be written. The image's own ground truth is the oracle.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "LogDecodeHelpers.h"
#include "sim/LogImage.h"
#include "support/AtomicFile.h"
#include "support/ProcessZone.h"
#include "tracklog/LogDecoder.h"

namespace fs = std::filesystem;
using testsupport::ReadFolder;

namespace {

std::uint32_t Utc(int y, unsigned m, unsigned d, int h = 0, int mi = 0, int s = 0) {
    namespace c = std::chrono;
    const c::sys_days date{c::year{y} / c::month{m} / c::day{d}};
    return static_cast<std::uint32_t>(date.time_since_epoch() / c::seconds(1) + h * 3600 + mi * 60 + s);
}

const std::uint32_t kNow = Utc(2025, 7, 1);  // the PC clock of every test: year 2025
sim::LogFix Fix(std::uint32_t t) { return {t, 35.5f, 139.25f, 100.0f}; }

class LogDecoderTest : public ::testing::Test {
protected:
    void SetUp() override { SetChosenZoneOffset(0); }
    void TearDown() override { ClearChosenZone(); }

    // Decodes the image, writes the .trl files and expects exactly the files
    // the image says, byte for byte.
    void ExpectFilesOf(const sim::LogImage& log, const std::vector<std::uint8_t>& image, bool total = true,
                       bool forceRebuild = false) {
        testsupport::DecodeImage(decoder, image, forceRebuild);
        decoder.WriteTrlFiles(folder.Path(), "Taro", total, host);
        std::map<std::string, std::vector<std::uint8_t>> expected;
        std::vector<std::string> lines;
        for (const auto& f : log.ExpectedFiles("Taro", 0, total)) {
            expected[f.name] = f.bytes;
            lines.push_back(" " + folder.Path() + f.name);
        }
        EXPECT_EQ(ReadFolder(folder.Path()), expected);
        EXPECT_EQ(host.lines, lines);
    }

    LogDecoder decoder{[] { return static_cast<std::int64_t>(kNow); }};
    testsupport::RecordingTrlHost host;
    testsupport::TempFolder folder;
};

TEST(LogImageTest, FramesTheWorkedVector) {
    // 2024-06-01 12:00:00Z, 35.5, 139.25, 100.0
    const sim::LogImage::Slot expected = {0x40, 0x0D, 0x5B, 0x66, 0x00, 0x00, 0x0E, 0x42,
                                          0x00, 0x40, 0x0B, 0x43, 0x00, 0xC8, 0x42, 0xBE};
    EXPECT_EQ(sim::LogImage::Frame(Fix(Utc(2024, 6, 1, 12))), expected);
}

TEST_F(LogDecoderTest, EachSlotKind) {
    sim::LogImage log;
    log.Record(Fix(Utc(2024, 6, 1, 10)))
        .Separator()
        .Separator(0x00)
        .Empty()
        .BadChecksum(Fix(Utc(2024, 6, 1, 10, 1)))
        .Dropped(Fix(Utc(2019, 6, 1)))
        .SegmentMarker()
        .Waypoint(Fix(Utc(2024, 6, 1, 10, 2)))
        .Record(Fix(Utc(2024, 6, 1, 10, 3)));
    const std::vector<std::uint8_t> image = log.Build(2);  // the second sector is empty
    testsupport::DecodeImage(decoder, image);
    EXPECT_EQ(decoder.ValidRecordCount(), 3);
    EXPECT_EQ(decoder.SegmentMarkerCount(), 1);
    EXPECT_EQ(decoder.SegmentCount(), 2);
    EXPECT_EQ(decoder.WaypointCount(), 1);
    EXPECT_FALSE(decoder.WrapFound());
    EXPECT_EQ(decoder.CurrentTime(), static_cast<std::int32_t>(Utc(2024, 6, 1, 10, 3)));
    EXPECT_EQ(decoder.PreviousTime(), static_cast<std::int32_t>(Utc(2024, 6, 1, 10, 2)));
    EXPECT_EQ(decoder.StoredKinds(), (std::vector<std::uint8_t>{LogDecoder::kTrackRecord, LogDecoder::kSegmentMarker,
                                                                LogDecoder::kWaypointRecord,
                                                                LogDecoder::kTrackRecord}));

    // Compacting keeps every slot but separators and empty ones, in order;
    // the raw file keeps what is neither all 0xFF nor all 0x00.
    std::vector<std::uint8_t> packed(kLogSectorSize, 0xEE), kept;
    for (std::size_t i = 0; i < log.SlotCount(); ++i) {
        if (i < 1 || i > 3) {
            kept.insert(kept.end(), log.Slots()[i].begin(), log.Slots()[i].end());
        }
    }
    EXPECT_EQ(LogDecoder::CompactSector(LogSector(image.data(), kLogSectorSize), PackedSector(packed)), kept.size());
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), packed.begin()));
    EXPECT_TRUE(std::all_of(packed.begin() + static_cast<std::ptrdiff_t>(kept.size()), packed.end(),
                            [](std::uint8_t b) { return b == 0; }));
    packed[kept.size() + 32] = 0x11;  // a stray slot after a zero slot is written too
    {
        AtomicFile raw;
        ASSERT_TRUE(raw.Open(folder.Path() + "raw.trl"));
        EXPECT_TRUE(WriteSectorRaw(std::span<const std::uint8_t, kLogSectorSize>(packed.data(), kLogSectorSize), raw));
        ASSERT_TRUE(raw.Commit());
        kept.resize(kept.size() + 16, 0);
        kept.back() = 0;
        kept[kept.size() - 16] = 0x11;
        EXPECT_EQ(ReadFolder(folder.Path()).at("raw.trl"), kept);
        AtomicFile closed;
        EXPECT_FALSE(WriteSectorRaw(std::span<const std::uint8_t, kLogSectorSize>(packed.data(), kLogSectorSize), closed));
    }

    // An empty sector leaves every counter as it was.
    LogDecoder one{[] { return static_cast<std::int64_t>(kNow); }};
    testsupport::DecodeImage(one, log.Build(1));
    EXPECT_EQ(one.StoredRecords(), decoder.StoredRecords());
    EXPECT_EQ(one.ValidRecordCount(), decoder.ValidRecordCount());
    EXPECT_EQ(one.SegmentMarkerCount(), decoder.SegmentMarkerCount());
    EXPECT_EQ(one.WaypointCount(), decoder.WaypointCount());
}

TEST_F(LogDecoderTest, WaypointMarkerEdges) {
    sim::LogImage log;
    log.Record(Fix(Utc(2024, 6, 1, 9)))
        .WaypointMarker()
        .BadChecksum(Fix(Utc(2024, 6, 1, 9, 1)))  // the next valid record is the waypoint
        .Record(Fix(Utc(2024, 6, 1, 9, 2)))
        .WaypointMarker()
        .SegmentMarker()  // judged as a record, not a marker
        .Record(Fix(Utc(2024, 6, 1, 9, 3)))
        .Record(Fix(Utc(2024, 6, 1, 9, 4)));
    while (log.SlotCount() < sim::LogImage::kSlotsPerSector - 1) {
        log.Empty();
    }
    log.Waypoint(Fix(Utc(2024, 6, 1, 9, 5)))  // the marker on the last slot of sector 0
        .Record(Fix(Utc(2024, 6, 1, 9, 6)));
    ExpectFilesOf(log, log.Build(2));
    EXPECT_EQ(decoder.SegmentMarkerCount(), 0);
    EXPECT_EQ(decoder.WaypointCount(), 3);
    EXPECT_EQ(decoder.StoredKinds(),
              (std::vector<std::uint8_t>{LogDecoder::kTrackRecord, LogDecoder::kWaypointRecord,
                                         LogDecoder::kWaypointRecord, LogDecoder::kTrackRecord,
                                         LogDecoder::kWaypointRecord, LogDecoder::kTrackRecord}));
}

TEST_F(LogDecoderTest, MarkersLeadingTrailingAndAdjacent) {
    sim::LogImage log;
    log.SegmentMarker();
    for (int i = 0; i < 3; ++i) {
        log.Record(Fix(Utc(2024, 6, 1, 8, i)));
    }
    log.SegmentMarker().SegmentMarker();
    log.Record(Fix(Utc(2024, 6, 1, 9))).Record(Fix(Utc(2024, 6, 1, 9, 30))).SegmentMarker();
    ExpectFilesOf(log, log.Build(1));
    ASSERT_EQ(decoder.SegmentFileNames().size(), 5u);
    EXPECT_EQ(decoder.SegmentFileNames()[0], "");
    EXPECT_EQ(decoder.SegmentFileNames()[1], folder.Path() + "Taro_L-731_Start_20240601-080000_Finish_20240601-080200");
    EXPECT_EQ(decoder.SegmentFileNames()[2], "");
    EXPECT_EQ(decoder.SegmentFileNames()[3], folder.Path() + "Taro_L-731_Start_20240601-090000_Finish_20240601-093000");
    EXPECT_EQ(decoder.SegmentFileNames()[4], "");
    EXPECT_EQ(host.shown, 1);
}

TEST_F(LogDecoderTest, YearWindowOfThreeYearsInLocalTime) {
    struct Case {
        const char* what;
        std::uint32_t t;
        long zone;
        bool kept;
    };
    const Case cases[] = {
        {"three years before", Utc(2022, 1, 1), 0, true},
        {"four years before", Utc(2021, 12, 31, 23, 59, 59), 0, false},
        {"four years before in UTC, three in local time", Utc(2021, 12, 31, 23), 2 * 3600, true},
        {"three years before in UTC, four in local time", Utc(2022, 1, 1, 1), -2 * 3600, false},
        {"three years after", Utc(2028, 12, 31, 23, 59, 59), 0, true},
        {"four years after", Utc(2029, 1, 1), 0, false},
        {"three years after in UTC, four in local time", Utc(2028, 12, 31, 23), 2 * 3600, false},
        {"negative as signed 32-bit", 0x80000000u, 0, false},
        {"zero", 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetChosenZoneOffset(c.zone);
        EXPECT_EQ(LogDecoder::RecordValid(sim::LogImage::Frame(Fix(c.t)), 2025), c.kept);
        sim::LogImage log;
        log.Record(Fix(c.t));
        testsupport::DecodeImage(decoder, log.Build(1));
        EXPECT_EQ(decoder.ValidRecordCount(), c.kept ? 1 : 0);
    }
    // The clock decides the window: in 2026 the same record is four years old.
    LogDecoder later{[] { return static_cast<std::int64_t>(Utc(2026, 1, 1)); }};
    sim::LogImage log;
    log.Record(Fix(Utc(2022, 6, 1)));
    testsupport::DecodeImage(later, log.Build(1));
    EXPECT_EQ(later.ValidRecordCount(), 0);

    // Near every year boundary the window gives what the local year gives.
    for (long zone = -12; zone <= 14; zone += 2) {
        SetChosenZoneOffset(zone * 3600);
        for (int y : {2022, 2029}) {
            for (std::int64_t t = Utc(y, 1, 1) - 30 * 3600; t < Utc(y, 1, 1) + 30 * 3600; t += 1800) {
                std::tm tm{};
                ASSERT_TRUE(ToLocalTime(t, tm));
                const bool inside = tm.tm_year + 1900 >= 2022 && tm.tm_year + 1900 <= 2028;
                ASSERT_EQ(LogDecoder::RecordValid(sim::LogImage::Frame(Fix(static_cast<std::uint32_t>(t))), 2025),
                          inside)
                    << "zone " << zone << " t " << t;
            }
        }
    }
}

TEST_F(LogDecoderTest, WrappedLogInChronologicalOrder) {
    sim::LogImage small;
    for (int h : {9, 10}) {
        small.Record(Fix(Utc(2024, 6, 1, h))).Record(Fix(Utc(2024, 6, 1, h, 1)));
    }
    // Memory order 10:00, 10:01, 09:00, 09:01.
    testsupport::DecodeImage(decoder, small.BuildWrapped(1, sim::LogImage::kSlotsPerSector - 2));
    EXPECT_TRUE(decoder.WrapFound());
    EXPECT_EQ(decoder.WrapStartIndex(), 2);
    EXPECT_EQ(decoder.WrapEndIndex(), 1);
    std::vector<std::uint32_t> times;
    for (const TrackLogRecordBytes& r : decoder.OrderedRecords()) {
        times.push_back(DecodeTrackLogRecord(r).utcTime);
    }
    EXPECT_EQ(times, (std::vector<std::uint32_t>{Utc(2024, 6, 1, 9), Utc(2024, 6, 1, 9, 1), Utc(2024, 6, 1, 10),
                                                 Utc(2024, 6, 1, 10, 1)}));
}

// Round trips: the written files hold exactly the image's segments, for full
// images in memory order and wrapped, asking for the ordered table after
// every sector or only at the end; more segments than 10,000 names.
TEST_F(LogDecoderTest, RoundTripOfFullImages) {
    const sim::LogImage log = sim::LogImage::Synthetic(kLogMaxSlots - 7, Utc(2024, 3, 1), 10, 7);
    ExpectFilesOf(log, log.Build(kLogSectorCount));
    EXPECT_GT(decoder.SegmentMarkerCount(), 10000);
    EXPECT_EQ(decoder.StoredRecordCount(), static_cast<int>(decoder.OrderedRecords().size()));

    for (const bool force : {false, true}) {
        SCOPED_TRACE(force ? "rebuilt after every sector" : "rebuilt once");
        const sim::LogImage wrapped = sim::LogImage::Synthetic(kLogMaxSlots - 500, Utc(2024, 4, 1), 3001, 13);
        testsupport::TempFolder other;
        testsupport::RecordingTrlHost otherHost;
        testsupport::DecodeImage(decoder, wrapped.BuildWrapped(kLogSectorCount, 70003), force);
        EXPECT_TRUE(decoder.WrapFound());
        decoder.WriteTrlFiles(other.Path(), "Taro", true, otherHost);
        std::map<std::string, std::vector<std::uint8_t>> expected;
        for (const auto& f : wrapped.ExpectedFiles("Taro", 0, true)) {
            expected[f.name] = f.bytes;
        }
        EXPECT_EQ(ReadFolder(other.Path()), expected);
    }
}

TEST_F(LogDecoderTest, FileNamesInThePinnedZone) {
    SetChosenZoneOffset(9 * 3600);
    sim::LogImage log;
    log.Record(Fix(Utc(2024, 6, 1, 12)))
        .Record(Fix(Utc(2024, 6, 1, 12, 5)))
        .SegmentMarker()
        .Waypoint(Fix(Utc(2024, 6, 1, 13)))
        .Record(Fix(Utc(2024, 6, 1, 13, 10)));
    testsupport::DecodeImage(decoder, log.Build(1));
    decoder.WriteTrlFiles(folder.Path(), "Taro", true, host);
    const std::vector<std::string> names = {"Taro_L-731_Start_20240601-210000_Finish_20240601-210500.trl",
                                            "Taro_L-731_Start_20240601-220000_Finish_20240601-221000.trl",
                                            "Taro_L-731_Total_Start_20240601-210000_Finish_20240601-221000.trl",
                                            "Taro_L-731_Waypoints.trl"};
    std::vector<std::string> lines;
    for (const std::string& n : names) {
        lines.push_back(" " + folder.Path() + n);
    }
    EXPECT_EQ(host.lines, lines);
    const auto files = ReadFolder(folder.Path());
    ASSERT_EQ(files.size(), 4u);
    const auto bytesOf = [&](std::size_t slot) {
        return std::vector<std::uint8_t>(log.Slots()[slot].begin(), log.Slots()[slot].end());
    };
    EXPECT_EQ(files.at(names[1]), bytesOf(5));  // the waypoint went only to the waypoint file
    EXPECT_EQ(files.at(names[3]), bytesOf(4));
    EXPECT_EQ(files.at(names[2]).size(), 48u);

    // No waypoint marker: no waypoint file and no line for it; no records:
    // the total file with empty times; an empty user name.
    sim::LogImage none;
    none.BadChecksum(Fix(Utc(2024, 6, 1)));
    testsupport::DecodeImage(decoder, none.Build(1));
    testsupport::TempFolder empty;
    testsupport::RecordingTrlHost emptyHost;
    decoder.WriteTrlFiles(empty.Path(), "", true, emptyHost);
    EXPECT_EQ(emptyHost.lines, std::vector<std::string>{" " + empty.Path() + "_L-731_Total_Start__Finish_.trl"});
    EXPECT_EQ(ReadFolder(empty.Path()).at("_L-731_Total_Start__Finish_.trl").size(), 0u);
}

TEST_F(LogDecoderTest, NamesStayInTheFolderAndNeverCollide) {
    sim::LogImage log;
    const std::uint32_t t = Utc(2024, 6, 1, 12);
    log.Record(Fix(t)).SegmentMarker().Record({t, 1.0f, 2.0f, 3.0f}).SegmentMarker().Record({t, 4.0f, 5.0f, 6.0f});
    ExpectFilesOf(log, log.Build(1), false);  // "..._Finish_X", "..._Finish_X_2", "..._Finish_X_3"
    ASSERT_EQ(ReadFolder(folder.Path()).count("Taro_L-731_Start_20240601-120000_Finish_20240601-120000_3.trl"), 1u);

    testsupport::TempFolder outer;
    const std::string inner = outer.Path() + "inner/";
    fs::create_directories(inner);
    testsupport::RecordingTrlHost h;
    decoder.WriteTrlFiles(inner, "../x/..", true, h);
    EXPECT_EQ(ReadFolder(outer.Path()).size(), 0u);
    EXPECT_EQ(ReadFolder(inner).count("___x____L-731_Total_Start_20240601-120000_Finish_20240601-120000.trl"), 1u);
    EXPECT_EQ(ReadFolder(inner).size(), 4u);
}

TEST_F(LogDecoderTest, UnwritableFilesAreReportedAndSkipped) {
    sim::LogImage log;
    log.Record(Fix(Utc(2024, 6, 1, 12))).SegmentMarker().Waypoint(Fix(Utc(2024, 6, 1, 13)));
    testsupport::DecodeImage(decoder, log.Build(1));
    // A folder standing where the waypoint file goes.
    fs::create_directories(folder.Path() + "Taro_L-731_Waypoints.trl");
    decoder.WriteTrlFiles(folder.Path(), "Taro", true, host);
    const std::string seg1 = folder.Path() + "Taro_L-731_Start_20240601-120000_Finish_20240601-120000";
    const std::string seg2 = folder.Path() + "Taro_L-731_Start_20240601-130000_Finish_20240601-130000";
    const std::string total = folder.Path() + "Taro_L-731_Total_Start_20240601-120000_Finish_20240601-130000";
    EXPECT_EQ(host.lines, (std::vector<std::string>{
                              " " + seg1 + ".trl", " " + seg2 + ".trl", " " + total + ".trl",
                              " " + folder.Path() + "Taro_L-731_Waypoints.trl could not be written"}));
    EXPECT_EQ(decoder.WaypointFileName(), "");

    host.lines.clear();
    decoder.ConvertTrlToKml(host);
    EXPECT_EQ(host.calls, (std::vector<std::string>{"kml " + seg1 + ".trl " + seg1 + ".kml",
                                                    "kml " + seg2 + ".trl " + seg2 + ".kml",
                                                    "kml " + total + ".trl " + total + ".kml"}));
    EXPECT_EQ(host.lines, (std::vector<std::string>{" " + seg1 + ".kml", " " + seg2 + ".kml", " " + total + ".kml"}));
    host.calls.clear();
    host.lines.clear();
    host.failConversion = true;
    decoder.ConvertTrlToKmlUnicode(host, "/photos");
    EXPECT_EQ(host.calls.front(), "photo " + seg1 + ".trl " + seg1 + ".kml /photos");
    EXPECT_EQ(host.lines.back(), " " + total + ".kml could not be written");

    // A folder that does not exist: every file is reported, none named.
    testsupport::RecordingTrlHost missing;
    decoder.WriteTrlFiles(folder.Path() + "missing/", "Taro", true, missing);
    EXPECT_EQ(missing.lines.size(), 4u);
    for (const std::string& line : missing.lines) {
        EXPECT_TRUE(line.ends_with(" could not be written")) << line;
    }
    EXPECT_EQ(decoder.SegmentFileNames(), std::vector<std::string>(2));
    EXPECT_EQ(decoder.TotalFileName(), "");
    missing.lines.clear();
    decoder.ConvertTrlToKml(missing);
    EXPECT_TRUE(missing.calls.empty());
}

TEST(HexPairsTest, TwoCharactersPerByte) {
    std::uint8_t out[4] = {};
    EXPECT_EQ(HexPairsToBytes("4A0bfF", out), 3u);
    EXPECT_EQ(out[0], 0x4A);
    EXPECT_EQ(out[1], 0x0B);
    EXPECT_EQ(out[2], 0xFF);
    EXPECT_EQ(HexPairsToBytes("123", std::span<std::uint8_t>(out, 4)), 1u);  // stops where the text ends
    EXPECT_EQ(HexPairsToBytes("aabbccddee", std::span<std::uint8_t>(out, 2)), 2u);
}

}  // namespace
