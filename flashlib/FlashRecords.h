// The flash-download library's records, results and tokens: what the program
// and the library hand each other.
//
// Handles are 32-bit values, 0 meaning none. Results are 32-bit: 0 is
// success; a load succeeds when bits 8 to 15 of its result are 0
// (LoadSucceeded); Run returns 0 on success, 1 when the port could not be
// opened or the device never answered (the caller waits 1,500 ms before going
// on), anything else on other failures.
//
// The three argument records of Run keep a fixed little-endian byte layout;
// every byte not named is 0. Where a record holds an address (a callback, a
// user pointer, the boot record itself), it holds a 32-bit token instead,
// registered with FlashToken; the library maps the token back.
//
//   Port record, 16 bytes:
//     0   1  COM port number (1 .. 50); bytes 1 to 3 are 0
//     4   4  speed code: 4 = 460800 bit/s, 6 = 921600 bit/s, else 115200
//     8   4  answer time-out in ms per frame
//     12  4  hello time-out in ms per try
//   Boot record, 348 bytes:
//     16  4  download-agent handle
//     20  4  token of the agent's init callback (FlashInitCallback)
//     24  4  token of its user pointer
//     28  4  token of the agent's progress callback (FlashProgressCallback)
//     32  4  token of its user pointer
//     52  4  time-out in ms for the whole hello phase
//     56  4  1: check the agent's CRC before sending it
//     336 4  token of this boot record itself
//     340 1  1                 344 4  1
//   Download record, 444 bytes:
//     0   4  download handle
//     4   4  token of the image's init callback
//     8   4  token of its user pointer
//     16  4  token of the image's progress callback
//     20  4  token of its user pointer
//     392 4  1                 416 4  1
//     432 4  largest image accepted, in bytes
//
// Time-outs are bounded: a value of 0 or above the library's limit stands for
// the library's default (0x0FFFFFFF is the usual "default" value), so no run
// waits for ever. The init callbacks get the token of their user pointer as
// their 32-bit value; the progress callbacks get the percentage (0 .. 100),
// the bytes acknowledged so far, the total, and the user pointer itself. A
// callback returns 0; any other value stops the run.
//
// The token registry is locked by its own mutex; tokens may be made and
// resolved from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace platform {

using FlashHandle = std::uint32_t;

// Results. Every failure has a bit from 8 to 15 set, except kNoDevice.
namespace flashresult {
inline constexpr std::uint32_t kOk = 0;
inline constexpr std::uint32_t kNoDevice = 1;        // port not opened, or no answer to the hello
inline constexpr std::uint32_t kBadHandle = 0x0101;
inline constexpr std::uint32_t kFileNotFound = 0x0102;
inline constexpr std::uint32_t kBadFile = 0x0103;     // wrong format or CRC
inline constexpr std::uint32_t kWrongChip = 0x0104;
inline constexpr std::uint32_t kTooLarge = 0x0105;
inline constexpr std::uint32_t kNotReady = 0x0106;    // agent, scatter or image missing
inline constexpr std::uint32_t kBadPort = 0x0107;     // port number outside 1 .. 50
inline constexpr std::uint32_t kTimeout = 0x0108;     // the device stopped answering
inline constexpr std::uint32_t kRefused = 0x0109;     // the device refused a frame
inline constexpr std::uint32_t kCrcMismatch = 0x010A; // the device stored something else
inline constexpr std::uint32_t kBadRecord = 0x010B;   // a record or token that does not hold
inline constexpr std::uint32_t kLineFailed = 0x010C;  // writing to the port failed
inline constexpr std::uint32_t kCancelled = 0x010D;   // a callback returned non-zero
}  // namespace flashresult

// The success test on the result of a load.
constexpr bool LoadSucceeded(std::uint32_t result) { return (result & 0xFF00u) == 0; }

inline constexpr std::size_t kPortRecordSize = 16;
inline constexpr std::size_t kBootRecordSize = 348;
inline constexpr std::size_t kDownloadRecordSize = 444;
inline constexpr std::size_t kRunReportSize = 24;
using PortRecord = std::array<std::uint8_t, kPortRecordSize>;
using BootRecord = std::array<std::uint8_t, kBootRecordSize>;
using DownloadRecord = std::array<std::uint8_t, kDownloadRecordSize>;
using RunReport = std::array<std::uint8_t, kRunReportSize>;

// Offsets of the record fields (see above).
namespace flashrecord {
inline constexpr std::size_t kPortNumber = 0;
inline constexpr std::size_t kPortSpeed = 4;
inline constexpr std::size_t kPortAnswerTimeout = 8;
inline constexpr std::size_t kPortHelloTimeout = 12;
inline constexpr std::size_t kBootDaHandle = 16;
inline constexpr std::size_t kBootInitCallback = 20;
inline constexpr std::size_t kBootInitUser = 24;
inline constexpr std::size_t kBootProgressCallback = 28;
inline constexpr std::size_t kBootProgressUser = 32;
inline constexpr std::size_t kBootHelloPhaseTimeout = 52;
inline constexpr std::size_t kBootCheckAgent = 56;
inline constexpr std::size_t kBootSelf = 336;
inline constexpr std::size_t kBootFlag340 = 340;
inline constexpr std::size_t kBootFlag344 = 344;
inline constexpr std::size_t kDlHandle = 0;
inline constexpr std::size_t kDlInitCallback = 4;
inline constexpr std::size_t kDlInitUser = 8;
inline constexpr std::size_t kDlProgressCallback = 16;
inline constexpr std::size_t kDlProgressUser = 20;
inline constexpr std::size_t kDlFlag392 = 392;
inline constexpr std::size_t kDlFlag416 = 416;
inline constexpr std::size_t kDlMaxImage = 432;
// The run report.
inline constexpr std::size_t kReportResult = 0;
inline constexpr std::size_t kReportImageBytes = 4;
inline constexpr std::size_t kReportImageCrc = 8;
inline constexpr std::size_t kReportDeviceCrc = 12;
inline constexpr std::size_t kReportResends = 16;
inline constexpr std::size_t kReportFrames = 20;
}  // namespace flashrecord

// Stages of a run, as Run leaves them in its status value.
namespace flashstage {
inline constexpr std::uint32_t kNone = 0;
inline constexpr std::uint32_t kPortOpen = 1;
inline constexpr std::uint32_t kHelloDone = 2;
inline constexpr std::uint32_t kAgentDone = 3;
inline constexpr std::uint32_t kImageDone = 4;
inline constexpr std::uint32_t kEndDone = 5;
}  // namespace flashstage

void PutRecordU32(std::span<std::uint8_t> record, std::size_t offset, std::uint32_t value);
std::uint32_t GetRecordU32(std::span<const std::uint8_t> record, std::size_t offset);

using FlashInitCallback = int (*)(std::uint32_t value);
using FlashProgressCallback = int (*)(std::uint8_t percent, std::uint32_t done, std::uint32_t total, void* user);

// A token for an address, registered for the token's lifetime. Tokens are
// never 0 and never repeat while registered.
class FlashToken {
public:
    FlashToken() = default;
    explicit FlashToken(void* pointer);
    explicit FlashToken(FlashInitCallback callback);
    explicit FlashToken(FlashProgressCallback callback);
    ~FlashToken();
    FlashToken(FlashToken&& other) noexcept;
    FlashToken& operator=(FlashToken&& other) noexcept;
    FlashToken(const FlashToken&) = delete;
    FlashToken& operator=(const FlashToken&) = delete;

    std::uint32_t value() const { return value_; }

private:
    void Release();
    std::uint32_t value_ = 0;
};

// What a token stands for; null when it is unknown or of another kind.
void* ResolveFlashPointer(std::uint32_t token);
FlashInitCallback ResolveFlashInitCallback(std::uint32_t token);
FlashProgressCallback ResolveFlashProgressCallback(std::uint32_t token);
// Tokens registered at the moment (for leak tests).
std::size_t FlashTokenCount();

}  // namespace platform
