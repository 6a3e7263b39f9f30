// The photo KML of a track and a photo folder against its golden document
// (tests/data/photos/photo-track.kml, the folder written as @DIR@, lines
// ending in CR LF in the file written): UTF-16 with its mark, well-formed for
// xmllint as written and after iconv to UTF-8, GPS copies made for Canon and
// SONY photos, the refused and the failed ones listed.
//
// The track, in file order (one record with a bad checksum and a 10-byte
// fragment are skipped): points at +0, +60, +30 and +90 s from Sat Jun 07
// 09:05:00 2008 (UTC+9). Photos: a (+3 s, point 0, the start), b SONY and
// c NIKON (+33 and +40 s, both point 2), d (+64 s, point 1, no IFD1, so no
// copy), a name with ]]> and quotes (+62 s, point 1), late (after the last
// point, unmatched).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "PhotoFiles.h"
#include "export/GpsTagWriter.h"
#include "export/PhotoKml.h"
#include "support/ProcessZone.h"
#include "support/StdioFileEx.h"
#include "tracklog/TrackLogRecord.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kT0 = 1212797100;

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

class PhotoKmlTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetChosenZoneOffset(9 * 3600);
        dir_ = fs::temp_directory_path() / ("pellora-kml-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "photos");
        state_.photoFolder = (dir_ / "photos").string();
    }
    void TearDown() override {
        ClearChosenZone();
        fs::remove_all(dir_);
    }
    void Photo(const std::string& name, const std::string& reference, const std::string& time) {
        WriteBytes((dir_ / "photos" / name).string(), PhotoWithTime(reference, time));
    }
    std::string Track(const std::vector<TrackLogRecord>& records) {
        const fs::path path = dir_ / "track.trl";
        std::ofstream out(path, std::ios::binary);
        for (const TrackLogRecord& record : records) {
            auto bytes = EncodeTrackLogRecord(record);
            out.write(reinterpret_cast<const char*>(bytes.data()), 16);
            bytes[15] ^= 0x55;
            out.write(reinterpret_cast<const char*>(bytes.data()), record.utcTime == kT0 ? 16 : 0);
        }
        out.write("0123456789", 10);
        return path.string();
    }
    fs::path dir_;
    PhotoLinkState state_;
};

TEST_F(PhotoKmlTest, GoldenDocumentAndGpsCopies) {
    Photo("a.jpg", "built-canon-ii.jpg", "2008:06:07 09:05:03");
    Photo("b.jpg", "built-sony-ii.jpg", "2008:06:07 09:05:33");
    Photo("c.jpg", "built-nikon.jpg", "2008:06:07 09:05:40");
    Photo("d.jpg", "built-no-ifd1.jpg", "2008:06:07 09:06:04");
    Photo("p]]>\"q'&<.jpg", "built-canon-ii.jpg", "2008:06:07 09:06:02");
    Photo("late.jpg", "built-canon-ii.jpg", "2008:06:07 10:00:00");
    const std::string track = Track({{kT0, 22.5f, 120.25f, 12.5f}, {kT0 + 60, 22.6f, 120.3f, 13.0f},
                                     {kT0 + 30, 22.55f, 120.28f, 12.75f}, {kT0 + 90, 22.7f, 120.4f, 14.0f}});
    const std::string kml = (dir_ / "out.kml").string();
    {
        CStdioFileEx file(kml, CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFile::typeText |
                                   CStdioFileEx::modeWriteUnicode);
        WritePhotoKml(state_, track, file, true);
        EXPECT_FALSE(file.IsOpen());
    }
    const std::vector<std::uint8_t> bytes = ReadBytes(kml);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 4),
              (std::vector<std::uint8_t>{0xFF, 0xFE, '<', 0}));
    std::u16string wide(bytes.size() / 2 - 1, u'\0');
    for (std::size_t i = 0; i < wide.size(); ++i) {
        wide[i] = static_cast<char16_t>(bytes[2 + 2 * i] | bytes[3 + 2 * i] << 8);
    }
    std::string text;
    CStdioFileEx::UnicodeToMultiByte(wide, text, 65001);
    EXPECT_EQ(Replace(text, "\r\n", "").find_first_of("\r\n"), std::string::npos) << "lines end in CR LF";
    const std::string actual = Replace(Replace(text, "\r\n", "\n"), (dir_ / "photos").string(), "@DIR@");
    const auto golden = ReadBytes(PhotoData("photo-track.kml"));
    EXPECT_EQ(actual, std::string(golden.begin(), golden.end()));
    if (HasFailure()) WriteBytes(PELLORA_BUILD_DIR "/photo-track.kml", {actual.begin(), actual.end()});  // to review

    const auto copies = [&](const char* name) { return fs::exists(dir_ / "photos" / "GPS" / name); };
    EXPECT_TRUE(copies("a_GPS.jpg") && copies("b_GPS.jpg") && copies("p]]>\"q'&<_GPS.jpg"));
    EXPECT_FALSE(copies("c_GPS.jpg") || copies("d_GPS.jpg") || copies("late_GPS.jpg"));
    const std::string photos = (dir_ / "photos/").string();
    const std::vector<std::string> tail(state_.photoList.end() - 2, state_.photoList.end());
    EXPECT_EQ(tail, (std::vector<std::string>{photos + "d.jpg;EXIF layout not supported: no IFD1.", photos + "c.jpg"}));
    EXPECT_TRUE(state_.gpsWriteOk);

    if (!HaveTool("xmllint") || !HaveTool("iconv")) GTEST_SKIP() << "xmllint or iconv absent";
    const auto direct = RunCommand("xmllint --noout " + ShellQuote(kml));
    EXPECT_EQ(direct.first, 0) << direct.second;
    const auto converted = RunCommand("iconv -f UTF-16 -t UTF-8 " + ShellQuote(kml) +
                                      " | sed '1s/UTF-16/UTF-8/' | xmllint --xpath "
                                      "'count(//*[local-name()=\"Placemark\"])' -");
    EXPECT_EQ(converted, (std::pair<int, std::string>{0, "5\n"}));
}

TEST_F(PhotoKmlTest, CalibrationSinglePointNoTrack) {
    Photo("a.jpg", "built-canon-ii.jpg", "2008:06:07 09:05:03");
    const std::string track = Track({{kT0, 22.5f, 120.25f, 12.5f}, {kT0 + 60, 22.6f, 120.3f, 13.0f}});
    state_.calibrationSeconds = 5;  // three paragraphs a photo
    std::string text = BuildPhotoKml(state_, track, false);
    EXPECT_NE(text.find("\r\n<p>Original Time: Sat Jun 07 09:05:03 2008</p>\r\n"
                        "<p>Adjustment Time: Sat Jun 07 09:05:08 2008</p>\r\n<p><img "),
              std::string::npos);
    // One point: the start style.
    state_.calibrationSeconds = 0;
    text = BuildPhotoKml(state_, Track({{kT0 + 2, 22.5f, 120.25f, 12.5f}}), false);
    EXPECT_NE(text.find("2008\r\n</name>\r\n<styleUrl>\r\n#styleMap_TLP_Start\r\n"), std::string::npos);
    // Records the track writers skip (NaN, infinity, off the globe, 2^31 s) are no points.
    text = BuildPhotoKml(state_, Track({{kT0 + 1, __builtin_nanf(""), 1, 1}, {kT0 + 1, 1, __builtin_inff(), 1},
                                        {kT0 + 1, 1, 180.5f, 1}, {0x80000000u, 1, 1, 1}, {kT0 + 2, 22.5f, 120, 12}}),
                         false);
    EXPECT_EQ(state_.trackPoints.size() + text.find("nan") + text.find("inf"), 1 + 2 * std::string::npos);
    ::mkfifo((dir_ / "pipe.trl").c_str(), 0600);  // refused, never waited on, no points
    EXPECT_EQ(BuildPhotoKml(state_, (dir_ / "pipe.trl").string(), false), BuildPhotoKml(state_, "", false));
    // No readable source: a whole document without points.
    text = BuildPhotoKml(state_, (dir_ / "missing.trl").string(), false);
    EXPECT_NE(text.find("<coordinates>\r\n</coordinates>\r\n</LineString>\r\n</MultiGeometry>\r\n</Placemark>\r\n"
                        "<Folder>\r\n<name>waypoints</name>\r\n</Folder>\r\n</Document>\r\n</kml>\r\n"),
              std::string::npos);
    EXPECT_TRUE(WritePhotoKmlFile(state_, track, (dir_ / "atomic.kml").string(), false));
    EXPECT_EQ(ReadBytes((dir_ / "atomic.kml").string()).size(), 2 + 2 * BuildPhotoKml(state_, track, false).size());
}

// Two photos whose names differ only in the case of ".jpg" share one copy
// name: the first keeps its copy, the second is listed, not written over it.
TEST_F(PhotoKmlTest, OneCopyNameTwoPhotos) {
    Photo("e.JPG", "built-canon-ii.jpg", "2008:06:07 09:05:03");
    Photo("e.jpg", "built-sony-ii.jpg", "2008:06:07 09:05:33");
    BuildPhotoKml(state_, Track({{kT0, 22.5f, 120.25f, 12.5f}, {kT0 + 60, 22.6f, 120.3f, 13.0f}}), true);
    EXPECT_EQ(state_.photoList.back(), (dir_ / "photos/e.jpg;").string() + kCopyNameTakenText);
    std::int64_t time = 0;
    int failed = 1;
    std::string message;
    ReadExifDateTime((dir_ / "photos/GPS/e_GPS.jpg").string(), time, failed, message);
    EXPECT_EQ(time, kT0 + 3);
}

}  // namespace
