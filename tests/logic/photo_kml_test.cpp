// The photo KML of a track and a photo folder: UTF-16 with its mark,
// well-formed for xmllint (as written and after iconv to UTF-8), the
// placemarks, styles and descriptions of the matched photos, GPS copies with
// the refused and failed ones listed, paths that cannot break the document.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "ExifPhotoBuilder.h"
#include "ToolRun.h"
#include "export/PhotoKml.h"
#include "support/ProcessZone.h"
#include "support/StdioFileEx.h"
#include "tracklog/TrackLogRecord.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kT0 = 1212797100;  // Sat Jun 07 09:05:00 2008 at UTC+9

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
        lines.push_back(text.substr(at, end - at));
    }
    return lines;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

class PhotoKmlTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetChosenZoneOffset(9 * 3600);
        dir_ = fs::temp_directory_path() / ("pellora-kml-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "photos");
    }
    void TearDown() override {
        ClearChosenZone();
        fs::remove_all(dir_);
    }
    void Photo(const std::string& name, const std::string& make, const std::string& time) {
        ExifPhotoSpec spec;
        spec.make = make;
        spec.dateTimeOriginal = time;
        WriteBytes(dir_ / "photos" / name, BuildExifPhoto(spec));
    }
    // Records in file order; a record with a wrong checksum and a trailing
    // fragment of 10 bytes are added.
    std::string Track(const std::vector<TrackLogRecord>& records) {
        const fs::path path = dir_ / "track.trl";
        std::ofstream out(path, std::ios::binary);
        for (std::size_t i = 0; i < records.size(); ++i) {
            auto bytes = EncodeTrackLogRecord(records[i]);
            out.write(reinterpret_cast<const char*>(bytes.data()), 16);
            if (i == 0) {
                bytes[15] ^= 0x55;
                out.write(reinterpret_cast<const char*>(bytes.data()), 16);
            }
        }
        out.write("0123456789", 10);
        return path.string();
    }
    std::string PhotoPath(const std::string& name) const { return (dir_ / "photos" / name).string(); }
    fs::path dir_;
};

TEST_F(PhotoKmlTest, DocumentWithPhotosAndGpsCopies) {
    Photo("a.jpg", "Canon", "2008:06:07 09:05:03");       // point 0 (first)
    Photo("b.jpg", "SONY", "2008:06:07 09:05:33");        // point 2
    Photo("c.jpg", "NIKON", "2008:06:07 09:05:40");       // point 2, maker refused
    Photo("p]]>\"q'&<.jpg", "Canon", "2008:06:07 09:06:02");  // point 1
    Photo("late.jpg", "Canon", "2008:06:07 10:00:00");    // after the last point
    ExifPhotoSpec noIfd1;
    noIfd1.dateTimeOriginal = "2008:06:07 09:06:04";      // point 1, copy fails
    noIfd1.ifd1 = false;
    WriteBytes(dir_ / "photos" / "d.jpg", BuildExifPhoto(noIfd1));
    // File order is not time order: 0, +60, +30, +90.
    const std::string track = Track({{kT0, 22.5f, 120.25f, 12.5f},
                                     {kT0 + 60, 22.6f, 120.3f, 13.0f},
                                     {kT0 + 30, 22.55f, 120.28f, 12.75f},
                                     {kT0 + 90, 22.7f, 120.4f, 14.0f}});
    PhotoLinkState state;
    state.photoFolder = (dir_ / "photos").string();
    const fs::path kml = dir_ / "out.kml";
    {
        CStdioFileEx file(kml.string(), CStdioFile::modeCreate | CStdioFile::modeWrite |
                                            CStdioFile::typeText | CStdioFileEx::modeWriteUnicode);
        WritePhotoKml(state, track, file, true);
        EXPECT_FALSE(file.IsOpen());
    }
    ASSERT_EQ(state.PointCount(), 4u);
    EXPECT_EQ(state.pointNames[0], "Sat Jun 07 09:05:00 2008");

    const std::vector<std::uint8_t> bytes = ReadBytes(kml.string());
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    EXPECT_EQ(bytes[2], '<');
    EXPECT_EQ(bytes[3], 0);

    // The same text as the in-memory document.
    PhotoLinkState again;
    again.photoFolder = state.photoFolder;
    const std::string text = BuildPhotoKml(again, track, false);
    std::u16string wide;
    CStdioFileEx::MultiByteToUnicode(text, wide, 65001);
    ASSERT_EQ(bytes.size(), 2 + 2 * wide.size());

    const auto lines = SplitLines(text);
    ASSERT_GT(lines.size(), 160u);
    EXPECT_EQ(lines[0], "<?xml version=\"1.0\" encoding=\"UTF-16\"?>");
    EXPECT_EQ(lines[2], "<Document>");
    EXPECT_EQ(lines[3], "<Style id=\"normalState_TLP_Start\">");
    EXPECT_EQ(lines[102], "<Style id=\"normalState_TLP_Photo\">");
    EXPECT_EQ(lines[135], "<Style id=\"roadStyle\">");
    EXPECT_EQ(lines[150],
              "120.2500000,22.5000000,12.50 120.3000031,22.6000004,13.00 "
              "120.2799988,22.5499992,12.75 120.4000015,22.7000008,14.00 </coordinates>");
    EXPECT_EQ(Count(text, "<Placemark>"), 5u);
    EXPECT_EQ(Count(text, "Photo Matched:"), 3u);
    EXPECT_EQ(Count(text, "<img "), 5u);
    EXPECT_EQ(Count(text, "Original Time: "), 0u);
    EXPECT_NE(text.find("<name>\r\nSat Jun 07 09:05:30 2008\r\n</name>"), std::string::npos);
    EXPECT_NE(text.find("<styleUrl>\r\n#styleMap_TLP_Start\r\n</styleUrl>"), std::string::npos);
    EXPECT_EQ(Count(text, "#styleMap_TLP_Photo\r\n"), 2u);
    EXPECT_EQ(Count(text, "#styleMap_TLP_Finish\r\n"), 1u);
    // Two photos of one point: one description, the earlier capture first.
    const std::string both = "<p>Sat Jun 07 09:05:33 2008</p>\r\n<p><img width=\"400\" height=\"300\" src=\"" +
                             PhotoPath("b.jpg") + "\"></p>\r\n<p>Sat Jun 07 09:05:40 2008</p>";
    EXPECT_NE(text.find(both), std::string::npos);
    EXPECT_NE(text.find("src=\"" + (dir_ / "photos").string() + "/p]]&gt;&quot;q&#39;&amp;&lt;.jpg\""),
              std::string::npos);

    // GPS copies: made for Canon and SONY, the refused and the failed ones listed.
    EXPECT_TRUE(fs::exists(dir_ / "photos" / "GPS" / "a_GPS.jpg"));
    EXPECT_TRUE(fs::exists(dir_ / "photos" / "GPS" / "b_GPS.jpg"));
    EXPECT_TRUE(fs::exists(dir_ / "photos" / "GPS" / "p]]>\"q'&<_GPS.jpg"));
    EXPECT_FALSE(fs::exists(dir_ / "photos" / "GPS" / "c_GPS.jpg"));
    EXPECT_FALSE(fs::exists(dir_ / "photos" / "GPS" / "d_GPS.jpg"));
    EXPECT_FALSE(fs::exists(dir_ / "photos" / "GPS" / "late_GPS.jpg"));
    const auto& list = state.photoList;
    EXPECT_NE(std::find(list.begin(), list.end(), PhotoPath("c.jpg")), list.end());
    EXPECT_NE(std::find(list.begin(), list.end(),
                        PhotoPath("d.jpg") + ";EXIF layout not supported: no IFD1."),
              list.end());
    EXPECT_TRUE(state.gpsWriteOk);

    if (!HaveTool("xmllint") || !HaveTool("iconv")) {
        GTEST_SKIP() << "xmllint or iconv absent";
    }
    const auto direct = RunCommand("xmllint --noout " + ShellQuote(kml.string()));
    EXPECT_EQ(direct.first, 0) << direct.second;
    const auto converted = RunCommand("iconv -f UTF-16 -t UTF-8 " + ShellQuote(kml.string()) +
                                      " | sed '1s/UTF-16/UTF-8/' | xmllint --noout -");
    EXPECT_EQ(converted.first, 0) << converted.second;
    const auto placemarks = RunCommand(
        "xmllint --xpath 'count(//*[local-name()=\"Placemark\"])' " + ShellQuote(kml.string()));
    EXPECT_EQ(placemarks.second, "5\n");
}

TEST_F(PhotoKmlTest, CalibrationSinglePointAndEmptyTrack) {
    Photo("a.jpg", "Canon", "2008:06:07 09:05:03");
    // A calibration of +5 s: three paragraphs per photo.
    const std::string track = Track({{kT0, 22.5f, 120.25f, 12.5f}, {kT0 + 60, 22.6f, 120.3f, 13.0f}});
    PhotoLinkState state;
    state.photoFolder = (dir_ / "photos").string();
    state.calibrationSeconds = 5;
    std::string text = BuildPhotoKml(state, track, false);
    EXPECT_NE(text.find("<p>Original Time: Sat Jun 07 09:05:03 2008</p>\r\n"
                        "<p>Adjustment Time: Sat Jun 07 09:05:08 2008</p>\r\n"),
              std::string::npos);

    // One valid point takes the start style, its photo's description too.
    const std::string single = Track({{kT0 + 2, 22.5f, 120.25f, 12.5f}});
    state.calibrationSeconds = 0;
    state.trackPoints.clear();
    text = BuildPhotoKml(state, single, false);
    EXPECT_EQ(Count(text, "<Placemark>"), 2u);
    EXPECT_EQ(Count(text, "Photo Matched:"), 0u);  // a photo at or after the last point is unmatched
    EXPECT_NE(text.find("#styleMap_TLP_Start\r\n"), std::string::npos);

    // No readable source: a whole document without points.
    text = BuildPhotoKml(state, (dir_ / "missing.trl").string(), false);
    EXPECT_NE(text.find("<coordinates>\r\n</coordinates>"), std::string::npos);
    EXPECT_EQ(Count(text, "<Placemark>"), 1u);
    EXPECT_NE(text.find("<name>waypoints</name>\r\n</Folder>\r\n</Document>\r\n</kml>\r\n"),
              std::string::npos);

    // Written whole and renamed into place.
    EXPECT_TRUE(WritePhotoKmlFile(state, track, (dir_ / "atomic.kml").string(), false));
    const auto bytes = ReadBytes((dir_ / "atomic.kml").string());
    EXPECT_EQ(bytes.size() % 2, 0u);
    EXPECT_EQ(bytes[0], 0xFF);
}

}  // namespace
