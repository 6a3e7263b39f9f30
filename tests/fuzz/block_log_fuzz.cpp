// Fuzz target: the block-log records of a read-out, decoded into the store,
// the text lines and the KML document, in every output mode and zone. Each
// record is checked against its own bytes: it encodes back to them, its point
// text reads back to its scaled fields, its time text is the 25-character
// asctime form; the text output has one line per record, and the KML one
// placemark per record besides the route, with the route's coordinates the
// points in order.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzChecks.h"
#include "support/ProcessZone.h"
#include "tracklog/BlockLogRecord.h"

using fuzzcheck::Require;

namespace {

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int mode = in.ConsumeIntegralInRange(0, 2);
    SetChosenZoneOffset(3600L * in.ConsumeIntegralInRange(-12, 14));
    const std::int64_t total = in.ConsumeIntegralInRange<std::int64_t>(-1, 8 * 512 + 100);
    BlockLogStore store;
    std::string text, points;
    std::size_t expected = 0;
    for (std::int64_t offset = 0; in.remaining_bytes() > 0; offset += 512) {
        std::array<std::uint8_t, kBlockLogBlockBytes> block;
        block.fill(0xFF);
        const std::string bytes = in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 512));
        std::memcpy(block.data(), bytes.data(), bytes.size());
        const std::size_t before = store.Count();
        const std::size_t stored = DecodeTrackRecords(block, offset, total, mode, store, text);
        Require(store.Count() == before + stored, "the count grows by what was stored");
        for (std::size_t r = 0; r < kBlockLogRecordsPerBlock && offset + 512 <= total; ++r) {
            const std::span<const std::uint8_t, 16> raw(block.data() + 16 * r, 16);
            const BlockLogRecord record = DecodeBlockLogRecord(raw);
            const auto encoded = EncodeBlockLogRecord(record);
            Require(std::equal(raw.begin(), raw.end(), encoded.begin()), "a record encodes back to its bytes");
            if (IsEmptyBlockLogRecord(raw)) continue;
            const BlockLogRecord& kept = store.Record(expected);
            Require(std::memcmp(&kept, &record, sizeof record) == 0, "stored as decoded");
            const std::string point = FormatBlockLogPoint(record);
            double lon = 0, lat = 0, height = 0;
            Require(std::sscanf(point.c_str(), "%lf,%lf,%lf", &lon, &lat, &height) == 3, "a point of three numbers");
            Require(std::fabs(lon - record.longitude * 1e-7) < 1e-7 && std::fabs(lat - record.latitude * 1e-7) < 1e-7 &&
                        std::fabs(height - record.height * 0.01) < 0.01,
                    "the point reads back");
            const std::string& when = store.TimeText(expected);
            Require(when.size() == 25 && when.back() == '\n' && when[3] == ' ' && when[19] == ' ', "asctime form");
            points += point + ' ';
            ++expected;
        }
        Require(store.Count() == expected, "every record that is not empty, in blocks inside the total");
    }
    Require(Count(text, "\n") == (mode == kOutputText ? expected : 0), "one text line per record");
    Require(store.Coordinates() == (mode == kOutputKml ? points : std::string()), "the route's coordinates");
    const std::string kml = BuildBlockLogKml(store);
    Require(Count(kml, "<Placemark>") == expected + 1 && Count(kml, "</Placemark>") == expected + 1, "placemarks");
    Require(kml.ends_with("</kml>") || kml.ends_with("</kml>\r\n") || kml.ends_with("</kml>\n"), "the document ends");
    Require(ToTextModeBytes(kml).size() == kml.size() + Count(kml, "\n"), "text mode adds one CR per line end");
    ClearChosenZone();
    return 0;
}
