// Fuzz target: any bytes as a .trl track log, written by the four writers
// and the photo KML, which must each hold one entry per record that every
// writer takes (good checksum, time below 2^31, finite, on the globe), no
// "nan" or "inf", and NMEA sentences whose checksums hold. Five documents an
// input: the test runs fewer inputs than the other targets.
// Inputs run as a test: 10000
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

#include "export/PhotoKml.h"
#include "export/TrackWriters.h"
#include "support/ProcessZone.h"

using namespace track_writers;

// Occurrences of text in doc from its `from`th byte on.
static std::size_t Count(const std::string& doc, std::string_view text, std::size_t from = 0) {
    std::size_t n = 0;
    for (std::size_t at = doc.find(text[0], from); at != std::string::npos; at = doc.find(text[0], at + 1)) {
        n += doc.compare(at, text.size(), text) == 0 ? 1 : 0;
    }
    return n;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int trl = ::memfd_create("trl", MFD_CLOEXEC);  // the photo KML reads a file
    static PhotoLinkState state;
    static std::string text, kml, gpx, nmea;  // kept from input to input with their room
    SetChosenZoneOffset(static_cast<long>(size % 27) * 3600 - 12 * 3600);
    const std::vector<TrackLogRecord> records = ReadTrackRecords({data, size});
    std::size_t points = 0;
    for (const TrackLogRecord& r : records) points += IsWritableRecord(r) ? 1 : 0;

    const LineEnd eol = size % 2 == 0 ? LineEnd::Lf : LineEnd::CrLf;
    for (std::string* doc : {&text, &kml, &gpx, &nmea}) doc->clear();
    WriteText(records, eol, text);
    WriteKml(records, eol, kml);
    WriteGpx(records, eol, gpx);
    WriteNmea(records, nmea);
    const std::size_t route = kml.find("<coordinates>");  // the fixed head is skipped
    bool good = Count(text, "\n") == points && Count(kml, "<Placemark>", route) == points &&
                Count(gpx, "<wpt ") == points && Count(gpx, "<rtept ") == points && Count(nmea, "$GPRMC,") == points;
    for (const std::string* doc : {&text, &kml, &gpx, &nmea}) {
        good = good && Count(*doc, "nan", doc == &kml ? route : 0) + Count(*doc, "inf", doc == &kml ? route : 0) == 0;
    }
    for (std::size_t at = 0, star = 0; good && at < nmea.size(); at = nmea.find('\n', star) + 1) {
        star = nmea.find('*', at);
        if (star == std::string::npos || star + 5 > nmea.size()) std::abort();
        unsigned sum = 0;
        for (std::size_t i = at + 1; i < star; ++i) sum ^= static_cast<unsigned char>(nmea[i]);
        good = std::strtoul(nmea.substr(star + 1, 2).c_str(), nullptr, 16) == sum;
    }

    good = good && ::ftruncate(trl, 0) == 0 &&
           (size == 0 || ::pwrite(trl, data, size, 0) == static_cast<ssize_t>(size));
    state.photoFolder = "/nonexistent";
    const std::string photo = BuildPhotoKml(state, "/proc/self/fd/" + std::to_string(trl), false);
    const std::size_t photoRoute = photo.find("<coordinates>");
    if (!good || state.trackPoints.size() != points || Count(photo, "<Placemark>", photoRoute) != points ||
        Count(photo, "nan", photoRoute) + Count(photo, "inf", photoRoute) != 0) {
        std::abort();
    }
    return 0;
}
