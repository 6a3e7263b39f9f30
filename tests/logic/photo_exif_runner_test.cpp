// One runner over the reference photos of tests/data/photos/cases.txt: each
// photo's capture time, then its GPS copy, checked by exiftool and exiv2
// (skipped with a message when they are absent): no new warning or error,
// the point's position, height, date and time as written, every other tag,
// the MakerNote and the thumbnail unchanged, the photo itself untouched.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "ExifPhotoBuilder.h"
#include "ToolRun.h"
#include "export/ExifDateTime.h"
#include "export/GpsTagWriter.h"
#include "support/ProcessZone.h"

namespace fs = std::filesystem;

namespace {

struct PhotoCase {
    std::string photo;
    std::string capture;
    PhotoTrackPoint point;
    std::string copy;
    std::vector<std::string> exiv2;  // expected raw GPS values
};

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(' ');
    const auto e = s.find_last_not_of(' ');
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

std::vector<PhotoCase> LoadCases() {
    std::ifstream in(PELLORA_TEST_DATA_DIR "/photos/cases.txt");
    std::vector<PhotoCase> cases;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> cols;
        std::stringstream ss(line);
        for (std::string col; std::getline(ss, col, '|');) {
            cols.push_back(Trim(col));
        }
        PhotoCase c;
        c.photo = cols.at(0);
        c.capture = cols.at(1);
        std::istringstream point(cols.at(2));
        point >> c.point.latitude >> c.point.longitude >> c.point.height >> c.point.utcTime;
        c.copy = cols.at(3);
        c.exiv2.assign(cols.begin() + 4, cols.end());
        cases.push_back(c);
    }
    return cases;
}

ExifPhotoSpec BuilderSpec(const std::string& kind) {
    ExifPhotoSpec s;
    const std::map<std::string, void (*)(ExifPhotoSpec&)> kinds = {
        {"canon-ii", [](ExifPhotoSpec&) {}},
        {"canon-mm", [](ExifPhotoSpec& s) { s.littleEndian = false; }},
        {"sony-ii", [](ExifPhotoSpec& s) { s.make = "SONY"; }},
        {"sony-mm", [](ExifPhotoSpec& s) { s.make = "SONY"; s.littleEndian = false; }},
        {"canon-jfif", [](ExifPhotoSpec& s) { s.jfifFirst = true; }},
        {"sony-odd-ifd1", [](ExifPhotoSpec& s) { s.make = "SONY"; s.oddIfd1 = true; }},
        {"canon-ifd0-gap", [](ExifPhotoSpec& s) { s.ifd0Gap = 6; }},
        {"date-2040", [](ExifPhotoSpec& s) { s.dateTimeOriginal = "2040:02:29 12:00:00"; }},
        {"zero-date", [](ExifPhotoSpec& s) { s.dateTimeOriginal = "0000:00:00 00:00:00"; }},
        {"nikon", [](ExifPhotoSpec& s) { s.make = "NIKON CORPORATION"; s.makerNote = false; }},
        {"no-make", [](ExifPhotoSpec& s) { s.make.clear(); s.makerNote = false; }},
        {"no-ifd1", [](ExifPhotoSpec& s) { s.ifd1 = false; }},
        {"gps-present", [](ExifPhotoSpec& s) { s.gpsIfd = true; }},
        {"too-long", [](ExifPhotoSpec& s) { s.descriptionSize = 64700; }},
        {"offset-outside", [](ExifPhotoSpec& s) { s.offsetOutside = true; }},
        {"app2-first", [](ExifPhotoSpec& s) { s.app2First = true; }},
        {"no-exif-ifd", [](ExifPhotoSpec& s) { s.exifIfd = false; }},
        {"no-date", [](ExifPhotoSpec& s) { s.dateTimeOriginal.clear(); }},
        {"truncated", [](ExifPhotoSpec&) {}},
    };
    kinds.at(kind)(s);
    return s;
}

std::set<std::string> Lines(const std::string& text) {
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.insert(line);
    }
    return lines;
}

std::string Quote(const fs::path& p) { return ShellQuote(p.string()); }

// exiftool's dump without what the copy is meant to change: the GPS group,
// what describes the file, the composites and the moved thumbnail offset.
std::set<std::string> TagDump(const fs::path& photo) {
    std::set<std::string> kept;
    for (const std::string& line :
         Lines(RunCommand("exiftool -a -u -G1 -s -n -e -x ThumbnailOffset " + Quote(photo)).second)) {
        if (line.rfind("[GPS]", 0) == 0 || line.rfind("[System]", 0) == 0 ||
            line.rfind("[File]", 0) == 0 || line.rfind("[ExifTool]", 0) == 0 ||
            line.rfind("[Composite]", 0) == 0) {
            continue;
        }
        kept.insert(line);
    }
    return kept;
}

std::set<std::string> Missing(const std::set<std::string>& from, const std::set<std::string>& in) {
    std::set<std::string> missing;
    for (const auto& line : from) {
        if (!in.count(line)) {
            missing.insert(line);
        }
    }
    return missing;
}

std::string Join(const std::set<std::string>& lines) {
    std::string all;
    for (const auto& line : lines) {
        all += line + "\n";
    }
    return all;
}

double Degrees(const std::string& rationals) {
    double d, m, s, dd, md, sd;
    char slash;
    std::istringstream in(rationals);
    in >> d >> slash >> dd >> m >> slash >> md >> s >> slash >> sd;
    return d / dd + m / md / 60 + s / sd / 3600;
}

class PhotoRunner : public ::testing::Test {
protected:
    void SetUp() override {
        SetChosenZoneOffset(9 * 3600);
        dir_ = fs::temp_directory_path() / ("pellora-photos-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        ClearChosenZone();
        fs::remove_all(dir_);
    }
    fs::path dir_;
};

TEST_F(PhotoRunner, CaptureTimesAndGpsCopies) {
    const bool tools = HaveTool("exiftool") && HaveTool("exiv2");
    if (!tools) {
        std::printf("exiftool or exiv2 absent: the copies are checked without them\n");
    }
    const ExifTimeTexts texts{"T387", "T388"};
    const auto cases = LoadCases();
    ASSERT_GE(cases.size(), 20u);
    for (const PhotoCase& c : cases) {
        SCOPED_TRACE(c.photo);
        const bool built = c.photo.rfind("builder:", 0) == 0;
        const std::string name = built ? c.photo.substr(8) + ".JPG" : c.photo;
        const fs::path photo = dir_ / name;
        std::vector<std::uint8_t> bytes =
            built ? BuildExifPhoto(BuilderSpec(c.photo.substr(8)))
                  : ReadBytes(PELLORA_TEST_DATA_DIR "/photos/" + c.photo);
        if (c.photo == "builder:truncated") {
            bytes.resize(200);
        }
        WriteBytes(photo, bytes);

        std::int64_t captureTime = -1;
        int failed = -1;
        std::string message = "x";
        ReadExifDateTime(photo, captureTime, failed, message, texts);
        if (c.capture.rfind("fail ", 0) == 0) {
            EXPECT_EQ(failed, 1);
            EXPECT_EQ(message, c.capture.substr(5));
            EXPECT_EQ(captureTime, 0);
        } else {
            EXPECT_EQ(failed, 0) << message;
            EXPECT_EQ(message, "");
            EXPECT_EQ(captureTime, std::stoll(c.capture));
        }

        bool gpsWriteOk = true;
        WriteGpsToPhoto(photo, c.point, failed, message, gpsWriteOk);
        const fs::path copy = dir_ / "GPS" / (name.substr(0, name.size() - 4) + "_GPS.jpg");
        EXPECT_EQ(ReadBytes(photo), bytes) << "the photo itself changed";
        if (c.copy != "written") {
            EXPECT_FALSE(fs::exists(dir_ / "GPS")) << "a refusal or failure leaves no GPS folder";
            EXPECT_EQ(gpsWriteOk, c.copy != "refused");
            EXPECT_EQ(failed, c.copy == "refused" ? 0 : 1);
            EXPECT_EQ(message, c.copy == "refused" ? "" : c.copy.substr(7));
            continue;
        }
        EXPECT_EQ(failed, 0) << message;
        EXPECT_TRUE(gpsWriteOk);
        ASSERT_TRUE(fs::exists(copy));
        const bool odd = c.photo == "builder:sony-odd-ifd1";
        EXPECT_EQ(fs::file_size(copy), bytes.size() + (odd ? 220 : 218));
        std::int64_t copyTime = -1;
        ReadExifDateTime(copy, copyTime, failed, message, texts);
        EXPECT_EQ(message, c.capture.rfind("fail ", 0) == 0 ? c.capture.substr(5) : "");

        if (tools) {
            // No warning or error that the photo itself does not give.
            const auto validate = [](const fs::path& p) {
                return Lines(RunCommand("exiftool -validate -warning -error -a -s " + Quote(p)).second);
            };
            auto copyWarnings = Missing(validate(copy), validate(photo));
            copyWarnings.erase("    1 image files read");
            EXPECT_EQ(Join(copyWarnings), "") << "new exiftool warnings";
            const auto exiv2Photo = RunCommand("exiv2 -q -pa " + Quote(photo));
            const auto exiv2Copy = RunCommand("exiv2 -q -pa " + Quote(copy));
            EXPECT_EQ(exiv2Copy.first, 0) << exiv2Copy.second;
            EXPECT_EQ(exiv2Photo.first, exiv2Copy.first);
            // The point's values as exiv2 reads them.
            const auto gps = RunCommand(
                "exiv2 -q -Pv -g Exif.GPSInfo.GPSVersionID -g Exif.GPSInfo.GPSLatitudeRef "
                "-g Exif.GPSInfo.GPSLatitude -g Exif.GPSInfo.GPSLongitudeRef "
                "-g Exif.GPSInfo.GPSLongitude -g Exif.GPSInfo.GPSAltitudeRef "
                "-g Exif.GPSInfo.GPSAltitude -g Exif.GPSInfo.GPSTimeStamp "
                "-g Exif.GPSInfo.GPSDateStamp " + Quote(copy));
            const std::string lat = c.exiv2.at(0), lon = c.exiv2.at(1), alt = c.exiv2.at(2);
            const std::string dateTime = c.exiv2.at(3);
            const std::string expected = "2 2 0 0\n" + lat.substr(0, 1) + "\n" + lat.substr(2) + "\n" +
                                         lon.substr(0, 1) + "\n" + lon.substr(2) + "\n" +
                                         alt.substr(0, 1) + "\n" + alt.substr(2) + "\n" +
                                         dateTime.substr(11) + "\n" + dateTime.substr(0, 10) + "\n";
            EXPECT_EQ(gps.second, expected);
            // The same point as exiftool reads it.
            const auto tool = RunCommand("exiftool -n -s3 -GPSLatitude -GPSLongitude -GPSAltitude "
                                  "-GPSDateStamp -GPSLatitudeRef -GPSLongitudeRef -GPSAltitudeRef " +
                                  Quote(copy));
            std::istringstream read(tool.second);
            double toolLat = 0, toolLon = 0, toolAlt = 0;
            std::string toolDate, latRef, lonRef, altRef;
            read >> toolLat >> toolLon >> toolAlt >> toolDate >> latRef >> lonRef >> altRef;
            EXPECT_NEAR(std::fabs(toolLat), Degrees(lat.substr(2)), 1e-7) << tool.second;
            EXPECT_NEAR(std::fabs(toolLon), Degrees(lon.substr(2)), 1e-7);
            EXPECT_NEAR(std::fabs(toolAlt), std::stod(alt.substr(2)) / 100, 1e-9);
            EXPECT_EQ(toolDate, dateTime.substr(0, 10));
            EXPECT_EQ(latRef + lonRef + altRef, lat.substr(0, 1) + lon.substr(0, 1) + alt.substr(0, 1));
            // Every other tag, the MakerNote's among them, unchanged; the
            // thumbnail byte for byte.
            const auto before = TagDump(photo);
            const auto after = TagDump(copy);
            EXPECT_EQ(Join(Missing(before, after)) + "--\n" + Join(Missing(after, before)), "--\n");
            EXPECT_EQ(RunCommand("exiftool -q -q -b -ThumbnailImage " + Quote(copy)).second,
                      RunCommand("exiftool -q -q -b -ThumbnailImage " + Quote(photo)).second);
            EXPECT_FALSE(RunCommand("exiftool -q -q -b -ThumbnailImage " + Quote(photo)).second.empty());
        }
        fs::remove_all(dir_ / "GPS");
    }
}

}  // namespace

namespace {

TEST(GpsTagValues, WorkedExamples) {
    std::array<int, 3> lat{}, lon{};
    DegreesToDms(22.5f, 120.25f, lat, lon);
    EXPECT_EQ(lat, (std::array<int, 3>{22, 30, 0}));
    EXPECT_EQ(lon, (std::array<int, 3>{120, 15, 0}));
    DegreesToDms(-33.8f, -0.0, lat, lon);
    EXPECT_EQ(lat, (std::array<int, 3>{33, 47, 5999}));  // never rounded up, never negative
    EXPECT_EQ(lon, (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(HeightCentimetres(12.345f), 1235u);
    EXPECT_EQ(HeightCentimetres(12.344f), 1234u);
    EXPECT_EQ(HeightCentimetres(-5.5f), 550u);
    EXPECT_EQ(exif::TiffValueSize(5, 3), 24u);
    EXPECT_EQ(exif::TiffValueSize(99, 7), 7u);
    EXPECT_EQ(exif::TiffValueSize(12, 0xFFFFFFFFu), 8ull * 0xFFFFFFFFu);
    EXPECT_EQ(GpsCopyPath("/d/a/DSC01234.JPG"), "/d/a/GPS/DSC01234_GPS.jpg");
}

TEST_F(PhotoRunner, NoCopyThroughAFileOrLinkNamedGps) {
    const fs::path photo = dir_ / "IMG_0001.JPG";
    WriteBytes(photo, BuildExifPhoto({}));
    const PhotoTrackPoint point{120.25f, 22.5f, 12.5f, 1212797103u};
    int failed = 0;
    std::string message;
    bool ok = true;
    fs::create_directories(dir_ / "elsewhere");
    for (int round = 0; round < 2; ++round) {
        if (round == 0) {
            WriteBytes(dir_ / "GPS", {1, 2, 3});
        } else {
            fs::remove(dir_ / "GPS");
            fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "GPS");
        }
        WriteGpsToPhoto(photo.string(), point, failed, message, ok);
        EXPECT_EQ(failed, 1);
        EXPECT_EQ(message, kCopyWriteText);
        EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere"));
    }
    const PhotoTrackPoint nowhere{0.0f, 91.0f, 0.0f, 0u};
    fs::remove(dir_ / "GPS");
    WriteGpsToPhoto(photo.string(), nowhere, failed, message, ok);
    EXPECT_EQ(message, kBadPositionText);
    EXPECT_FALSE(fs::exists(dir_ / "GPS"));
}

}  // namespace
