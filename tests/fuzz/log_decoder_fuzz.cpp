// Fuzz target: the log memory decoder over sectors of records (right and damaged, near the clock or anywhere),
// markers, separators, empty runs and raw bytes, under a fuzzed clock and zone. Only records with a right sum and
// a time in the year window (never before 1970) are stored; the files written hold each stored record once.
#include <unistd.h>

#include <filesystem>
#include "FuzzChecks.h"
#include "support/ProcessZone.h"
#include "tracklog/LogDecoder.h"

namespace fs = std::filesystem;
using namespace fuzzcheck;
// The segment marker, the waypoint marker and a separator (any byte at 9).
const char* const kMarks[] = {"ORVIKTK511LOGGER", "ORVIKTK511WAYPNT",
                              "\xAA\xAA\xAA\xAA\xAA\xAA\xAA\xAA\xAA\xAA\xAA\xAA\xBB\xBB\xBB\xBB"};

struct Host final : TrlConversionHost {
    void AddStatusLine(const std::string&) override {}
    bool WriteKml(const std::string&, const std::string&) override { return true; }
    bool ConvertWithPhotos(const std::string&, const std::string&, const std::string&) override { return true; }
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::size_t sectors = in.ConsumeIntegralInRange<std::size_t>(1, 2), slots = sectors * kLogSlotsPerSector;
    const std::int64_t now = in.ConsumeIntegralInRange<std::int64_t>(0, 4102444800);  // 1970 to 2100
    SetChosenZoneOffset(3600L * in.ConsumeIntegralInRange(-12, 14));
    const bool writeFiles = in.ConsumeIntegralInRange(0, 7) == 0, total = in.ConsumeBool();
    const std::string user = in.ConsumeRandomLengthString(12);
    std::vector<std::uint8_t> image(sectors * kLogSectorSize, 0xFF);
    for (std::size_t slot = 0; in.remaining_bytes() > 0 && slot < slots;) {
        std::uint8_t s[16] = {};
        int run = 1;
        if (const int kind = in.ConsumeIntegralInRange(0, 6); kind <= 1) {  // records a second apart, sum right or not
            const std::int64_t t = in.ConsumeBool() ? now + in.ConsumeIntegralInRange(-200000000, 200000000)
                                                    : in.ConsumeIntegral<std::int32_t>();
            for (int k = 0; k < 4; ++k) s[k] = static_cast<std::uint8_t>(t >> 8 * k);
            for (int k = 4; k < 15; ++k) s[k] = in.ConsumeIntegral<std::uint8_t>();
            s[15] = static_cast<std::uint8_t>(Xor(s, 15) ^ (in.ConsumeIntegralInRange(0, 7) == 0 ? 0x10 : 0));
            run = in.ConsumeIntegralInRange(1, 40);
        } else if (kind == 5) {  // empty slots
            run = 0;
            slot += in.ConsumeIntegralInRange(1, 5000);
        } else {  // a marker or any bytes
            const std::string raw = kind == 6 ? in.ConsumeBytesAsString(16) : kMarks[kind - 2];
            std::memcpy(s, raw.data(), raw.size());
            if (kind == 4) s[9] = in.ConsumeIntegral<std::uint8_t>();
        }
        for (; run > 0; --run, ++slot) {
            const std::size_t at = slot / kLogSlotsPerSector * kLogSectorSize + slot % kLogSlotsPerSector * 16;
            if (slot < slots) std::memcpy(&image[kLogSectorHeaderSize + at], s, 16);
            s[0] = static_cast<std::uint8_t>(s[0] + 1);  // the next record a second later, its sum mended
            s[15] = static_cast<std::uint8_t>(s[15] ^ (s[0] - 1) ^ s[0]);
        }
    }

    LogDecoder decoder([now] { return now; });
    decoder.ResetUploadBuffers();
    for (auto sector = image.begin(); sector < image.end(); sector += kLogSectorSize) {
        decoder.DecodeSector(LogSector(sector, kLogSectorSize));
    }
    const auto& stored = decoder.StoredRecords();
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const std::uint8_t* s = stored[i].data();
        const std::int64_t t = static_cast<std::int32_t>(s[0] | s[1] << 8 | s[2] << 16 | std::uint32_t{s[3]} << 24);
        Require(decoder.StoredKinds()[i] == LogDecoder::kSegmentMarker
                    ? std::memcmp(s, kMarks[0], 16) == 0
                    : Xor(s, 15) == s[15] && t >= 0 && t > now - 5 * 366 * 86400LL && t < now + 5 * 366 * 86400LL,
                "stored: markers, and records with a right sum and a time in the window");
    }
    if (!writeFiles) return 0;
    static const fs::path folder = fs::temp_directory_path() / ("pellora-log-decoder-fuzz-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    Host host;
    decoder.WriteTrlFiles(folder.string(), user, total, host);
    std::uintmax_t bytes = 0;  // of the segment files, not the total file
    for (const auto& file : fs::directory_iterator(folder)) {
        bytes += file.path() != decoder.TotalFileName() + ".trl" ? file.file_size() : 0;
    }
    Require(bytes == 16u * static_cast<std::uintmax_t>(decoder.ValidRecordCount()), "every record in one file");
    fs::remove_all(folder);
    return 0;
}
