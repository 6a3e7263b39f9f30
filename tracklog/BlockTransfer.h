// The block-transfer protocol to the logger: a binary, half-duplex exchange
// over the serial link, used in two directions by one engine:
//
//   read-out (device to PC), the track-log page:   BlockTransfer::ReadOut()
//   download (PC to device), the waypoint page:     BlockTransfer::WaypointDownload()
//
// Wire elements (CR = 0x0D, LF = 0x0A, numbers little-endian):
//
//   wake-up, download   "$PMTK182*21" CR LF, sent as written (13 bytes)
//   wake-up, read-out   "$PMTK182,<preCommand>*HH" CR LF, framed with its
//                       checksum; the device answers "$PMTK001,..." first
//   handshake           "$BEG" CR LF (useBeginHandshake) or "$STA" CR LF;
//                       the read-out sends none
//   request             "$TLG" / "$WRT" / "$SPT" / "$BMP", CR, LF
//   request answer      '!', block count (4), log start (4), log end (4)
//   block               514 bytes: byte 0 not looked at, byte 1 = sum of
//                       bytes 2..513 modulo 128, bytes 2..513 = 512 data bytes
//   block reply         "!" CR LF (good) or "@" CR LF (sum wrong: sent again)
//   header              "$MAP"/"$FNT"/"$TLG"/"$WRT"/"$GEO", totalSize (4), CR LF
//   packet              0x01, (sum of data) AND 0x7F, data, CR, LF
//   end                 "$END" CR LF
//
// Status characters: after the wake-up or handshake '!' ready, '$' refused,
// '?' not ready (read-out: the same port is tried again); after the request
// '!' accepted, '?' refused; after the header '!' accepted, '?' or '#'
// refused; after a packet '!' acknowledged, '@' sum wrong (the same packet
// again), '?' busy (the next pass sends nothing and waits); after a block or
// packet exchange '&' (or '?' in the read-out) continue, '^' abort; after
// "$END" '%' finished, '?' "$END" again.
//
// Packets: data bytes are taken from the file at the acknowledged offset
// until the data limit (512; 384 for "$FNT", 132 for "$GEO") or until an LF
// follows a CR inside the same packet: that LF is left for the next packet,
// so a line "ABC" CR LF goes out as "ABC" CR + CR LF and the next packet
// begins with the LF. A packet never reaches past the end of the file; the
// padding up to the announced size goes in packets of its own, filled with
// kPadByte.
//
// Timings (production, through platform/Clock.h): 1000 ms per wake-up
// attempt (plus 200 ms before each download attempt, 20 ms more in the first
// attempt), 300 ms before each block, 100 ms before the block count, 20 ms
// after the request and after each packet, 20 ms before each download
// "$END", 10 ms after the header, 10 ms before the download search moves on.
//
// Port search: the current port when CheckDevicePort recognises it (10
// attempts read-out, 80 download), else COM1 up to COM9 (300 / 30 attempts
// per port). An answer read in the last permitted attempt counts. A port is
// closed before the search moves on.
//
// Where the plain sequence would go wrong, the engine does the sound thing:
//  - every wait has a deadline (kAnswerTimeoutMs, kBlockTimeoutMs) and every
//    repeat a cap (bad sums, busy answers, '?' to the wake-up, "$END"
//    resends); a silent device ends the transfer with a failure text;
//  - a failure is returned to the caller (status and text), nothing closes
//    the program or a window;
//  - fixed-length answers (count, range, block) are read to exactly their
//    length, with a deadline, so a short read never shifts the stream;
//  - the CR/LF rule looks only inside the packet being built; packets never
//    run past the file nor carry bytes of an earlier packet;
//  - a second start while a transfer runs returns kBusy and sends nothing;
//  - the end phase ends after kEndReads reads even when no percentage was
//    shown (an empty transfer); an "$END" that cannot be written ends the
//    transfer as failed (kPortFailed), since the device never took it.
//
// Use on the track-log setting page (Upload, worker thread), after the save
// dialog:
//
//   BlockTransfer engine(link, BlockTransfer::ReadOut());  // a page member
//   theUtility.sendPmtkFirst = 1 (the button handler), then on the worker:
//   AtomicFile out; out.Open(path);
//   r = engine.ReadTrackLogBlocks([&](uint32_t, span data) {
//           return out.Write(data.data(), data.size()); }, callbacks);
//   r.ok() ? out.Commit() : out.Abandon(); a message box with r.text on
//   failure; "Upload Successfully. ..." only after a success.
//
// The blocks arrive in order, each at the offset after the one before, so a
// sequential writer is enough; the text and KML outputs decode each block
// instead. The waypoint page goes through tracklog/WaypointDownload.h.
//
// Threads: one transfer at a time per engine (an atomic busy flag). Runs on
// the page's worker; callbacks come on that thread, and the page hands them
// to the UI thread. RequestStop() may be called from any thread and makes
// the run end within a few milliseconds with kStopped.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class SerialLink;

namespace blocks {

inline constexpr std::size_t kBlockBytes = 514;
inline constexpr std::size_t kBlockDataBytes = 512;
inline constexpr std::size_t kPacketLimit = 512;
inline constexpr std::size_t kPacketLimitFnt = 384;
inline constexpr std::size_t kPacketLimitGeo = 132;
inline constexpr std::uint8_t kPacketStart = 0x01;
// Bytes sent after the end of the file up to the announced size.
inline constexpr std::uint8_t kPadByte = 0xFF;

inline constexpr std::string_view kWaypointWakeUp = "$PMTK182*21\r\n";
inline constexpr std::string_view kBlockGood = "!\r\n";
inline constexpr std::string_view kBlockBadSum = "@\r\n";
inline constexpr std::string_view kEnd = "$END\r\n";

// Production timings, milliseconds.
inline constexpr std::uint32_t kWakeWaitMs = 1000;
inline constexpr std::uint32_t kDownloadAttemptPauseMs = 200;
inline constexpr std::uint32_t kFirstAttemptExtraMs = 20;
inline constexpr std::uint32_t kBlockPauseMs = 300;
inline constexpr std::uint32_t kCountPauseMs = 100;
inline constexpr std::uint32_t kRequestPauseMs = 20;
inline constexpr std::uint32_t kPacketPauseMs = 20;
inline constexpr std::uint32_t kEndPauseMs = 20;
inline constexpr std::uint32_t kHeaderPauseMs = 10;
inline constexpr std::uint32_t kPortStepMs = 10;
// The read-out's own wake-up sender: polls for the sentence's reply.
inline constexpr int kPreCommandPolls = 10;
inline constexpr std::uint32_t kPreCommandPollMs = 100;

// Attempt limits of the port search.
inline constexpr int kReadOutAttemptsOnDevicePort = 10;
inline constexpr int kReadOutAttemptsFromCom1 = 300;
inline constexpr int kDownloadAttemptsOnDevicePort = 80;
inline constexpr int kDownloadAttemptsPerPort = 30;
inline constexpr int kPortsSearched = 9;  // COM1 .. COM9

// Bounds of the waits and repeats.
inline constexpr std::uint32_t kAnswerTimeoutMs = 5000;  // a status character
inline constexpr std::uint32_t kBlockTimeoutMs = 3000;   // a block, the count, the range
inline constexpr std::uint32_t kEmptyReadPauseMs = 1;    // between empty reads
inline constexpr int kMaxRepeats = 20;                   // "@" for one block or packet
inline constexpr int kMaxBusy = 50;                      // '?' for one packet
inline constexpr int kMaxStalled = 100;                  // packet passes in a row that move nothing
inline constexpr int kMaxWakeBusy = 30;                  // '?' to the read-out wake-up, per port
inline constexpr int kEndReads = 100;                    // single reads in the end phase
inline constexpr int kMaxEndResends = 10;                // '?' to "$END"
inline constexpr std::uint32_t kMaxBlocks = 65536;       // a larger count is no count
inline constexpr std::uint32_t kMaxDownloadBytes = 16u * 1024 * 1024;

// The transfer kinds, in the order the device's kinds are tested.
struct TransferKinds {
    bool flagMAP = false;
    bool flagFNT = false;
    bool flagMAP2 = false;
    bool flagTLG = false;
    bool flagBMP = false;
    bool flagGEO = false;
    bool flagWRT = false;
    bool flagSPT = false;
};

// "$TLG", "$WRT", "$SPT" or "$BMP" with CR LF (a later set flag wins); empty
// when none is set.
std::string RequestCommand(const TransferKinds& kinds);
// "$MAP"/"$FNT"/"$TLG"/"$WRT"/"$GEO", the size in 4 bytes, CR LF; empty when
// no kind is set.
std::string BlockHeader(const TransferKinds& kinds, std::uint32_t totalSize);
// The data limit of one packet.
std::size_t PacketDataLimit(const TransferKinds& kinds);
// Sum of the bytes modulo 128 (blocks and packets alike).
std::uint8_t SevenBitSum(std::span<const std::uint8_t> data);
// Byte 1 of a 514-byte block equals the sum of its 512 data bytes.
bool CheckBlockChecksum(std::span<const std::uint8_t> block);

// The packet that starts at `offset` of a transfer of `totalSize` bytes whose
// first file.size() bytes come from the file: appends it (start byte, sum,
// data, CR, LF) to `packet` and returns the number of data bytes.
std::size_t BuildPacket(std::span<const std::uint8_t> file, std::uint32_t offset, std::uint32_t totalSize,
                        std::size_t limit, std::string& packet);

}  // namespace blocks

enum class BlockTransferStatus {
    kDone,
    kBusy,             // a transfer runs already: nothing was done
    kCannotOpenFile,   // the source could not be read: nothing was sent
    kFileTooLarge,     // above kMaxDownloadBytes: nothing was sent
    kNoPort,           // no port from COM1 to COM9 opened (string 104)
    kNoResponse,       // no answer to the wake-up or handshake
    kRefused,          // '$' to the wake-up or handshake (string 103)
    kRequestRefused,   // '?' to the read-out request (string 109)
    kHeaderRefused,    // '?' to the download header (string 105)
    kHeaderStopped,    // '#' to the download header (string 106, stop icon)
    kAborted,          // '^' during blocks or packets (string 107)
    kDeviceSilent,     // an answer did not come in time during the transfer
    kTooManyRepeats,   // the device kept asking for the same data
    kBadAnswer,        // the device announced an impossible block count
    kPortFailed,       // the port could not be written
    kOutputFailed,     // the block receiver refused a block
    kStopped,          // RequestStop
};

const char* BlockTransferStatusName(BlockTransferStatus status);

struct BlockTransferResult {
    BlockTransferStatus status = BlockTransferStatus::kDone;
    int stringId = 0;       // the string of the message box, 0 for none
    bool stopIcon = false;  // the box shows the stop icon
    std::string text;       // what to tell the user; empty after success
    bool ok() const { return status == BlockTransferStatus::kDone; }
};

// The texts of the failures. The first is the device's own text; the string
// table holds none for the others (strings 103 to 109 are empty).
namespace blocks {
inline constexpr const char* kTextNoResponse = "Get no response from device. Please restart device again.";
inline constexpr const char* kTextBusy = "A transfer is already running.";
inline constexpr const char* kTextCannotOpenFile = "The file cannot be opened.";
inline constexpr const char* kTextFileTooLarge = "The file is too large for the device.";
inline constexpr const char* kTextNoPort = "No serial port from COM1 to COM9 could be opened.";
inline constexpr const char* kTextRefused = "The device refused the connection.";
inline constexpr const char* kTextRequestRefused = "The device refused the read-out.";
inline constexpr const char* kTextHeaderRefused = "The device refused the file.";
inline constexpr const char* kTextAborted = "The device aborted the transfer.";
inline constexpr const char* kTextDeviceSilent = "The device stopped answering during the transfer.";
inline constexpr const char* kTextTooManyRepeats = "The device kept asking for the same data; the transfer was stopped.";
inline constexpr const char* kTextBadAnswer = "The device sent an impossible answer.";
inline constexpr const char* kTextPortFailed = "The serial port could not be written.";
inline constexpr const char* kTextOutputFailed = "The received data could not be stored.";
inline constexpr const char* kTextStopped = "The transfer was stopped.";
// Status texts of the drivers.
inline constexpr const char* kStatusUploading = "Uploading...";
inline constexpr const char* kStatusDownloading = "Downloading...";
inline constexpr const char* kStatusFinishing = "Waiting for Finishing...";
}  // namespace blocks

// What the engine reports to its page while it runs (worker thread).
struct BlockTransferCallbacks {
    std::function<void(const std::string&)> status;                         // the status text
    std::function<void(int percent, const std::string& label)> progress;    // bar and "42%"
};

class BlockTransfer {
public:
    enum class Use { kReadOut, kDownload };

    struct Config {
        Use use = Use::kReadOut;
        blocks::TransferKinds kinds;
        bool useBeginHandshake = false;  // "$BEG" rather than "$STA"
        int preCommand = 5;              // the read-out's PMTK182 wake-up command
    };
    // The track-log read-out: "$TLG", wake-up PMTK182 command `preCommand`.
    static Config ReadOut(int preCommand = 5);
    // The waypoint download: "$WRT", "$BEG".
    static Config WaypointDownload();

    // `sendPmtkFirst`: the wake-up goes out while it is set, and the first
    // attempt clears it; null takes theUtility.sendPmtkFirst.
    BlockTransfer(SerialLink& link, Config config, std::atomic<int>* sendPmtkFirst = nullptr);
    BlockTransfer(const BlockTransfer&) = delete;
    BlockTransfer& operator=(const BlockTransfer&) = delete;

    // Set before a run, never during one.
    void SetConfig(const Config& config) { config_ = config; }
    const Config& GetConfig() const { return config_; }
    // The page's own PMTK182 sender for the read-out's wake-up (it sends the
    // sentence and takes its reply). Without one the engine sends it and
    // reads the reply line up to its LF.
    void SetPreCommandSender(std::function<void(int preCommand)> sender) { preCommandSender_ = std::move(sender); }

    // Receives each good block: its offset and its data, cut at the announced
    // size. False stops the read-out (kOutputFailed).
    using BlockSink = std::function<bool(std::uint32_t offset, std::span<const std::uint8_t> data)>;

    // The read-out: port search, request, blocks, "$END".
    // The callbacks are taken for this run only (once the run owns the
    // engine), so a refused second start cannot disturb the first.
    BlockTransferResult ReadTrackLogBlocks(const BlockSink& sink, const BlockTransferCallbacks& callbacks = {});
    // The download of `file`, announced as `totalSize` bytes (at least the
    // file's length; the rest is padding): port search, header, packets,
    // "$END".
    BlockTransferResult DownloadFileBlocks(std::span<const std::uint8_t> file, std::uint32_t totalSize,
                                           const BlockTransferCallbacks& callbacks = {});

    bool IsRunning() const { return running_.load(); }
    void RequestStop() { stopRequested_ = true; }

    // The state of the last or running transfer.
    std::uint32_t TotalSize() const { return totalSize_.load(); }
    std::uint32_t AckOffset() const { return ackOffset_.load(); }
    int Percent() const { return percent_.load(); }
    std::uint32_t LogStart() const { return logStart_; }
    std::uint32_t LogEnd() const { return logEnd_; }
    int PacketsSent() const { return packetsSent_; }  // packet writes, resends included

private:
    class RunGuard;
    enum class Found { kYes, kRefused, kNoResponse, kNoPort, kStopped };

    BlockTransferResult Fail(BlockTransferStatus status);
    // No answer came: a stop was asked for, or the device fell silent.
    BlockTransferResult FailUnanswered();
    // The closing phase, then done unless a stop was asked for meanwhile or
    // "$END" could not be written.
    BlockTransferResult Finish(bool pauseFirst);
    Found SearchPort();
    void SendWakeUp();
    void SendOwnPreCommand();
    bool SendTx(std::string_view bytes);
    // One read of up to `count` bytes (the pushed-back byte first).
    std::uint32_t ReceiveRx(std::uint8_t* buffer, std::uint32_t count);
    // Single bytes until one of `wanted`; 0 after timeoutMs or a stop.
    char WaitForStatus(std::string_view wanted, std::uint32_t timeoutMs);
    // Exactly `count` bytes within timeoutMs.
    bool ReadExact(std::uint8_t* buffer, std::size_t count, std::uint32_t timeoutMs);
    void ResetTransfer();
    void UpdateProgress();
    // False when "$END" could not be written.
    bool RunEndPhase(bool pauseFirst);
    bool Stopped() const { return stopRequested_.load(); }

    SerialLink& link_;
    Config config_;
    std::atomic<int>* sendPmtkFirst_;
    BlockTransferCallbacks callbacks_;
    std::function<void(int)> preCommandSender_;

    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<std::uint32_t> totalSize_{0};
    std::atomic<std::uint32_t> ackOffset_{0};
    std::atomic<int> percent_{0};
    std::uint32_t readOffset_ = 0;
    int lastPercent_ = 0;
    std::uint32_t logStart_ = 0;
    std::uint32_t logEnd_ = 0;
    int packetsSent_ = 0;
    std::string pushedBack_;  // bytes read past a reply line, read again first
};
