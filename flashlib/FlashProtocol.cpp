#include "flashlib/FlashProtocol.h"

#include <zlib.h>

#include <algorithm>

namespace platform::flashproto {

std::uint32_t Crc32(std::span<const std::uint8_t> data) {
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes at most uInt bytes per call.
    std::size_t done = 0;
    while (done < data.size()) {
        const std::size_t chunk = std::min<std::size_t>(data.size() - done, 1u << 30);
        crc = crc32(crc, data.data() + done, static_cast<uInt>(chunk));
        done += chunk;
    }
    return static_cast<std::uint32_t>(crc);
}

void PutLe16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint16_t GetLe16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

std::uint32_t GetLe32(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

std::vector<std::uint8_t> EncodeFrame(std::uint8_t start, std::uint8_t type, std::uint16_t sequence,
                                      std::span<const std::uint8_t> payload) {
    const std::size_t n = std::min(payload.size(), kMaxPayload);
    std::vector<std::uint8_t> frame(kHeaderSize + n + kCrcSize);
    frame[0] = start;
    frame[1] = type;
    PutLe16(&frame[2], sequence);
    PutLe16(&frame[4], static_cast<std::uint16_t>(n));
    std::copy_n(payload.begin(), n, frame.begin() + kHeaderSize);
    const std::uint32_t crc = Crc32(std::span(frame).subspan(1, kHeaderSize - 1 + n));
    PutLe32(&frame[kHeaderSize + n], crc);
    return frame;
}

std::vector<std::uint8_t> EncodeHello(const Hello& hello) {
    std::vector<std::uint8_t> out(kHelloSize, 0);
    std::copy_n(hello.chip.begin(), std::min(hello.chip.size(), kChipNameSize), out.begin());
    PutLe32(&out[8], hello.agentParameter);
    PutLe32(&out[12], hello.speedCode);
    PutLe32(&out[16], hello.option);
    PutLe32(&out[20], hello.agentLength);
    PutLe32(&out[24], hello.agentCrc);
    PutLe32(&out[28], hello.imageLength);
    PutLe32(&out[32], hello.imageCrc);
    PutLe32(&out[36], hello.regionStart);
    return out;
}

bool DecodeHello(std::span<const std::uint8_t> payload, Hello& hello) {
    if (payload.size() != kHelloSize) {
        return false;
    }
    const auto* p = payload.data();
    const auto end = std::find(p, p + kChipNameSize, std::uint8_t{0});
    hello.chip.assign(p, end);
    hello.agentParameter = GetLe32(p + 8);
    hello.speedCode = GetLe32(p + 12);
    hello.option = GetLe32(p + 16);
    hello.agentLength = GetLe32(p + 20);
    hello.agentCrc = GetLe32(p + 24);
    hello.imageLength = GetLe32(p + 28);
    hello.imageCrc = GetLe32(p + 32);
    hello.regionStart = GetLe32(p + 36);
    return true;
}

std::vector<std::uint8_t> EncodeLengthCrc(std::uint32_t length, std::uint32_t crc) {
    std::vector<std::uint8_t> out(kEndSize);
    PutLe32(&out[0], length);
    PutLe32(&out[4], crc);
    return out;
}

bool DecodeLengthCrc(std::span<const std::uint8_t> payload, std::uint32_t& length, std::uint32_t& crc) {
    if (payload.size() != kEndSize) {
        return false;
    }
    length = GetLe32(payload.data());
    crc = GetLe32(payload.data() + 4);
    return true;
}

void FrameScanner::Feed(std::span<const std::uint8_t> bytes, std::vector<Frame>& frames, std::string* outside) {
    for (std::uint8_t b : bytes) {
        Take(b, frames, outside);
    }
}

void FrameScanner::Take(std::uint8_t byte, std::vector<Frame>& frames, std::string* outside) {
    if (pending_.empty()) {
        if (byte == start_) {
            pending_.push_back(byte);
        } else if (outside) {
            outside->push_back(static_cast<char>(byte));
        }
        return;
    }
    pending_.push_back(byte);
    if (pending_.size() < kHeaderSize) {
        return;
    }
    const std::size_t length = GetLe16(&pending_[4]);
    if (length > maxPayload_) {
        // Not a frame: the start byte was an ordinary byte. Look again at what
        // followed it (at most five bytes, too few to complete a frame).
        std::vector<std::uint8_t> rest(pending_.begin() + 1, pending_.end());
        pending_.clear();
        if (outside) {
            outside->push_back(static_cast<char>(start_));
        }
        for (std::uint8_t b : rest) {
            Take(b, frames, outside);
        }
        return;
    }
    if (pending_.size() < kHeaderSize + length + kCrcSize) {
        return;
    }
    Frame frame;
    frame.type = pending_[1];
    frame.sequence = GetLe16(&pending_[2]);
    frame.payload.assign(pending_.begin() + kHeaderSize, pending_.begin() + static_cast<std::ptrdiff_t>(kHeaderSize + length));
    const std::uint32_t crc = Crc32(std::span(pending_).subspan(1, kHeaderSize - 1 + length));
    frame.crcOk = crc == GetLe32(&pending_[kHeaderSize + length]);
    pending_.clear();
    frames.push_back(std::move(frame));
}

std::vector<std::uint8_t> FrameScanner::TakePending() {
    std::vector<std::uint8_t> out;
    out.swap(pending_);
    return out;
}

TransferSize ExpectedTransferSize(std::size_t agentLength, std::size_t imageLength) {
    TransferSize size;
    const auto blocks = [](std::size_t length) { return (length + kBlockSize - 1) / kBlockSize; };
    const std::uint64_t frames = 2 + blocks(agentLength) + blocks(imageLength);  // hello, blocks, end
    size.payloadBytes = agentLength + imageLength;
    size.hostBytes = frames * kFrameOverhead + kHelloSize + kEndSize + size.payloadBytes;
    size.deviceBytes = frames * kFrameOverhead + kEndAnswerSize;
    return size;
}

}  // namespace platform::flashproto
