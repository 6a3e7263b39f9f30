#include "sim/FlashTarget.h"

#include <chrono>

#include "sim/DeviceSimulator.h"

namespace sim {

namespace fp = platform::flashproto;

// ---------------------------------------------------------------------------
// The engine.

std::string FlashTargetEngine::Feed(std::string_view bytes, std::string* outside) {
    bytesIn_ += bytes.size();
    std::vector<fp::FrameScanner::Frame> frames;
    scanner_.Feed(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), frames, outside);
    std::string out;
    for (const auto& frame : frames) {
        ++frames_;
        out += Handle(frame);
    }
    bytesOut_ += out.size();
    return out;
}

std::string FlashTargetEngine::Answer(std::uint8_t code, std::uint16_t sequence, std::span<const std::uint8_t> payload) {
    const std::vector<std::uint8_t> frame = fp::EncodeFrame(fp::kDeviceStart, code, sequence, payload);
    return std::string(frame.begin(), frame.end());
}

std::string FlashTargetEngine::Refuse(std::uint16_t sequence) {
    ++refusals_;
    phase_ = Phase::kIdle;
    return options_.silent ? std::string() : Answer(fp::kAnswerRefuse, sequence);
}

std::string FlashTargetEngine::Handle(const fp::FrameScanner::Frame& frame) {
    if (!frame.crcOk) {
        ++badFrames_;
        ++naks_;
        return options_.silent ? std::string() : Answer(fp::kAnswerNak, frame.sequence);
    }

    // A hello starts a new session, whatever came before.
    if (frame.type == fp::kTypeHello) {
        fp::Hello hello;
        if (!fp::DecodeHello(frame.payload, hello) || (!options_.chip.empty() && hello.chip != options_.chip) ||
            hello.agentLength == 0 || hello.agentLength > kMaxAgent || hello.imageLength == 0 ||
            hello.imageLength > kMaxImage) {
            return Refuse(frame.sequence);
        }
        helloSeen_ = true;
        hello_ = hello;
        agent_.clear();
        image_.clear();
        imageBlocks_ = 0;
        completed_ = false;
        phase_ = Phase::kAgent;
        expected_ = static_cast<std::uint16_t>(frame.sequence + 1);
        lastAnswer_ = Answer(fp::kAnswerAck, frame.sequence);
        return options_.silent ? std::string() : lastAnswer_;
    }

    if (phase_ == Phase::kIdle) {
        return Refuse(frame.sequence);
    }
    // A frame sent again because our answer was lost: answer it again.
    if (frame.sequence == static_cast<std::uint16_t>(expected_ - 1)) {
        ++duplicates_;
        return options_.silent ? std::string() : lastAnswer_;
    }
    if (frame.sequence != expected_ || phase_ == Phase::kDone) {
        return Refuse(frame.sequence);
    }

    std::vector<std::uint8_t> answerPayload;
    bool corrupt = false;
    switch (frame.type) {
        case fp::kTypeAgent:
            if (phase_ != Phase::kAgent || agent_.size() + frame.payload.size() > hello_.agentLength) {
                return Refuse(frame.sequence);
            }
            agent_.insert(agent_.end(), frame.payload.begin(), frame.payload.end());
            if (agent_.size() == hello_.agentLength) {
                if (fp::Crc32(agent_) != hello_.agentCrc) {
                    return Refuse(frame.sequence);
                }
                phase_ = Phase::kImage;
            }
            break;
        case fp::kTypeImage: {
            if (phase_ != Phase::kImage || image_.size() + frame.payload.size() > hello_.imageLength ||
                imageBlocks_ == options_.refuseImageBlock) {
                return Refuse(frame.sequence);
            }
            if (imageBlocks_ == options_.nakImageBlockOnce && !nakDone_) {
                nakDone_ = true;
                ++naks_;
                return options_.silent ? std::string() : Answer(fp::kAnswerNak, frame.sequence);
            }
            corrupt = imageBlocks_ == options_.corruptAnswerOnce && !corruptDone_;
            corruptDone_ = corruptDone_ || corrupt;
            image_.insert(image_.end(), frame.payload.begin(), frame.payload.end());
            ++imageBlocks_;
            break;
        }
        case fp::kTypeEnd: {
            std::uint32_t length = 0;
            std::uint32_t crc = 0;
            const std::uint32_t stored = fp::Crc32(image_);
            if (phase_ != Phase::kImage || !fp::DecodeLengthCrc(frame.payload, length, crc) ||
                length != image_.size() || length != hello_.imageLength || crc != stored) {
                return Refuse(frame.sequence);
            }
            answerPayload = fp::EncodeLengthCrc(static_cast<std::uint32_t>(image_.size()),
                                                options_.corruptEndCrc ? stored ^ 0xFFFFFFFFu : stored);
            phase_ = Phase::kDone;
            completed_ = true;
            break;
        }
        default:
            return Refuse(frame.sequence);
    }
    ++expected_;
    lastAnswer_ = Answer(fp::kAnswerAck, frame.sequence, answerPayload);
    if (options_.silent) {
        return {};
    }
    if (corrupt) {
        std::string broken = lastAnswer_;
        broken.back() = static_cast<char>(broken.back() ^ 0x5A);
        return broken;
    }
    return lastAnswer_;
}

// ---------------------------------------------------------------------------
// On the simulator.

FlashTarget::FlashTarget(DeviceSimulator& device, FlashTargetOptions options, bool attach)
    : device_(device), shared_(std::make_shared<Shared>()) {
    shared_->engine.SetOptions(options);
    if (attach) {
        Attach();
    }
}

FlashTarget::~FlashTarget() { Detach(); }

void FlashTarget::Attach() {
    if (attached_) {
        return;
    }
    attached_ = true;
    std::shared_ptr<Shared> shared = shared_;
    DeviceSimulator& device = device_;
    device_.SetRawFilter([shared, &device](std::string_view in) {
        std::string outside;
        std::string answer;
        {
            std::lock_guard lock(shared->mutex);
            answer = shared->engine.Feed(in, &outside);
        }
        if (!answer.empty()) {
            device.Send(answer);
        }
        shared->changed.notify_all();
        return outside;
    });
    device_.SetBehaviour("PQVR837", [shared](const Sentence&, SimContext&) {
        {
            std::lock_guard lock(shared->mutex);
            ++shared->selfChecks;
            if (shared->engine.Completed()) {
                ++shared->selfChecksAfterFlash;
            }
        }
        shared->changed.notify_all();
        return Replies{};
    });
}

void FlashTarget::Detach() {
    if (!attached_) {
        return;
    }
    attached_ = false;
    device_.SetRawFilter(nullptr);
    device_.RemoveBehaviour("PQVR837");
}

void FlashTarget::SetOptions(const FlashTargetOptions& options) {
    std::lock_guard lock(shared_->mutex);
    shared_->engine.SetOptions(options);
}

std::vector<std::uint8_t> FlashTarget::StoredImage() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->engine.Image();
}

std::vector<std::uint8_t> FlashTarget::StoredAgent() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->engine.Agent();
}

platform::flashproto::Hello FlashTarget::LastHello() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->engine.LastHello();
}

bool FlashTarget::HelloSeen() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->engine.HelloSeen();
}

bool FlashTarget::Completed() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->engine.Completed();
}

int FlashTarget::Refusals() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->engine.Refusals();
}

int FlashTarget::Duplicates() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->engine.Duplicates();
}

int FlashTarget::Frames() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->engine.Frames();
}

std::uint64_t FlashTarget::BytesIn() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->engine.BytesIn();
}

std::uint64_t FlashTarget::BytesOut() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->engine.BytesOut();
}

int FlashTarget::SelfChecks() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->selfChecks;
}

int FlashTarget::SelfChecksAfterFlash() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->selfChecksAfterFlash;
}

bool FlashTarget::WaitCompleted(int timeoutMs) const {
    std::unique_lock lock(shared_->mutex);
    return shared_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [this] { return shared_->engine.Completed(); });
}

bool FlashTarget::WaitSelfCheck(int timeoutMs) const {
    std::unique_lock lock(shared_->mutex);
    return shared_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [this] { return shared_->selfChecksAfterFlash > 0; });
}

}  // namespace sim
