// One runner over the reference photos of tests/data/photos/cases.txt: each
// photo's capture time, then its GPS copy, checked by exiftool and exiv2
// (without them only our own checks run, with a message): no new warning or
// error, the point's position, height, date and time, every other tag, the
// MakerNote and the thumbnail unchanged, the photo itself untouched.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "PhotoFiles.h"
#include "export/ExifDateTime.h"
#include "export/GpsTagWriter.h"
#include "support/ProcessZone.h"

namespace fs = std::filesystem;

namespace {

struct PhotoCase {
    std::string photo, capture, copy;
    PhotoTrackPoint point;
    std::vector<std::string> exiv2;  // latitude, longitude, altitude, date and time
};

std::vector<PhotoCase> LoadCases() {
    std::ifstream in(PhotoData("cases.txt"));
    std::vector<PhotoCase> cases;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::vector<std::string> cols;
        std::stringstream ss(line);
        for (std::string col; std::getline(ss, col, '|');) {
            cols.push_back(col.substr(col.find_first_not_of(' '), col.find_last_not_of(' ') - col.find_first_not_of(' ') + 1));
        }
        PhotoCase c{cols.at(0), cols.at(1), cols.at(3), {}, {cols.begin() + 4, cols.end()}};
        std::istringstream(cols.at(2)) >> c.point.latitude >> c.point.longitude >> c.point.height >> c.point.utcTime;
        cases.push_back(c);
    }
    return cases;
}

std::set<std::string> Lines(const std::string& text, const std::vector<std::string>& skipped = {}) {
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        bool skip = false;
        for (const auto& prefix : skipped) {
            skip = skip || line.rfind(prefix, 0) == 0;
        }
        if (!skip) {
            lines.insert(line);
        }
    }
    return lines;
}

// Lines of `after` that `before` lacks.
std::string Added(const std::set<std::string>& before, const std::set<std::string>& after) {
    std::string added;
    for (const auto& line : after) {
        added += before.count(line) ? "" : line + "\n";
    }
    return added;
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
    // The tools' view of source and copy: what must not change, what must.
    void CheckWithTools(const PhotoCase& c, const std::string& photo, const std::string& copy) {
        const auto validate = [](const std::string& p) {
            return Lines(RunCommand("exiftool -validate -warning -error -a -s " + ShellQuote(p)).second);
        };
        EXPECT_EQ(Added(validate(photo), validate(copy)), "") << "new exiftool warnings";
        const auto exiv2Photo = RunCommand("exiv2 -pa " + ShellQuote(photo));
        const auto exiv2Copy = RunCommand("exiv2 -pa " + ShellQuote(copy));
        EXPECT_EQ(exiv2Copy.first, 0) << exiv2Copy.second;
        EXPECT_EQ(Added(Lines(exiv2Photo.second), Lines(exiv2Copy.second, {"Exif.GPSInfo.", "Exif.Image.GPSTag", "Exif.Thumbnail.JPEGInterchangeFormat ", "Exif.Image.ExifTag", "Exif.Photo.InteroperabilityTag", "Exif.MakerNote.Offset", "Exif.Photo.MakerNote "})), "");
        std::string keys;
        for (const char* k : {"VersionID", "LatitudeRef", "Latitude", "LongitudeRef", "Longitude",
                              "AltitudeRef", "Altitude", "TimeStamp", "DateStamp"}) {
            keys += std::string(" -g Exif.GPSInfo.GPS") + k;
        }
        const std::string lat = c.exiv2.at(0), lon = c.exiv2.at(1), alt = c.exiv2.at(2), when = c.exiv2.at(3);
        EXPECT_EQ(RunCommand("exiv2 -q -Pv" + keys + " " + ShellQuote(copy)).second,
                  "2 2 0 0\n" + lat.substr(0, 1) + "\n" + lat.substr(2) + "\n" + lon.substr(0, 1) + "\n" +
                      lon.substr(2) + "\n" + alt.substr(0, 1) + "\n" + alt.substr(2) + "\n" +
                      when.substr(11) + "\n" + when.substr(0, 10) + "\n");
        // Every other tag (the MakerNote's among them) and the thumbnail.
        const std::vector<std::string> changed = {"[GPS]", "[System]", "[File]", "[ExifTool]", "[Composite]"};
        const auto dump = [&](const std::string& p) {
            return Lines(RunCommand("exiftool -a -u -G1 -s -n -e -x ThumbnailOffset " + ShellQuote(p)).second, changed);
        };
        const auto before = dump(photo), after = dump(copy);
        EXPECT_EQ(Added(before, after) + "--\n" + Added(after, before), "--\n");
        const auto thumbnail = [](const std::string& p) {
            return RunCommand("exiftool -q -q -b -ThumbnailImage " + ShellQuote(p)).second;
        };
        EXPECT_EQ(thumbnail(copy), thumbnail(photo));
        EXPECT_FALSE(thumbnail(photo).empty());
    }
    fs::path dir_;
};

TEST_F(PhotoRunner, CaptureTimesAndGpsCopies) {
    const bool tools = HaveTool("exiftool") && HaveTool("exiv2");
    if (!tools) {
        std::printf("exiftool or exiv2 absent: the copies are checked without them\n");
    }
    const auto cases = LoadCases();
    ASSERT_GE(cases.size(), 20u);
    for (const PhotoCase& c : cases) {
        SCOPED_TRACE(c.photo);
        const std::string name = c.photo.substr(0, c.photo.size() - 4) + ".JPG";
        const std::string photo = (dir_ / name).string();
        const std::vector<std::uint8_t> bytes = ReadBytes(PhotoData(c.photo));
        WriteBytes(photo, bytes);

        std::int64_t time = -1;
        int failed = -1;
        std::string message = "x";
        ReadExifDateTime(photo, time, failed, message, {"T387", "T388"});
        const bool readFails = c.capture.rfind("fail ", 0) == 0;
        EXPECT_EQ(failed, readFails ? 1 : 0);
        EXPECT_EQ(message, readFails ? c.capture.substr(5) : "");
        EXPECT_EQ(time, readFails ? 0 : std::stoll(c.capture));

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
        EXPECT_EQ(fs::file_size(copy), bytes.size() + (c.photo == "built-sony-odd-ifd1.jpg" ? 220 : 218));
        std::int64_t copyTime = -1;
        ReadExifDateTime(copy, copyTime, failed, message, {"T387", "T388"});
        EXPECT_EQ(copyTime, time);
        if (tools) {
            CheckWithTools(c, photo, copy.string());
        }
        fs::remove_all(dir_ / "GPS");
    }
}

TEST_F(PhotoRunner, NoCopyThroughAFileOrLinkNamedGps) {
    const std::string photo = (dir_ / "IMG_0001.JPG").string();
    WriteBytes(photo, ReadBytes(PhotoData("built-canon-ii.jpg")));
    int failed = 0;
    std::string message;
    bool ok = true;
    fs::create_directories(dir_ / "elsewhere");
    WriteBytes((dir_ / "GPS").string(), {1, 2, 3});
    WriteGpsToPhoto(photo, {120.25f, 22.5f, 12.5f, 0}, failed, message, ok);
    EXPECT_EQ(message, kCopyWriteText);
    fs::remove(dir_ / "GPS");
    fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "GPS");
    WriteGpsToPhoto(photo, {120.25f, 22.5f, 12.5f, 0}, failed, message, ok);
    EXPECT_EQ(message, kCopyWriteText);
    EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere"));
    fs::remove(dir_ / "GPS");
    WriteGpsToPhoto(photo, {0.0f, 91.0f, 0.0f, 0}, failed, message, ok);
    EXPECT_EQ(message, kBadPositionText);
    EXPECT_FALSE(fs::exists(dir_ / "GPS"));
}

// Reference photos with a few bytes of their Exif data changed or cut: the
// reader and the copy never read outside the file, and a copy that is made
// gives the capture time the photo gives.
TEST(GpsTagValues, MutatedPhotosNeverGiveACorruptCopy) {
    std::mt19937 random(3);
    for (const char* name : {"built-canon-jfif.jpg", "built-sony-mm.jpg", "magick-sony.jpg"}) {
        const std::vector<std::uint8_t> photo = ReadBytes(PhotoData(name));
        for (int round = 0; round < 3000; ++round) {
            std::vector<std::uint8_t> bytes = photo;
            for (unsigned k = 1 + random() % 3; k > 0; --k) {
                const unsigned value = random() % 512;
                bytes[20 + random() % 500] = static_cast<std::uint8_t>(value < 256 ? value : value % 3);
            }
            bytes.resize(round % 10 == 0 ? random() % bytes.size() : bytes.size());
            std::int64_t time = 0, copyTime = 0;
            int failed = 0, copyFailed = 0;
            std::string message;
            ReadExifDateTimeFromBytes(bytes, time, failed, message);
            std::vector<std::uint8_t> copy;
            if (BuildGpsCopy(bytes, {120.25f, 22.5f, 12.5f, 0}, copy, message) == GpsCopyOutcome::Written) {
                ReadExifDateTimeFromBytes(copy, copyTime, copyFailed, message);
                EXPECT_EQ(copyFailed * 10 + copyTime, failed * 10 + time) << name << " round " << round;
            }
        }
    }
}

TEST(GpsTagValues, WorkedExamples) {
    std::array<int, 3> lat{}, lon{};
    DegreesToDms(-33.8f, 120.25f, lat, lon);  // truncated, never rounded up, never negative
    EXPECT_EQ(lat[0] * 1000000 + lat[1] * 10000 + lat[2], 33475999);
    EXPECT_EQ(lon[0] * 1000000 + lon[1] * 10000 + lon[2], 120150000);
    EXPECT_EQ(HeightCentimetres(12.345f) * 10000 + HeightCentimetres(12.344f), 12351234u);
    EXPECT_EQ(exif::TiffValueSize(12, 0xFFFFFFFFu), 8ull * 0xFFFFFFFFu);
    EXPECT_EQ(GpsCopyPath("/d/a/DSC01234.JPG"), "/d/a/GPS/DSC01234_GPS.jpg");
}

}  // namespace
