// The simulated device as a flash target: the boot loader's side of the
// transfer protocol of flashlib/FlashProtocol.h.
//
// FlashTargetEngine is the protocol alone: bytes from the line in, answer
// bytes out. It checks the hello (chip, lengths), takes the agent and the
// image block by block in sequence, acknowledges a repeated frame without
// storing it twice, checks the agent's CRC and the end's length and CRC, and
// keeps what it stored. Bytes outside frames are handed back, so sentences
// can go on to the sentence assembler.
//
// FlashTarget puts an engine on a DeviceSimulator: while attached, the
// simulator's raw input goes through the engine first, and the self-check
// sentence $PQVR837 that the program sends after a flash is counted.
//
//     sim::DeviceSimulator device(options);
//     sim::FlashTarget target(device, {.chip = "MT3329"});
//     device.Start();          // before or after attaching
//     ... the program flashes ...
//     target.WaitCompleted(5000);
//     target.StoredImage();
//
// Fault knobs: stay silent, refuse an image block, ask once for an image
// block again, send one answer with a broken CRC, report a wrong CRC for the
// stored image.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "flashlib/FlashProtocol.h"

namespace sim {

class DeviceSimulator;

struct FlashTargetOptions {
    std::string chip;             // the device's chip ("MT3318", "MT3329"); empty takes any
    bool silent = false;          // takes every frame and answers none
    int refuseImageBlock = -1;    // refuses this image block (0 = the first)
    int nakImageBlockOnce = -1;   // asks once for this image block again
    int corruptAnswerOnce = -1;   // the answer to this image block goes out once with a wrong CRC
    bool corruptEndCrc = false;   // reports a wrong CRC for the stored image
};

class FlashTargetEngine {
public:
    static constexpr std::size_t kMaxAgent = 64 * 1024;
    static constexpr std::size_t kMaxImage = 16u * 1024 * 1024;

    explicit FlashTargetEngine(FlashTargetOptions options = {}) : options_(std::move(options)) {}

    // Takes bytes from the line and returns the answer bytes; the bytes found
    // outside frames are appended to `outside` (when given).
    std::string Feed(std::string_view bytes, std::string* outside = nullptr);

    void SetOptions(const FlashTargetOptions& options) { options_ = options; }
    const FlashTargetOptions& Options() const { return options_; }

    bool HelloSeen() const { return helloSeen_; }
    const platform::flashproto::Hello& LastHello() const { return hello_; }
    const std::vector<std::uint8_t>& Agent() const { return agent_; }
    const std::vector<std::uint8_t>& Image() const { return image_; }
    // The end was acknowledged: the image is stored whole.
    bool Completed() const { return completed_; }
    // A session is under way (hello taken, no end yet, nothing refused).
    bool InSession() const { return phase_ == Phase::kAgent || phase_ == Phase::kImage; }

    int Frames() const { return frames_; }
    int BadFrames() const { return badFrames_; }
    int Duplicates() const { return duplicates_; }
    int Refusals() const { return refusals_; }
    int Naks() const { return naks_; }
    std::uint64_t BytesIn() const { return bytesIn_; }
    std::uint64_t BytesOut() const { return bytesOut_; }

private:
    enum class Phase { kIdle, kAgent, kImage, kDone };
    std::string Handle(const platform::flashproto::FrameScanner::Frame& frame);
    std::string Answer(std::uint8_t code, std::uint16_t sequence, std::span<const std::uint8_t> payload = {});
    std::string Refuse(std::uint16_t sequence);

    FlashTargetOptions options_;
    platform::flashproto::FrameScanner scanner_{platform::flashproto::kHostStart, platform::flashproto::kMaxPayload};
    Phase phase_ = Phase::kIdle;
    bool helloSeen_ = false;
    bool completed_ = false;
    platform::flashproto::Hello hello_;
    std::vector<std::uint8_t> agent_;
    std::vector<std::uint8_t> image_;
    int imageBlocks_ = 0;
    std::uint16_t expected_ = 0;
    std::string lastAnswer_;
    bool nakDone_ = false;
    bool corruptDone_ = false;
    int frames_ = 0;
    int badFrames_ = 0;
    int duplicates_ = 0;
    int refusals_ = 0;
    int naks_ = 0;
    std::uint64_t bytesIn_ = 0;
    std::uint64_t bytesOut_ = 0;
};

class FlashTarget {
public:
    explicit FlashTarget(DeviceSimulator& device, FlashTargetOptions options = {}, bool attach = true);
    ~FlashTarget();
    FlashTarget(const FlashTarget&) = delete;
    FlashTarget& operator=(const FlashTarget&) = delete;

    // Puts the engine in front of the simulator's sentence assembler and
    // takes the self-check sentence. Attach after the model's behaviours are
    // installed (the self-check behaviour replaces one of the same tag).
    void Attach();
    void Detach();

    void SetOptions(const FlashTargetOptions& options);

    std::vector<std::uint8_t> StoredImage() const;
    std::vector<std::uint8_t> StoredAgent() const;
    platform::flashproto::Hello LastHello() const;
    bool HelloSeen() const;
    bool Completed() const;
    int Refusals() const;
    int Duplicates() const;
    int Frames() const;
    std::uint64_t BytesIn() const;
    std::uint64_t BytesOut() const;
    // Self-check sentences taken in all, and after a completed flash.
    int SelfChecks() const;
    int SelfChecksAfterFlash() const;

    // Wait (real time) until the flash completed / a self-check came after it.
    bool WaitCompleted(int timeoutMs) const;
    bool WaitSelfCheck(int timeoutMs) const;

private:
    struct Shared {
        mutable std::mutex mutex;
        mutable std::condition_variable changed;
        FlashTargetEngine engine;
        int selfChecks = 0;
        int selfChecksAfterFlash = 0;
    };

    DeviceSimulator& device_;
    std::shared_ptr<Shared> shared_;
    bool attached_ = false;
};

}  // namespace sim
