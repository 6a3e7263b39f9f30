// The device's side of the serial update: takes the PTRV sentences, checks
// every one of them, decrypts and keeps the payload, and answers with
// "$PTRV001,<number>,<value>".
//
// What it checks, each failure kept as a line in Errors():
//   - framing: checksum right and written in upper-case hex;
//   - order: PTRV810, then PTRV819, then PTRV815 chunks, then PTRV811 (a new
//     PTRV810 starts over at any time);
//   - PTRV810,FWUPDATE,<decimal length>,<8 upper-case hex digits>, length at
//     most 131072;
//   - PTRV819,32,<64 lower-case hex digits>;
//   - PTRV815,<offset, 6 upper-case hex>,<n, upper-case hex, no leading
//     zeros>,<2n upper-case hex>: the offset is the number of bytes taken so
//     far, n is 114 or what is left; a chunk sent again repeats the earlier
//     sentence byte for byte (and is not decrypted again);
//   - PTRV811,FWUPDATE after exactly the announced number of bytes, whose CRC
//     (from 0xFFFFFFFF, not inverted) equals the announced one.
//
// Answers: 810 -> 1; 819 -> 1 (or the refusal value); a taken chunk -> 3 (a
// refused one -> the refusal value); 811 -> 1 when length and CRC are right,
// else 0. A sentence that breaks the rules is answered with 0 (a chunk with a
// wrong checksum, not at all).
//
// On the simulator (the behaviours accept bad checksums so they can be
// reported):
//
//     auto target = sim::InstallSerialUpdateTarget(device, {.refuseChunkTimes = 2});
//     ... run the update ...
//     EXPECT_TRUE(target->Complete());
//     EXPECT_EQ(target->Payload(), payload);
//
// Without a simulator (a scripted port's responder), AnswerBytes takes the
// bytes of a write and returns the framed answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "device/Arc4.h"
#include "sim/DeviceSimulator.h"
#include "sim/Framing.h"

namespace sim {

struct SerialUpdateOptions {
    bool refuseKey = false;       // answer the key with keyRefusalValue
    int keyRefusalValue = 0;
    int refuseChunk = 0;          // which chunk (0 = the first) is refused ...
    int refuseChunkTimes = 0;     // ... on this many of its sends
    int chunkRefusalValue = 2;
    bool silent = false;          // answer nothing at all
    int silentAfterChunks = -1;   // after taking this many chunks, answer nothing more (-1: never)
};

class SerialUpdateTarget {
public:
    static constexpr std::size_t kChunkBytes = 114;
    static constexpr std::uint32_t kMaxPayloadBytes = 131072;
    static constexpr std::size_t kKeyBytes = 32;

    explicit SerialUpdateTarget(SerialUpdateOptions options = {});

    // The answers to one sentence; sentences whose tag does not begin with
    // "PTRV" get none and are not looked at.
    Replies Answer(const Sentence& sentence);
    // The bytes of one write, as a port's responder: the framed answers.
    // Bytes that are no sentence count as errors.
    std::string AnswerBytes(std::string_view bytes);

    void SetOptions(const SerialUpdateOptions& options);
    SerialUpdateOptions Options() const;

    // What came in.
    std::vector<std::uint8_t> Payload() const;  // decrypted bytes taken so far
    std::vector<std::uint8_t> Key() const;
    bool Announced() const;
    std::uint32_t AnnouncedLength() const;
    std::uint32_t AnnouncedCrc() const;
    // The end sentence came after the whole payload with the right CRC, and
    // nothing broke the rules.
    bool Complete() const;
    std::vector<std::string> Errors() const;
    std::vector<std::string> Bodies() const;  // every PTRV body, in order
    int ChunksTaken() const;
    int ChunkSentences() const;  // every PTRV815 taken in, resends too
    int Resends() const;         // PTRV815 that repeated an earlier one
    int Refusals() const;        // chunk sends answered with the refusal value

private:
    enum class Stage { kIdle, kAnnounced, kKeyed, kEnded };

    Replies AnswerLocked(const Sentence& sentence);
    Replies OnAnnounce(const Sentence& s);
    Replies OnKey(const Sentence& s);
    Replies OnChunk(const Sentence& s);
    Replies OnEnd(const Sentence& s);
    void Error(std::string text);
    bool SilentNow() const;

    mutable std::mutex mutex_;
    SerialUpdateOptions options_;
    SentenceAssembler assembler_;
    Stage stage_ = Stage::kIdle;
    std::uint32_t announcedLength_ = 0;
    std::uint32_t announcedCrc_ = 0;
    bool announced_ = false;
    std::vector<std::uint8_t> key_;
    Arc4State cipher_;
    std::vector<std::uint8_t> payload_;
    std::string lastTakenBody_;
    std::uint32_t lastTakenOffset_ = 0;
    std::string pendingBody_;  // a refused chunk, waiting to be sent again
    bool complete_ = false;
    std::vector<std::string> errors_;
    std::vector<std::string> bodies_;
    int chunksTaken_ = 0;
    int chunkSentences_ = 0;
    int resends_ = 0;
    int refusals_ = 0;
};

// Puts a target behind the PTRV810, PTRV819, PTRV815 and PTRV811 tags of the
// simulator and returns it.
std::shared_ptr<SerialUpdateTarget> InstallSerialUpdateTarget(DeviceSimulator& device,
                                                              const SerialUpdateOptions& options = {});

// What the simulator's transcript shows that no serial update sends: broken
// frames, bad checksums and stray bytes, one line each.
std::vector<std::string> LineProblems(const DeviceSimulator& device);

}  // namespace sim
