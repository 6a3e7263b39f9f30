// The track file writers and the format page's Convert: the worked lines,
// golden outputs of the small tracks in tests/data/tracks/ for each caller
// (one runner), the zone rule, and the conversion's refusals.
//
// PELLORA_UPDATE_GOLDEN=1 writes the outputs over the golden files instead of
// comparing (review the diff before committing it).
#include <gtest/gtest.h>

#include <unistd.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "export/TimeZoneRule.h"
#include "export/TrackText.h"
#include "export/TrackConversion.h"
#include "export/TrackWriters.h"
#include "support/ProcessZone.h"

namespace fs = std::filesystem;
using namespace track_writers;

namespace {

const fs::path kTracks = fs::path(PELLORA_TEST_DATA_DIR) / "tracks";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

fs::path FreshDir(const std::string& name) {
    const fs::path dir = fs::temp_directory_path() / ("pellora-" + name + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

const TrackLogRecord kWorked{1165809600u, 24.75f, 121.5f, 127.5f};  // 2006-12-11 04:00:00Z

}  // namespace

TEST(TrackWritersTest, WorkedLinesAndNumberForms) {
    zone_rule::ApplyZone(8);
    std::string text;
    WriteText({&kWorked, 1}, kFormatPageLineEnd, text);
    EXPECT_EQ(text, "121.5000000,24.7500000,127.50,Mon Dec 11 12:00:00 2006\r\n");
    text.clear();
    WriteText({&kWorked, 1}, kUploadLineEnd, text);
    EXPECT_EQ(text, "121.5000000,24.7500000,127.50,Mon Dec 11 12:00:00 2006\n");

    std::string nmea;
    ASSERT_TRUE(FormatGprmc(nmea, 121.5f, 24.75f, 1165809600u));
    EXPECT_EQ(nmea, "$GPRMC,040000,A,2445.000000,N,12130.000000,E,0,0,111206,,*1a\r\n");
    nmea.clear();
    ASSERT_TRUE(FormatGprmc(nmea, 5.25f, -12.1f, 1165809600u));
    EXPECT_NE(nmea.find(",A,1206.000023,S,515.000000,E,"), std::string::npos) << nmea;
    nmea.clear();
    ASSERT_TRUE(FormatGprmc(nmea, -0.5f, -0.5f, 1165809600u));
    EXPECT_NE(nmea.find(",A,030.000000,S,030.000000,W,"), std::string::npos) << nmea;
    EXPECT_FALSE(FormatGprmc(nmea, 0.0f, 0.0f, 0x80000000u));
    EXPECT_FALSE(FormatGprmc(nmea, 0.0f, 91.0f, 0));

    // A checksum below 0x10 keeps its leading 0, in lower case.
    int i = 0;
    for (; i < 100000; ++i) {
        nmea.clear();
        FormatGprmc(nmea, static_cast<float>(i % 359 - 179), static_cast<float>(i % 179 - 89), 1165809600u + i);
        if (NmeaChecksum(nmea) == 0x0A) break;
    }
    ASSERT_LT(i, 100000);
    EXPECT_EQ(nmea.substr(nmea.size() - 5), "*0a\r\n");

    // Heights: the three stored bytes are the float's upper bytes.
    const TrackLogRecordBytes zeroHeight = EncodeTrackLogRecord({1165809600u, 1.0f, 2.0f, 0.0f});
    text.clear();
    WriteText(ReadTrackRecords(zeroHeight), LineEnd::Lf, text);
    EXPECT_EQ(text.substr(0, 25), "2.0000000,1.0000000,0.00,");
}

// The hand-made number and time texts against the C library's printf and
// gmtime_r, over many floats and instants.
TEST(TrackWritersTest, NumberAndTimeTextsMatchTheCLibrary) {
    std::uint32_t state = 12345;
    auto next = [&] { return state = state * 1664525u + 1013904223u; };
    char ours[80];
    char theirs[400];
    for (int i = 0; i < 200000; ++i) {
        const std::uint32_t bits = next();
        float v = std::bit_cast<float>(bits);
        if (!std::isfinite(v)) continue;
        if (i % 2 == 0) v = static_cast<float>(static_cast<std::int32_t>(bits) % 36000000) / 100000.0f;
        if (i % 7 == 0) v = static_cast<float>(static_cast<std::int32_t>(bits) % 4000) * 0.125f;  // ties
        const int precision = (i % 3 == 0) ? 7 : (i % 3 == 1 ? 6 : 2);
        const char* end = track_text::PutFixed(ours, v, precision);
        const std::string text(static_cast<const char*>(ours), end);
        std::snprintf(theirs, sizeof theirs, "%.*f", precision, static_cast<double>(v));
        ASSERT_EQ(text, theirs) << std::hexfloat << v;
    }
    for (std::int64_t t : {-86400LL * 366, -1LL, 0LL, 951782400LL, 4102444800LL, 2147483647LL + 13 * 3600}) {
        for (int k = 0; k < 2000; ++k, t += 86399 * 17 + k) {
            const track_text::CivilTime c = track_text::CivilFromSeconds(t);
            std::tm tm{};
            const std::time_t tt = static_cast<std::time_t>(t);
            gmtime_r(&tt, &tm);
            ASSERT_EQ(c.year, tm.tm_year + 1900L) << t;
            ASSERT_EQ(c.month, tm.tm_mon + 1) << t;
            ASSERT_EQ(c.day, tm.tm_mday) << t;
            ASSERT_EQ(c.weekday, tm.tm_wday) << t;
            ASSERT_EQ(c.hour * 3600 + c.minute * 60 + c.second, tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec);
        }
    }
}

TEST(TrackWritersTest, OutputNames) {
    EXPECT_EQ(MakeOutputFileName("a_b.trl", 0), "a_b.txt");
    EXPECT_EQ(MakeOutputFileName("a_b.trl", 1), "a_b.kml");
    EXPECT_EQ(MakeOutputFileName("a_b.trl", 2), "a_bNMEA.txt");
    EXPECT_EQ(MakeOutputFileName("/x/a.b.trl", 3), "/x/a.b.gpx");
    EXPECT_EQ(MakeOutputFileName("a_b.trl", 4), "");
    EXPECT_EQ(MakeOutputFileName("/x.d/track", 1), "");  // the "." is the folder's
    EXPECT_EQ(MakeOutputFileName(".trl", 1), "");
    EXPECT_EQ(ReverseFindChar("a.b.c", '.', 4), 3u);
    EXPECT_EQ(ReverseFindChar(".abc", '.', 3), 3u);  // index 0 is not examined
    EXPECT_EQ(ConvertOutputName("/a/t.trl", TrackFormat::Nmea), "/a/tNMEA.txt");
    EXPECT_EQ(ConvertOutputName("/a/b/x", TrackFormat::Text), "");
    EXPECT_EQ(HexToInt("0x1aF"), 0x1AFu);
    std::array<std::uint8_t, 16> record{};
    for (std::uint8_t i = 0; i < 16; ++i) record[i] = i;
    ReverseRecordByteOrder(record);
    EXPECT_EQ(record[0], 3);
    EXPECT_EQ(record[15], 12);
}

// One runner over the golden files: each track converted as each caller
// converts it, compared byte for byte with tests/data/tracks/<caller>/.
struct GoldenCase {
    const char* track;     // tests/data/tracks/<track>.trl
    const char* caller;    // page (Convert), upload (text and KML, LF), segment (KML after an upload)
    const char* expected;  // stem of the golden files
};

void PrintTo(const GoldenCase& c, std::ostream* os) { *os << c.track << "_" << c.caller; }

class TrackGoldenTest : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(TrackGoldenTest, OutputsMatch) {
    const GoldenCase c = GetParam();
    const fs::path dir = FreshDir(std::string("golden-") + c.track + "-" + c.caller);
    const fs::path source = dir / (std::string(c.track) + ".trl");
    fs::copy_file(kTracks / source.filename(), source);
    const std::string caller = c.caller;
    std::vector<std::pair<std::string, std::string>> outputs;  // golden name, bytes
    if (caller == "page") {
        const ConvertResult result = ConvertTrackLog(source.string(), {true, true, true, true}, 5);  // +8
        ASSERT_TRUE(result.AllWritten());
        for (const TrackFormatInfo& info : kTrackFormats) {
            const std::string golden = std::string(c.expected) + std::string(info.convertSuffix);
            outputs.emplace_back(golden, ReadFile(result.Output(info.format).path));
        }
    } else if (caller == "segment") {
        zone_rule::ApplyZone(8);
        const fs::path kml = dir / (std::string(c.track) + ".kml");
        ASSERT_EQ(WriteTrackFile(source, kml, TrackFormat::Kml, kSegmentKmlLineEnd), OutputStatus::Written);
        EXPECT_EQ(WriteTrackFile(source, source, TrackFormat::Kml, kSegmentKmlLineEnd), OutputStatus::SameAsSource);
        outputs.emplace_back(std::string(c.expected) + ".kml", ReadFile(kml));
    } else {
        zone_rule::ApplyZone(8);
        std::FILE* in = std::fopen(source.c_str(), "rb");
        ASSERT_NE(in, nullptr);
        const LineEnd eol = kUploadLineEnd;
        for (const TrackFormat format : {TrackFormat::Text, TrackFormat::Kml}) {
            std::FILE* out = std::tmpfile();
            ASSERT_TRUE(format == TrackFormat::Text ? WriteText(in, out, eol) : WriteKml(in, out, eol));
            std::string bytes(static_cast<std::size_t>(std::ftell(out)), '\0');
            std::rewind(out);
            ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), out), bytes.size());
            std::fclose(out);
            outputs.emplace_back(MakeOutputFileName(std::string(c.expected) + ".trl", static_cast<int>(format)),
                                 bytes);
        }
        std::fclose(in);
    }
    EXPECT_EQ(ReadFile(source), ReadFile(kTracks / source.filename()));  // the source is untouched
    for (const auto& [name, bytes] : outputs) {
        const fs::path golden = kTracks / caller / name;
        if (std::getenv("PELLORA_UPDATE_GOLDEN") != nullptr) {
            fs::create_directories(golden.parent_path());
            std::ofstream(golden, std::ios::binary) << bytes;
        }
        EXPECT_EQ(bytes, ReadFile(golden)) << golden;
        EXPECT_EQ(bytes.find("nan"), std::string::npos) << golden;
    }
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Tracks, TrackGoldenTest,
                         ::testing::Values(GoldenCase{"small", "page", "small"},
                                           GoldenCase{"small", "upload", "small"},
                                           GoldenCase{"small", "segment", "small"},
                                           GoldenCase{"one", "page", "one"},
                                           GoldenCase{"empty", "page", "empty"},
                                           GoldenCase{"badxor", "page", "empty"},
                                           GoldenCase{"empty", "upload", "empty"}),
                         [](const auto& info) {
                             return std::string(info.param.track) + "_" + info.param.caller;
                         });

TEST(TimeZoneRuleTest, RowsDefaultsAndApplying) {
    EXPECT_EQ(zone_rule::RowLabel(0), "+13");
    EXPECT_EQ(zone_rule::RowLabel(13), "0");
    EXPECT_EQ(zone_rule::RowLabel(25), "-12");
    EXPECT_EQ(zone_rule::RowLabel(26), "");
    EXPECT_EQ(zone_rule::RowOfZone(-12), 25);
    EXPECT_FALSE(zone_rule::RowOfZone(14).has_value());
    struct { long offset; const char* label; int row; } cases[] = {
        {8 * 3600, "+8", 5}, {-5 * 3600, "-5", 18}, {5 * 3600 + 45 * 60, "+5", 8},
        {-(3 * 3600 + 1800), "-3", 16}, {0, "0", 13}};  // UTC selects row 13
    for (const auto& c : cases) {
        const zone_rule::DefaultZone zone = zone_rule::ChooseDefaultZone(false, "", c.offset);
        EXPECT_EQ(zone.label, c.label);
        EXPECT_EQ(zone.row, c.row) << c.label;
        EXPECT_EQ(zone.zone, zone_rule::ZoneOfRow(c.row));
    }
    const zone_rule::DefaultZone saved = zone_rule::ChooseDefaultZone(true, "-10", 3600);
    EXPECT_EQ(saved.row, 23);
    EXPECT_EQ(zone_rule::ChooseDefaultZone(false, "", 14 * 3600).zone, 14);  // no row: combo unchanged

    const char* tzBefore = std::getenv("TZ");
    const std::string tz = tzBefore ? tzBefore : "(unset)";
    std::tm tm{};
    testing::internal::CaptureStdout();
    ASSERT_TRUE(zone_rule::ApplyZoneRow(0));
    ASSERT_TRUE(ToLocalTime(1165809600, tm));
    EXPECT_EQ(tm.tm_hour, 17);
    ASSERT_TRUE(zone_rule::ApplyZoneRow(25));
    ASSERT_TRUE(ToLocalTime(1165809600, tm));
    EXPECT_EQ(tm.tm_hour, 16);
    EXPECT_EQ(tm.tm_mday, 10);
    EXPECT_FALSE(zone_rule::ApplyZoneRow(26));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "_daylight = 0\n_timezone = -46800\n_tzname[0] = TMP\n"
                                                      "_daylight = 0\n_timezone = 43200\n_tzname[0] = TMP\n");
    const char* tzAfter = std::getenv("TZ");
    EXPECT_EQ(tzAfter ? tzAfter : "(unset)", tz);
}

TEST(TrackConversionTest, RefusesWhatWouldLoseDataAndReportsEachFormat) {
    const fs::path dir = FreshDir("convert");
    const std::string trl = ReadFile(kTracks / "small.trl");

    // Nothing chosen: the zone is set, nothing is opened or written.
    EXPECT_TRUE(ConvertTrackLog((dir / "missing.trl").string(), {}, 12).AllWritten());
    EXPECT_TRUE(fs::is_empty(dir));
    EXPECT_EQ(ConvertTrackLog("", {true, true, true, true}, 13).source, SourceStatus::NoSource);

    // A source named like an output: that output is skipped, the others written.
    std::ofstream(dir / "t.txt", std::ios::binary) << trl;
    fs::create_directory(dir / "t.gpx");                       // cannot be created
    fs::create_symlink(dir / "t.txt", dir / "t.kml");          // another name of the source
    ConvertResult r = ConvertTrackLog((dir / "t.txt").string(), {true, true, true, true}, 13);
    EXPECT_EQ(r.source, SourceStatus::Read);
    EXPECT_EQ(r.records, 7);
    EXPECT_EQ(r.Output(TrackFormat::Text).status, OutputStatus::SameAsSource);
    EXPECT_EQ(r.Output(TrackFormat::Kml).status, OutputStatus::SameAsSource);
    EXPECT_EQ(r.Output(TrackFormat::Nmea).status, OutputStatus::Written);
    EXPECT_EQ(r.Output(TrackFormat::Nmea).points, 4);
    EXPECT_EQ(r.Output(TrackFormat::Gpx).status, OutputStatus::CannotCreate);
    EXPECT_FALSE(r.AllWritten());
    EXPECT_EQ(ReadFile(dir / "t.txt"), trl);
    EXPECT_NE(FormatMessage(TrackFormat::Gpx, r.Output(TrackFormat::Gpx), r).find("t.gpx"), std::string::npos);
    EXPECT_EQ(FormatMessage(TrackFormat::Nmea, r.Output(TrackFormat::Nmea), r), "");

    // A missing source and a name too short to replace four characters.
    r = ConvertTrackLog((dir / "none.trl").string(), {true, false, false, false}, 13);
    EXPECT_EQ(r.source, SourceStatus::Unreadable);
    EXPECT_EQ(r.Output(TrackFormat::Text).status, OutputStatus::NotWrittenSourceFailed);
    ::mkfifo((dir / "pipe.trl").c_str(), 0600);  // refused, never waited on
    r = ConvertTrackLog((dir / "pipe.trl").string(), {true, false, false, false}, 13);
    EXPECT_NE(FormatMessage(TrackFormat::Text, r.Output(TrackFormat::Text), r).find("(not a regular file)"), std::string::npos);
    r = ConvertTrackLog((dir / "abc").string(), {true, false, false, false}, 13);
    EXPECT_EQ(r.source, SourceStatus::NameTooShort);
    EXPECT_FALSE(fs::exists(dir / ".txt"));
    fs::remove_all(dir);
}
