#include "tracklog/TrackLogRecord.h"

#include <bit>
#include <cstring>

namespace {

std::uint32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void WriteLe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

}  // namespace

std::uint8_t RecordChecksum(std::span<const std::uint8_t, kTrackLogRecordSize> record) {
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < 15; ++i) {
        x ^= record[i];
    }
    return x;
}

bool RecordChecksumValid(std::span<const std::uint8_t, kTrackLogRecordSize> record) {
    return record[15] == RecordChecksum(record);
}

TrackLogRecord DecodeTrackLogRecord(std::span<const std::uint8_t, kTrackLogRecordSize> record) {
    TrackLogRecord r;
    r.utcTime = ReadLe32(record.data());
    r.latitude = std::bit_cast<float>(ReadLe32(record.data() + 4));
    r.longitude = std::bit_cast<float>(ReadLe32(record.data() + 8));
    const std::uint32_t heightBits = static_cast<std::uint32_t>(record[12]) << 8 |
                                     static_cast<std::uint32_t>(record[13]) << 16 |
                                     static_cast<std::uint32_t>(record[14]) << 24;
    r.height = std::bit_cast<float>(heightBits);
    return r;
}

TrackLogRecordBytes EncodeTrackLogRecord(const TrackLogRecord& record) {
    TrackLogRecordBytes out{};
    WriteLe32(out.data(), record.utcTime);
    WriteLe32(out.data() + 4, std::bit_cast<std::uint32_t>(record.latitude));
    WriteLe32(out.data() + 8, std::bit_cast<std::uint32_t>(record.longitude));
    const std::uint32_t heightBits = std::bit_cast<std::uint32_t>(record.height);
    out[12] = static_cast<std::uint8_t>(heightBits >> 8);
    out[13] = static_cast<std::uint8_t>(heightBits >> 16);
    out[14] = static_cast<std::uint8_t>(heightBits >> 24);
    out[15] = RecordChecksum(out);
    return out;
}
