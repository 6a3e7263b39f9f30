// The transfer protocol between the flash-download library and the boot loader
// of the device, over the serial line.
//
// Every message is a frame:
//
//   offset  size  field
//   0       1     start byte: 0xA5 from the program, 0x5A from the device
//   1       1     type (program) or answer code (device)
//   2       2     sequence number, little-endian
//   4       2     payload length n, little-endian
//   6       n     payload
//   6 + n   4     CRC-32 of bytes 1 .. 5 + n, little-endian
//
// The program sends, each frame with the next sequence number (from 0):
//   - one hello (type 1) with the chip, the parameters and the lengths and
//     CRCs of agent and image (kHelloSize bytes, layout below);
//   - the download agent in blocks of at most kBlockSize bytes (type 2);
//   - the image in blocks of at most kBlockSize bytes (type 3);
//   - an end (type 4) with the image's length and CRC-32.
// The device answers every frame with the frame's sequence number: ACK
// (go on), NAK (send it again) or REFUSE (give up). The answer to the end
// carries the length and CRC-32 of what the device stored. A frame that is
// sent again keeps its sequence number; the device acknowledges a repeated
// frame without storing it twice.
//
// Hello payload (kHelloSize bytes, little-endian):
//   0   8  chip name, NUL-padded ("MT3318", "MT3329")
//   8   4  agent parameter (0 when none was set)
//   12  4  speed code
//   16  4  download option
//   20  4  agent length       24  4  agent CRC-32
//   28  4  image length       32  4  image CRC-32
//   36  4  start address of the image's region
//
// The CRC is the standard CRC-32 (zlib's). Plain C++, no state outside the
// objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace platform::flashproto {

inline constexpr std::uint8_t kHostStart = 0xA5;
inline constexpr std::uint8_t kDeviceStart = 0x5A;

inline constexpr std::uint8_t kTypeHello = 0x01;
inline constexpr std::uint8_t kTypeAgent = 0x02;
inline constexpr std::uint8_t kTypeImage = 0x03;
inline constexpr std::uint8_t kTypeEnd = 0x04;

inline constexpr std::uint8_t kAnswerAck = 0x06;
inline constexpr std::uint8_t kAnswerNak = 0x15;
inline constexpr std::uint8_t kAnswerRefuse = 0x18;

inline constexpr std::size_t kHeaderSize = 6;
inline constexpr std::size_t kCrcSize = 4;
inline constexpr std::size_t kFrameOverhead = kHeaderSize + kCrcSize;
// Largest payload of a program frame and of a device answer.
inline constexpr std::size_t kMaxPayload = 4096;
inline constexpr std::size_t kMaxAnswerPayload = 64;
// Agent and image go in blocks of this size (the last one may be shorter).
inline constexpr std::size_t kBlockSize = 1024;

inline constexpr std::size_t kChipNameSize = 8;
inline constexpr std::size_t kHelloSize = 40;
inline constexpr std::size_t kEndSize = 8;
inline constexpr std::size_t kEndAnswerSize = 8;

std::uint32_t Crc32(std::span<const std::uint8_t> data);

void PutLe16(std::uint8_t* at, std::uint16_t value);
void PutLe32(std::uint8_t* at, std::uint32_t value);
std::uint16_t GetLe16(const std::uint8_t* at);
std::uint32_t GetLe32(const std::uint8_t* at);

// One whole frame.
std::vector<std::uint8_t> EncodeFrame(std::uint8_t start, std::uint8_t type, std::uint16_t sequence,
                                      std::span<const std::uint8_t> payload);

struct Hello {
    std::string chip;
    std::uint32_t agentParameter = 0;
    std::uint32_t speedCode = 0;
    std::uint32_t option = 0;
    std::uint32_t agentLength = 0;
    std::uint32_t agentCrc = 0;
    std::uint32_t imageLength = 0;
    std::uint32_t imageCrc = 0;
    std::uint32_t regionStart = 0;
};
std::vector<std::uint8_t> EncodeHello(const Hello& hello);
// False when the payload has the wrong size.
bool DecodeHello(std::span<const std::uint8_t> payload, Hello& hello);

// Length and CRC-32, as the end and its answer carry them.
std::vector<std::uint8_t> EncodeLengthCrc(std::uint32_t length, std::uint32_t crc);
bool DecodeLengthCrc(std::span<const std::uint8_t> payload, std::uint32_t& length, std::uint32_t& crc);

// Cuts the frames of one direction out of a byte stream. Bytes outside a
// frame are handed back as such; a frame with a length above the limit is
// no frame (its start byte counts as outside and the search goes on after
// it); a frame whose CRC is wrong is reported as bad, with its header.
class FrameScanner {
public:
    struct Frame {
        std::uint8_t type = 0;
        std::uint16_t sequence = 0;
        std::vector<std::uint8_t> payload;
        bool crcOk = false;
    };

    FrameScanner(std::uint8_t start, std::size_t maxPayload) : start_(start), maxPayload_(maxPayload) {}

    // Takes the next bytes; appends completed frames to `frames` and the bytes
    // found outside frames to `outside` (when given).
    void Feed(std::span<const std::uint8_t> bytes, std::vector<Frame>& frames, std::string* outside = nullptr);
    // True while a frame has begun but is not complete.
    bool InFrame() const { return !pending_.empty(); }
    // Forgets an unfinished frame; its bytes are returned.
    std::vector<std::uint8_t> TakePending();

private:
    void Take(std::uint8_t byte, std::vector<Frame>& frames, std::string* outside);

    std::uint8_t start_;
    std::size_t maxPayload_;
    std::vector<std::uint8_t> pending_;
};

// Bytes on the line, both ways, for a whole transfer without resends: frames
// and answers, hello and end included. The payload bytes are agent + image.
struct TransferSize {
    std::uint64_t hostBytes = 0;
    std::uint64_t deviceBytes = 0;
    std::uint64_t payloadBytes = 0;
    std::uint64_t Total() const { return hostBytes + deviceBytes; }
    // Bytes beyond the payload.
    std::uint64_t Overhead() const { return Total() - payloadBytes; }
};
TransferSize ExpectedTransferSize(std::size_t agentLength, std::size_t imageLength);

}  // namespace platform::flashproto
