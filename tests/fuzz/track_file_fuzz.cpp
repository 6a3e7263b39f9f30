// Fuzz target: any bytes as a .trl track log, written by the four writers and the photo KML. Each document holds
// one entry per record every writer takes (good checksum, time below 2^31, finite, on the globe) and no "nan" or
// "inf". Five documents an input: a slow target (tests/CMakeLists.txt).
#include <sys/mman.h>
#include <unistd.h>

#include "FuzzChecks.h"
#include "export/PhotoKml.h"
#include "export/TrackWriters.h"
#include "support/ProcessZone.h"

using namespace fuzzcheck;
using namespace track_writers;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int trl = ::memfd_create("trl", MFD_CLOEXEC);  // the photo KML reads a file
    static PhotoLinkState state;
    SetChosenZoneOffset(static_cast<long>(size % 27) * 3600 - 12 * 3600);
    const std::vector<TrackLogRecord> records = ReadTrackRecords({data, size});
    const auto points = static_cast<std::size_t>(std::ranges::count_if(records, IsWritableRecord));
    const LineEnd eol = size % 2 == 0 ? LineEnd::Lf : LineEnd::CrLf;
    std::string docs[5];
    WriteText(records, eol, docs[0]);
    WriteNmea(records, docs[1]);
    WriteGpx(records, eol, docs[2]);
    WriteKml(records, eol, docs[3]);
    Require(::ftruncate(trl, 0) == 0 && ::pwrite(trl, data, size, 0) == static_cast<ssize_t>(size), "the .trl file");
    state.photoFolder = "/nonexistent";
    docs[4] = BuildPhotoKml(state, "/proc/self/fd/" + std::to_string(trl), false);
    Require(state.trackPoints.size() == points, "the photo KML's track points");
    // What marks one point in each; the KML heads before the route are skipped.
    const std::string_view marks[5] = {"\n", "$GPRMC,", "<rtept ", "<Placemark>", "<Placemark>"};
    for (int i = 0; i < 5; ++i) {
        const std::size_t from = i < 3 ? 0 : docs[i].find("<coordinates>");
        Require(Count(docs[i], marks[i], from) == points, "one entry per record");
        Require(Count(docs[i], "nan", from) + Count(docs[i], "inf", from) == 0, "no nan or inf");
    }
    return 0;
}
