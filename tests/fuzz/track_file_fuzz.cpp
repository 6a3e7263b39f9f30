// Fuzz target: any bytes as a .trl track log, read and written as text, KML,
// NMEA and GPX (the line end chosen by the input) and as the photo KML. The
// outputs are read again independently: each writer puts out one entry per
// record that every writer takes (checksum good, time below 2^31, finite, on
// the globe), every NMEA sentence carries its own checksum, and no document
// holds "nan" or "inf". Each input writes five whole documents, so the test
// runs fewer inputs than the other targets.
// Inputs run as a test: 12000
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "export/PhotoKml.h"
#include "export/TrackWriters.h"
#include "support/ProcessZone.h"

namespace {

using namespace track_writers;

void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "track file fuzz: %s\n", what);
        std::abort();
    }
}

// Occurrences of what in text from `from` on (the documents' fixed heads
// are skipped this way, which keeps each input fast).
std::size_t Count(std::string_view text, std::string_view what, std::size_t from = 0) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what[0], from); at != std::string_view::npos; at = text.find(what[0], at + 1)) {
        std::size_t k = 1;
        while (k < what.size() && at + k < text.size() && text[at + k] == what[k]) ++k;
        n += k == what.size() ? 1 : 0;
    }
    return n;
}

void RequireNumbers(std::string_view text, std::size_t from = 0) {
    Require(Count(text, "nan", from) == 0 && Count(text, "inf", from) == 0, "a number that is no number");
}

// Where a document's points begin: its length without any record.
template <typename Write>
std::size_t HeadLength(Write write) {
    std::string empty;
    write(empty);
    return empty.find("<coordinates>");
}

// The photo KML reads its track from a file: one file in memory, rewritten
// for each input; its photo folder does not exist.
const std::string& TrackPath() {
    static const std::string path = [] {
        const int fd = ::memfd_create("track.trl", MFD_CLOEXEC);
        Require(fd >= 0, "memory file");
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

void WriteTrack(const std::uint8_t* data, std::size_t size) {
    const int fd = std::stoi(TrackPath().substr(14));
    Require(::ftruncate(fd, 0) == 0 && (size == 0 || ::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size)),
            "memory file written");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SetChosenZoneOffset(static_cast<long>(size % 27) * 3600 - 12 * 3600);
    const std::vector<TrackLogRecord> records = ReadTrackRecords({data, size});
    Require(records.size() <= size / kTrackLogRecordSize, "more records than bytes");
    std::size_t points = 0;
    for (const TrackLogRecord& r : records) points += IsWritableRecord(r) ? 1 : 0;

    // Strings kept from input to input keep their room.
    static std::string text, kml, gpx, nmea;
    const LineEnd eol = size % 2 == 0 ? LineEnd::Lf : LineEnd::CrLf;
    static const std::size_t kmlHead[2] = {HeadLength([](std::string& o) { WriteKml({}, LineEnd::Lf, o); }),
                                           HeadLength([](std::string& o) { WriteKml({}, LineEnd::CrLf, o); })};
    text.clear();
    kml.clear();
    gpx.clear();
    nmea.clear();
    WriteText(records, eol, text);
    WriteKml(records, eol, kml);
    WriteGpx(records, eol, gpx);
    const std::size_t head = kmlHead[eol == LineEnd::CrLf ? 1 : 0];
    Require(Count(text, eol == LineEnd::CrLf ? "\r\n" : "\n") == points, "text lines");
    Require(Count(kml, "<Placemark>", head) == points && Count(kml, "<name>", head) == points + 1, "KML placemarks");
    Require(Count(gpx, "<wpt ") == points && Count(gpx, "<rtept ") == points, "GPX points");
    RequireNumbers(text);
    RequireNumbers(kml, head);
    RequireNumbers(gpx);
    WriteNmea(records, nmea);
    Require(Count(nmea, "$GPRMC,") == points && Count(nmea, "\r\n") == points, "NMEA sentences");
    RequireNumbers(nmea);
    for (std::size_t at = 0; at < nmea.size();) {
        const std::size_t star = nmea.find('*', at);
        Require(star != std::string::npos && star + 5 <= nmea.size(), "NMEA checksum field");
        unsigned sum = 0;
        for (std::size_t i = at + 1; i < star; ++i) sum ^= static_cast<unsigned char>(nmea[i]);
        Require(std::strtoul(nmea.substr(star + 1, 2).c_str(), nullptr, 16) == sum, "NMEA checksum");
        at = nmea.find("\r\n", star) + 2;
    }

    // The photo KML takes the same points.
    static PhotoLinkState state;
    state.photoFolder = "/nonexistent/photos";
    static const std::size_t photoHead = HeadLength([](std::string& o) {
        WriteTrack(nullptr, 0);
        o = BuildPhotoKml(state, TrackPath(), false);
    });
    WriteTrack(data, size);
    const std::string photoKml = BuildPhotoKml(state, TrackPath(), false);
    Require(state.trackPoints.size() == points && Count(photoKml, "<Placemark>", photoHead) == points, "photo KML points");
    RequireNumbers(photoKml, photoHead);
    return 0;
}
