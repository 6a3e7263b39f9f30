// The serial update: the payload goes to the running device over the serial
// port in PTRV sentences, ARC4-encrypted, instead of through the flash
// library. Execute chooses it for a "ZEP ION" with hardware "V04" and
// firmware above 300 (FlashDownloader::UsesSerialUpdate).
//
// The exchange, each sentence framed "$body*HH\r\n" and answered by the
// device with "$PTRV001,<number>,<value>*HH\r\n":
//
//   PTRV810,FWUPDATE,<length>,<CRC, 8 hex>    announcement; value not looked at
//   PTRV819,32,<key, 64 lower-case hex>       the ARC4 key; value 1 = taken
//   PTRV815,<offset, 6 hex>,<n, hex>,<data>   one chunk of up to 114 encrypted
//                                             bytes; value 3 = taken, anything
//                                             else (or nothing) sends it again,
//                                             9 sends in all
//   PTRV811,FWUPDATE                          end; value not looked at
//
// The CRC is Crc32Update over the whole payload from 0xFFFFFFFF without the
// final inversion. One ARC4 keystream runs through all chunks; a chunk sent
// again is the same sentence, byte for byte.
//
// Use on the update page, in Execute (user-interface thread), when
// FlashDownloader::UsesSerialUpdate(...) holds:
//
//   copy the port settings into the page's SerialLink (linkPortName,
//   linkBaudRate), as for the flash download;
//   updater.SetPayloadPath(tempPayloadPath);
//   start a worker thread that calls updater.RunAppUpdate(); join it before
//   the page goes away (RequestStop() first makes it end within a few ms).
//
// The worker calls the host from its own thread; the host hands each call on
// to the user-interface thread. ShowMessage may block until the box is
// closed.
//
// Where the plain sequence would go wrong, the worker does the sound thing:
//  - every failure closes the port, deletes the temporary payload, shows
//    string 447 and enables the main window's OK and About buttons, as the
//    flash download does, after the English message box;
//  - an empty payload is refused before the port is opened;
//  - the payload is read once into memory, so chunks never depend on reads
//    of the file coming back short;
//  - an acknowledgement that a "$" interrupts starts again at that "$";
//    sentences too short for the checksum, or longer than the 256-byte
//    buffer, are dropped;
//  - each acknowledgement wait is bounded by wall-clock time as well as by
//    its count of empty reads, so a line full of noise cannot hold it;
//  - input is purged before every chunk sentence, so an acknowledgement that
//    came late for one send is not taken for the next;
//  - the final percentage reads "100%".
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/UpdateHost.h"

class SerialLink;

namespace trv {

// Sentence numbers.
inline constexpr int kAnnounce = 810;
inline constexpr int kKey = 819;
inline constexpr int kChunk = 815;
inline constexpr int kEnd = 811;

inline constexpr std::size_t kChunkBytes = 114;
inline constexpr std::size_t kMaxPayloadBytes = 131072;
inline constexpr std::size_t kKeyBytes = 32;
// One acknowledgement, from after its "$" to its LF.
inline constexpr std::size_t kAckBufferBytes = 256;
// Empty reads allowed per acknowledgement, one 1 ms sleep each.
inline constexpr int kAckLimit = 1000;
// Wall-clock bound of an acknowledgement wait, per allowed empty read.
inline constexpr std::uint32_t kAckMsPerEmptyRead = 3;
// Sends of one chunk before the update gives up.
inline constexpr int kChunkSends = 9;
// Acknowledgement values that mean "taken".
inline constexpr int kKeyTaken = 1;
inline constexpr int kChunkTaken = 3;

// XOR of the characters of a text (the sentence checksum).
unsigned char NmeaChecksum(std::string_view text);

// Sentence bodies.
std::string AnnouncementBody(std::uint32_t length, std::uint32_t crc);  // "PTRV810,FWUPDATE,%d,%08X"
std::string KeyBody(std::span<const std::uint8_t> key);                 // "PTRV819,%d," + "%02x" each
std::string ChunkBody(std::uint32_t offset, std::span<const std::uint8_t> encrypted);  // "PTRV815,%06X,%X," + "%02X" each
std::string EndBody();                                                  // "PTRV811,FWUPDATE"
// What an acknowledgement body begins with: "PTRV001,<number>".
std::string AckPrefix(int number);

// Assembles acknowledgements from single bytes. Outside a sentence every
// byte but "$" is dropped; "$" (also inside a sentence) starts a sentence
// with an empty buffer. At LF the sentence "<body>*HH\r\n" is checked: a "*"
// and CR in their places, the two checksum digits equal to the body's XOR
// in upper-case hex, and the body beginning with AckPrefix(number). Then the
// value is the body's last character minus '0'. Anything else is dropped,
// as is a sentence that fills the buffer before its LF.
class AckReader {
public:
    explicit AckReader(int number);
    std::optional<int> Feed(char c);
    bool InsideSentence() const { return inside_; }

private:
    std::string expected_;
    std::array<char, kAckBufferBytes> buffer_{};
    std::size_t length_ = 0;
    bool inside_ = false;
};

}  // namespace trv

// The page's side of the serial update. Calls come from the worker thread.
class SerialUpdateHost : public virtual UpdateProgressHost {
public:
    // The application's message box with an OK button and one of the
    // English texts below.
    virtual void ShowMessage(const std::string& text) = 0;
};

enum class SerialUpdateResult {
    NotRun,
    Done,
    CannotOpenFile,  // "Fail to open golf data file"
    EmptyPayload,    // "Fail to open golf data file"
    TooLarge,        // "File size should be less than 128KB!!"
    CannotOpenPort,  // "Fail to open CommPort"
    KeyRefused,      // "Fail to send arc4 key"
    ChunkRefused,    // "Fail to update golf data"
    Stopped,         // RequestStop during the run; no message
};

const char* SerialUpdateResultName(SerialUpdateResult result);

class SerialUpdater {
public:
    // String-table ids.
    static constexpr int kStringSending = 408;
    static constexpr int kStringExpanding = 409;
    static constexpr int kStringDone = 411;
    static constexpr int kStringFailed = 447;

    // The English message texts.
    static constexpr const char* kMsgCannotOpenFile = "Fail to open golf data file";
    static constexpr const char* kMsgTooLarge = "File size should be less than 128KB!!";
    static constexpr const char* kMsgCannotOpenPort = "Fail to open CommPort";
    static constexpr const char* kMsgKeyRefused = "Fail to send arc4 key";
    static constexpr const char* kMsgChunkRefused = "Fail to update golf data";
    // An empty payload has nothing to send: the file's text.
    static constexpr const char* kMsgEmptyPayload = kMsgCannotOpenFile;

    SerialUpdater(SerialUpdateHost& host, SerialLink& link);
    SerialUpdater(const SerialUpdater&) = delete;
    SerialUpdater& operator=(const SerialUpdater&) = delete;

    // The temporary payload file of the accepted update file. Set before the
    // worker starts, never during a run.
    void SetPayloadPath(const std::string& tempPayloadPath) { payloadPath_ = tempPayloadPath; }
    const std::string& PayloadPath() const { return payloadPath_; }

    // The worker's whole job: 1 after a complete transfer, 0 after a failure
    // (or a stop).
    int RunAppUpdate();

    // Makes a running RunAppUpdate end soon, without a message box.
    void RequestStop() { stopRequested_ = true; }
    bool StopRequested() const { return stopRequested_.load(); }
    bool IsRunning() const { return running_.load(); }
    SerialUpdateResult Result() const { return result_.load(); }
    // Chunk sentences written in the last run, first sends and resends.
    int ChunkSends() const { return chunkSends_.load(); }

    // The 32-byte key, the same for every run.
    static std::array<std::uint8_t, trv::kKeyBytes> BuildKey();

    // Frames the body and writes it in one write; true when all of it went.
    static bool SendTrvSentence(SerialLink& link, std::string_view body);

    // Waits for the acknowledgement of sentence `number`, reading one byte at
    // a time with a 1 ms sleep after each empty read. Returns its value, or 0
    // when `limit` empty reads have happened (counted over the whole wait),
    // when limit x kAckMsPerEmptyRead ms have passed, or when *stop is set.
    static int WaitTrvAck(SerialLink& link, int number, int limit, const std::atomic<bool>* stop = nullptr);

private:
    int Fail(SerialUpdateResult result, const char* message);
    // Whole file into payload_; a result other than Done on failure.
    SerialUpdateResult LoadPayload();

    SerialUpdateHost& host_;
    SerialLink& link_;
    std::string payloadPath_;
    std::vector<std::uint8_t> payload_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> running_{false};
    std::atomic<SerialUpdateResult> result_{SerialUpdateResult::NotRun};
    std::atomic<int> chunkSends_{0};
};
