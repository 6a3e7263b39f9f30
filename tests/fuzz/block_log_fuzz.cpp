// Fuzz target: block-log read-out blocks decoded into the store, text and KML in every output mode and zone.
// A record encodes back to its bytes, is stored as read, its point reads back and its time text is asctime's;
// one text line and one KML placemark per record besides the route, whose coordinates are the points in order.
#include <cmath>

#include "FuzzChecks.h"
#include "support/ProcessZone.h"
#include "tracklog/BlockLogRecord.h"

using namespace fuzzcheck;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int mode = in.ConsumeIntegralInRange(0, 2);
    SetChosenZoneOffset(3600L * in.ConsumeIntegralInRange(-12, 14));
    const std::int64_t total = in.ConsumeIntegralInRange<std::int64_t>(-1, 8 * 512 + 100);
    BlockLogStore store;
    std::string text, points;
    std::size_t expected = 0;
    for (std::int64_t offset = 0; in.remaining_bytes() > 0; offset += 512) {
        std::array<std::uint8_t, kBlockLogBlockBytes> block;  // what came, then 0xFF
        const auto bytes = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange<std::size_t>(0, 512));
        std::fill(std::copy(bytes.begin(), bytes.end(), block.begin()), block.end(), 0xFF);
        const std::size_t before = expected, stored = DecodeTrackRecords(block, offset, total, mode, store, text);
        for (std::size_t k = 0; k < kBlockLogRecordsPerBlock && offset + 512 <= total; ++k) {
            const std::span<const std::uint8_t, 16> raw(block.data() + 16 * k, 16);
            const BlockLogRecord r = DecodeBlockLogRecord(raw);
            Require(std::ranges::equal(raw, EncodeBlockLogRecord(r)), "a record encodes back to its bytes");
            if (IsEmptyBlockLogRecord(raw)) continue;
            Require(expected < store.Count() && !std::memcmp(&store.Record(expected), &r, sizeof r), "stored as read");
            const std::string point = FormatBlockLogPoint(r), &when = store.TimeText(expected++);
            double x = 0, y = 0, z = 0;
            Require(std::sscanf(point.c_str(), "%lf,%lf,%lf", &x, &y, &z) == 3 &&
                        std::fabs(x - r.longitude * 1e-7) < 1e-7 && std::fabs(y - r.latitude * 1e-7) < 1e-7 &&
                        std::fabs(z - r.height * 0.01) < 0.01, "the point reads back");
            Require(when.size() == 25 && when.back() == '\n' && when[3] == ' ' && when[19] == ' ', "asctime form");
            points += point + ' ';
        }
        Require(store.Count() == expected && stored == expected - before, "every record not empty, inside the total");
    }
    Require(Count(text, "\n") == (mode == kOutputText ? expected : 0), "one text line per record");
    Require(store.Coordinates() == (mode == kOutputKml ? points : ""), "the route's coordinates");
    const std::string kml = BuildBlockLogKml(store);
    Require(Count(kml, "<Placemark>") == expected + 1 && Count(kml, "</Placemark>") == expected + 1, "placemarks");
    Require(kml.ends_with("</kml>") || kml.ends_with("</kml>\r\n") || kml.ends_with("</kml>\n"), "the KML's end");
    Require(ToTextModeBytes(kml).size() == kml.size() + Count(kml, "\n"), "text mode adds one CR per line end");
    return 0;
}
