// The logger's side of the block-transfer protocol, in both directions, with
// its own framing code (it checks the program's, so it shares none of it):
//
//   download:  wake-up "$PMTK182*21" CR LF (no answer), handshake "$BEG" or
//              "$STA" CR LF -> '!'; header "$WRT" + size (4, little-endian)
//              + CR LF -> '!'; each packet 0x01, sum, data, CR LF -> '!' '&';
//              "$END" CR LF -> '%'.
//   read-out:  "$PMTK182,<n>*HH" CR LF -> "$PMTK001,182,<n>,3*HH" CR LF, '!';
//              "$TLG" CR LF -> '!', block count, log start, log end (4 bytes
//              each) and the first block; "!" CR LF -> '&' and the next
//              block; "@" CR LF -> '&' and the same block again; "$END" CR
//              LF -> '%'.
//
// A block is 514 bytes: 0x02, the sum of the 512 data bytes modulo 128, the
// data (the served data padded with 0xFF to whole blocks).
//
// What it checks, each failure kept as a line in Errors(): the wake-up byte
// for byte; the order (request or header only after a '!' to the wake-up or
// handshake, packets only after an accepted header); every packet's start
// byte, sum, length (1 to 512 data bytes, 384 for "$FNT", 132 for "$GEO"),
// that it ends with CR LF and carries no CR LF inside, and that it does not
// reach past the announced size; a packet sent again after '@' or '?'
// repeats the earlier one byte for byte; the block replies are exactly
// "!" CR LF or "@" CR LF and name the block's sum rightly; "$END" comes after
// exactly the announced bytes or all blocks. Bytes outside any element are
// errors too.
//
// Knobs (BlockTargetOptions): refuse at a stage, abort after a block or
// packet, a wrong sum once (the read-out sends one block with a wrong sum;
// the download answers one packet '@'), busy wake-ups or handshakes ('?')
// before the '!', a busy packet ('?', then '!' when ready again, and the
// same packet is taken when it comes again), "$END" answered '?' once, and
// silence (from the start or after some blocks or packets).
//
// Without a simulator (a scripted port's responder): Feed takes the bytes of
// a write and returns the answer bytes. On the simulator:
//
//     auto target = sim::AttachBlockTarget(device, {.logData = bytes});
//
// puts the target in the simulator's raw input, so sentences that are not the
// protocol's go on to the simulator's behaviours.
//
// Locking: every member takes the one lock; Feed may run on the simulator's
// reader thread while a test reads the results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class DeviceSimulator;

enum class BlockStage {
    kNone,
    kWakeUp,      // '$' to the wake-up or handshake
    kRequest,     // '?' to the read-out request
    kHeader,      // '?' to the download header
    kHeaderStop,  // '#' to the download header
};

struct BlockTargetOptions {
    std::vector<std::uint8_t> logData{};  // what a read-out serves
    std::uint32_t logStart = 0;
    std::uint32_t logEnd = 0xFFFFFFFF;  // 0xFFFFFFFF: logStart + data size - 1
    BlockStage refuse = BlockStage::kNone;
    int abortAfter = -1;    // '^' after this block or packet (0 = the first)
    int badSumOnce = -1;    // this block or packet has a bad sum once
    int busyWakeUps = 0;    // '?' to this many wake-ups or handshakes first
    int busyPacket = -1;    // this packet is answered busy ...
    int busyTimes = 0;      // ... this many times
    bool endBusyOnce = false;  // '?' to the first "$END"
    bool silent = false;       // answers nothing at all
    int silentAfter = -1;      // answers nothing once this many blocks or packets are taken
};

class BlockTarget {
public:
    static constexpr std::size_t kBlockData = 512;

    explicit BlockTarget(BlockTargetOptions options = {});

    // Takes bytes from the line and returns the answer bytes. Complete lines
    // beginning with "$" that are not the protocol's go to `outside` when it
    // is given (else they are errors).
    std::string Feed(std::string_view bytes, std::string* outside = nullptr);

    void SetOptions(const BlockTargetOptions& options);

    // What came in.
    std::vector<std::uint8_t> Received() const;       // download data taken, in order
    std::vector<std::string> PacketData() const;      // data of each packet taken
    std::uint32_t AnnouncedSize() const;
    std::string HeaderTag() const;                    // "$WRT", ...
    std::vector<std::string> Elements() const;        // "wake-up", "$BEG", "$WRT 1024", "packet 14", "block 0", ...
    int Resends() const;                              // packets or blocks taken again after '@' or '?'
    int BlocksTaken() const;
    bool Completed() const;                           // "$END" after the whole transfer, no errors
    std::vector<std::string> Errors() const;

private:
    enum class State { kIdle, kReceiving, kServing };

    bool Step(std::string& out, std::string* outside);  // false: needs more bytes
    void OnLine(const std::string& line, std::string& out, std::string* outside);
    void OnHeader(const std::string& tag, std::uint32_t size, std::string& out);
    void OnPacket(std::uint8_t sum, const std::string& data, std::string& out);
    void OnBlockReply(char reply, std::string& out);
    void OnEnd(std::string& out);
    std::string ReadyAnswer(bool allAtOnce);
    std::string Block(std::uint32_t index, bool badSum) const;
    std::uint32_t BlockCount() const;
    bool SilentNow() const;
    void Error(std::string text);

    mutable std::mutex mutex_;
    BlockTargetOptions options_;
    std::string in_;
    State state_ = State::kIdle;
    bool ready_ = false;
    int busyLeft_ = 0;
    std::string tag_;
    std::uint32_t announced_ = 0;
    std::vector<std::uint8_t> received_;
    std::vector<std::string> packets_;
    std::string pendingPacket_;  // a packet not taken, waiting to come again
    bool badSumUsed_ = false;
    int busyUsed_ = 0;
    bool endBusyUsed_ = false;
    std::uint32_t block_ = 0;       // the block last served
    bool blockBad_ = false;         // it went out with a wrong sum
    int blocksTaken_ = 0;
    bool servedAll_ = false;
    int resends_ = 0;
    bool completed_ = false;
    bool ended_ = false;
    std::vector<std::string> elements_;
    std::vector<std::string> errors_;
};

// Puts a target in the simulator's raw input and returns it. The simulator
// sends its answers; lines that are not the protocol's go on to its
// sentence behaviours.
std::shared_ptr<BlockTarget> AttachBlockTarget(DeviceSimulator& device, const BlockTargetOptions& options = {});

}  // namespace sim
