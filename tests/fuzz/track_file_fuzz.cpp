// Fuzz target: any bytes as a .trl track log, written by the four writers and
// the photo KML. Each document holds one entry per record that every writer
// takes (good checksum, time below 2^31, finite, on the globe) and no "nan"
// or "inf". Five documents an input: a slow target (tests/CMakeLists.txt).
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

#include "export/PhotoKml.h"
#include "export/TrackWriters.h"
#include "support/ProcessZone.h"

using namespace track_writers;

// Occurrences of text in doc from its `from`th byte on.
static std::size_t Count(const std::string& doc, std::string_view text, std::size_t from) {
    std::size_t n = 0;
    for (std::size_t at = doc.find(text[0], from); at != std::string::npos; at = doc.find(text[0], at + 1)) {
        n += doc.compare(at, text.size(), text) == 0 ? 1 : 0;
    }
    return n;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int trl = ::memfd_create("trl", MFD_CLOEXEC);  // the photo KML reads a file
    static PhotoLinkState state;
    SetChosenZoneOffset(static_cast<long>(size % 27) * 3600 - 12 * 3600);
    const std::vector<TrackLogRecord> records = ReadTrackRecords({data, size});
    std::size_t points = 0;
    for (const TrackLogRecord& r : records) points += IsWritableRecord(r) ? 1 : 0;
    const LineEnd eol = size % 2 == 0 ? LineEnd::Lf : LineEnd::CrLf;
    std::string docs[5];
    WriteText(records, eol, docs[0]);
    WriteNmea(records, docs[1]);
    WriteGpx(records, eol, docs[2]);
    WriteKml(records, eol, docs[3]);
    if (::ftruncate(trl, 0) != 0 || ::pwrite(trl, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    state.photoFolder = "/nonexistent";
    docs[4] = BuildPhotoKml(state, "/proc/self/fd/" + std::to_string(trl), false);
    // What marks one point in each; the KML heads before the route are skipped.
    const std::string_view marks[5] = {"\n", "$GPRMC,", "<rtept ", "<Placemark>", "<Placemark>"};
    for (int i = 0; i < 5; ++i) {
        const std::size_t from = i < 3 ? 0 : docs[i].find("<coordinates>");
        if (Count(docs[i], marks[i], from) != points || state.trackPoints.size() != points ||
            Count(docs[i], "nan", from) + Count(docs[i], "inf", from) != 0) {
            std::abort();
        }
    }
    return 0;
}
