// The four outputs of a 1,000-point track read back by gpsbabel (an
// independent reader of NMEA, GPX and KML) give the same points, times and
// heights; xmllint finds the KML and GPX well-formed.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "export/TrackConversion.h"
#include "support/AtomicFile.h"

namespace fs = std::filesystem;
using namespace track_writers;

namespace {

// What a command printed on standard output; empty on failure.
std::string RunCommand(const std::string& command) {
    std::string out;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        if (::pclose(pipe) != 0) out.clear();
    }
    return out;
}

// The rows of gpsbabel's unicsv output as fields, header dropped.
std::vector<std::vector<std::string>> Rows(const std::string& csv) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(csv);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // unicsv ends lines CR LF
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');) fields.push_back(cell);
        rows.push_back(fields);
    }
    return rows;
}

std::string Format(std::uint32_t t, const char* form) {
    const std::time_t time = t;
    std::tm tm{};
    gmtime_r(&time, &tm);
    char text[64];
    std::strftime(text, sizeof text, form, &tm);
    return text;
}

}  // namespace

TEST(TrackGpsbabelTest, ThousandPointsReadBackAlike) {
    if (RunCommand("command -v gpsbabel").empty()) GTEST_SKIP() << "gpsbabel is not installed (scripts/deps.sh)";
    const fs::path dir = fs::temp_directory_path() / ("pellora-gpsbabel-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);

    std::vector<TrackLogRecord> points;
    std::string trl;
    for (int i = 0; i < 1000; ++i) {
        const TrackLogRecordBytes bytes = EncodeTrackLogRecord(
            {1577822400u + static_cast<std::uint32_t>(i) * 3601u,  // from 2019-12-31 20:00Z
             static_cast<float>(-89.0 + i * 0.1781), static_cast<float>(179.3 - i * 0.35791),
             static_cast<float>(-400.0 + i * 9.4137)});
        points.push_back(DecodeTrackLogRecord(bytes));
        trl.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    ASSERT_TRUE(WriteFileAtomically((dir / "t.trl").string(), trl));
    const ConvertResult result = ConvertTrackLog((dir / "t.trl").string(), {true, true, true, true}, 4);  // +9
    ASSERT_TRUE(result.AllWritten());
    for (const char* name : {"t.kml", "t.gpx"}) {
        EXPECT_EQ(std::system(("xmllint --noout " + (dir / name).string()).c_str()), 0) << name;
    }

    // Each reading: gpsbabel's options, the file, and which columns to check.
    struct Reading { const char* args; const char* file; bool name, height, time; };
    const Reading readings[] = {
        {"-w -i gpx", "t.gpx", true, true, true},   {"-r -i gpx", "t.gpx", true, true, true},
        {"-t -i nmea", "tNMEA.txt", false, false, true}, {"-w -i kml", "t.kml", true, true, false},
        {"-t -i kml", "t.kml", false, true, false}};
    for (const Reading& r : readings) {
        SCOPED_TRACE(std::string(r.args) + " " + r.file);
        const auto rows = Rows(RunCommand(std::string("TZ=UTC gpsbabel ") + r.args + " -f " + (dir / r.file).string() +
                                   " -o unicsv -F -"));
        ASSERT_EQ(rows.size(), points.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const auto& row = rows[i];
            const TrackLogRecord& p = points[i];
            ASSERT_GE(row.size(), 3u);
            EXPECT_NEAR(std::stod(row[1]), p.latitude, 1.01e-6) << i;
            EXPECT_NEAR(std::stod(row[2]), p.longitude, 1.01e-6) << i;
            std::size_t col = 3;
            if (r.name) {
                // GPX names the points "Point i"; KML by local time (UTC+9) on a
                // line of its own, whose line ends unicsv writes as ",".
                const bool gpx = std::string(r.file) == "t.gpx";
                std::string name = row.at(col++);
                if (!gpx) name += "," + row.at(col) + "," + row.at(col + 1), col += 2;
                EXPECT_EQ(name, gpx ? "\"Point " + std::to_string(i) + "\""
                                    : "\"," + Format(p.utcTime + 9 * 3600, "%a %b %e %H:%M:%S %Y") + ",\"") << i;
            }
            if (r.height) {  // ours rounds to 0.01, unicsv again to 0.1
                EXPECT_NEAR(std::stod(row.at(col++)), p.height, 0.056) << i;
            }
            if (!r.height && !r.name) col += 2;  // NMEA: speed, course
            if (r.time) {
                EXPECT_EQ(row.at(col) + " " + row.at(col + 1), Format(p.utcTime, "%Y/%m/%d %H:%M:%S")) << i;
            }
        }
    }
    fs::remove_all(dir);
}
