// Fuzz target: the log memory decoder over sectors built of records (right
// and damaged, at times around the PC clock and anywhere), segment and
// waypoint markers, separators, empty runs and raw bytes, under a fuzzed
// clock and zone. Checked against the slot rules themselves: what packing
// keeps, that only records with a right checksum and a time inside the year
// window (never before 1970) are stored, that the ordered table is the
// stored one turned at the wrap, and, when the files are written, that every
// stored record lands in exactly one file under a name of its own.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "FuzzChecks.h"
#include "support/ProcessZone.h"
#include "tracklog/LogDecoder.h"

namespace fs = std::filesystem;

using fuzzcheck::Require;

namespace {

using Slot = std::array<std::uint8_t, 16>;

bool AllOf(const std::uint8_t* s, std::size_t from, std::size_t to, std::uint8_t v) {
    return std::all_of(s + from, s + to, [v](std::uint8_t b) { return b == v; });
}

std::int32_t TimeOf(const std::uint8_t* s) {
    return static_cast<std::int32_t>(s[0] | s[1] << 8 | s[2] << 16 | static_cast<std::uint32_t>(s[3]) << 24);
}

struct Host final : TrlConversionHost {
    void AddStatusLine(const std::string& line) override { lines.push_back(line); }
    bool WriteKml(const std::string&, const std::string&) override { return true; }
    bool ConvertWithPhotos(const std::string&, const std::string&, const std::string&) override { return true; }
    std::vector<std::string> lines;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::size_t sectors = in.ConsumeIntegralInRange<std::size_t>(1, 2);
    const std::int64_t now = in.ConsumeIntegralInRange<std::int64_t>(0, 4102444800);  // 1970 to 2100
    SetChosenZoneOffset(3600L * in.ConsumeIntegralInRange(-12, 14));
    const bool writeFiles = in.ConsumeIntegralInRange(0, 7) == 0;
    const bool total = in.ConsumeBool();
    const std::string user = in.ConsumeRandomLengthString(12);

    std::vector<std::uint8_t> image(sectors * kLogSectorSize, 0xFF);
    std::size_t slot = 0;
    auto put = [&](const Slot& s) {
        if (slot < sectors * kLogSlotsPerSector) {
            const std::size_t at = (slot / kLogSlotsPerSector) * kLogSectorSize + kLogSectorHeaderSize +
                                   (slot % kLogSlotsPerSector) * 16;
            std::memcpy(image.data() + at, s.data(), 16);
        }
        ++slot;
    };
    while (in.remaining_bytes() > 0 && slot < sectors * kLogSlotsPerSector) {
        Slot s{};
        switch (in.ConsumeIntegralInRange(0, 6)) {
            case 0:
            case 1: {  // a record near the clock (or anywhere), its checksum right or not
                const std::int64_t t = in.ConsumeBool() ? now + in.ConsumeIntegralInRange<std::int64_t>(-200000000, 200000000)
                                                        : in.ConsumeIntegral<std::int32_t>();
                const std::uint32_t u = static_cast<std::uint32_t>(t);
                for (int k = 0; k < 4; ++k) s[k] = static_cast<std::uint8_t>(u >> (8 * k));
                for (int k = 4; k < 15; ++k) s[k] = in.ConsumeIntegral<std::uint8_t>();
                for (int k = 0; k < 15; ++k) s[15] ^= s[k];
                if (in.ConsumeIntegralInRange(0, 7) == 0) s[15] ^= 0x10;
                for (int n = in.ConsumeIntegralInRange(1, 40); n > 0; --n) {
                    put(s);
                    s[0] = static_cast<std::uint8_t>(s[0] + 1);  // a second later
                    s[15] = static_cast<std::uint8_t>(s[15] ^ (s[0] - 1) ^ s[0]);
                }
                continue;
            }
            case 2: std::memcpy(s.data(), "ORVIKTK511LOGGER", 16); break;
            case 3: std::memcpy(s.data(), "ORVIKTK511WAYPNT", 16); break;
            case 4:
                s.fill(0xAA);
                std::fill(s.begin() + 12, s.end(), 0xBB);
                s[9] = in.ConsumeIntegral<std::uint8_t>();
                break;
            case 5: slot += in.ConsumeIntegralInRange(1, 5000); continue;
            default: {
                const std::string raw = in.ConsumeBytesAsString(16);
                std::memcpy(s.data(), raw.data(), raw.size());
                break;
            }
        }
        put(s);
    }

    LogDecoder decoder([now] { return now; });
    decoder.ResetUploadBuffers();
    std::vector<std::uint8_t> packed(kLogSectorSize);
    for (std::size_t k = 0; k < sectors; ++k) {
        const std::uint8_t* sector = image.data() + k * kLogSectorSize;
        std::size_t kept = 0;
        for (std::size_t off = kLogSectorHeaderSize; off < kLogSectorSize; off += 16) {
            const std::uint8_t* s = sector + off;
            const bool separator = AllOf(s, 0, 7, 0xAA) && AllOf(s, 12, 16, 0xBB);
            kept += separator || AllOf(s, 0, 16, 0xFF) ? 0 : 16;
        }
        Require(LogDecoder::CompactSector(LogSector(sector, kLogSectorSize), PackedSector(packed)) == kept, "packed");
        decoder.DecodeSector(LogSector(sector, kLogSectorSize));
    }

    const auto& stored = decoder.StoredRecords();
    const auto& kinds = decoder.StoredKinds();
    Require(static_cast<int>(stored.size()) == decoder.ValidRecordCount() + decoder.SegmentMarkerCount(), "counts");
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const std::uint8_t* s = stored[i].data();
        if (kinds[i] == LogDecoder::kSegmentMarker) {
            Require(std::memcmp(s, "ORVIKTK511LOGGER", 16) == 0, "a marker stored as one");
            continue;
        }
        std::uint8_t x = 0;
        for (int k = 0; k < 15; ++k) x ^= s[k];
        Require(x == s[15], "stored records have a right checksum");
        const std::int64_t t = TimeOf(s);
        Require(t >= 0 && t > now - 5 * 366 * 86400LL && t < now + 5 * 366 * 86400LL, "stored times in the window");
    }
    const auto& ordered = decoder.OrderedRecords();
    Require(ordered.size() == stored.size(), "ordered size");
    for (std::size_t i = 0; i < ordered.size(); ++i) {
        Require(ordered[i] == stored[(i + static_cast<std::size_t>(decoder.WrapStartIndex())) % stored.size()],
                "ordered is stored turned at the wrap");
    }
    if (!writeFiles) return 0;

    static const fs::path folder = fs::temp_directory_path() / ("pellora-log-decoder-fuzz-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    Host host;
    decoder.WriteTrlFiles(folder.string(), user, total, host);
    std::uintmax_t bytes = 0;
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        ++files;
        if (entry.path().string() != decoder.TotalFileName() + ".trl") bytes += entry.file_size();
    }
    const auto written = std::count_if(host.lines.begin(), host.lines.end(),
                                       [](const std::string& l) { return !l.ends_with("could not be written"); });
    Require(files == static_cast<std::size_t>(written), "one file for every line, none replaced");
    Require(bytes == 16u * static_cast<std::uintmax_t>(decoder.ValidRecordCount()), "every record in one file");
    fs::remove_all(folder);
    return 0;
}
