#include "flashlib/FlashTransfer.h"

#include <algorithm>
#include <vector>

#include "flashlib/FlashProtocol.h"

namespace platform {

namespace fp = flashproto;

// ---------------------------------------------------------------------------
// The transfer.

int FlashSpeedBaud(std::uint32_t speedCode) {
    switch (speedCode) {
        case 4: return 460800;
        case 6: return 921600;
        default: return 115200;
    }
}

namespace {

class Transfer {
public:
    Transfer(SerialChannel& channel, const FlashTransferParams& params, FlashTransferStats& stats, Clock& clock)
        : channel_(channel), params_(params), stats_(stats), clock_(clock),
          scanner_(fp::kDeviceStart, fp::kMaxAnswerPayload) {}

    // Sends one frame until the device acknowledges it. `deadline` (when not
    // 0) bounds all tries together.
    std::uint32_t Exchange(std::uint8_t type, std::span<const std::uint8_t> payload, std::uint32_t timeoutMs,
                           int tries, std::uint64_t deadline, std::vector<std::uint8_t>* answer,
                           bool* answeredAtAll) {
        const std::vector<std::uint8_t> frame = fp::EncodeFrame(fp::kHostStart, type, sequence_, payload);
        bool refusedLast = false;
        for (int attempt = 0; attempt < std::max(tries, 1); ++attempt) {
            if (deadline != 0 && clock_.NowMs() >= deadline) {
                break;
            }
            if (attempt > 0) {
                ++stats_.resends;
            }
            if (!WriteAll(frame)) {
                return flashresult::kLineFailed;
            }
            ++stats_.frames;
            std::uint64_t until = clock_.NowMs() + timeoutMs;
            if (deadline != 0) {
                until = std::min(until, deadline);
            }
            refusedLast = false;
            for (;;) {
                const Answer a = Poll();
                if (a.code != 0) {
                    if (answeredAtAll) *answeredAtAll = true;
                    if (a.code == fp::kAnswerAck) {
                        if (answer) *answer = a.payload;
                        ++sequence_;
                        return flashresult::kOk;
                    }
                    if (a.code == fp::kAnswerRefuse) {
                        return flashresult::kRefused;
                    }
                    refusedLast = true;  // NAK: send it again
                    break;
                }
                if (clock_.NowMs() >= until) {
                    break;
                }
                clock_.SleepMs(params_.pollMs);
            }
        }
        return refusedLast ? flashresult::kRefused : flashresult::kTimeout;
    }

    void Purge() {
        channel_.Purge();
        scanner_.TakePending();
        queued_.clear();
    }

private:
    struct Answer {
        std::uint8_t code = 0;  // 0: none yet
        std::vector<std::uint8_t> payload;
    };

    // The answer to the current frame, if one has come. Answers to other
    // sequence numbers and answers with a bad CRC are passed over.
    Answer Poll() {
        std::uint8_t buffer[512];
        std::uint32_t got = 0;
        if (channel_.Read(buffer, sizeof buffer, &got) && got > 0) {
            stats_.bytesIn += got;
            scanner_.Feed(std::span(buffer, got), queued_);
        }
        while (!queued_.empty()) {
            fp::FrameScanner::Frame f = std::move(queued_.front());
            queued_.erase(queued_.begin());
            if (!f.crcOk || f.sequence != sequence_) {
                continue;
            }
            if (f.type == fp::kAnswerAck || f.type == fp::kAnswerNak || f.type == fp::kAnswerRefuse) {
                return {f.type, std::move(f.payload)};
            }
        }
        return {};
    }

    bool WriteAll(const std::vector<std::uint8_t>& bytes) {
        std::uint32_t written = 0;
        if (!channel_.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written) ||
            written != bytes.size()) {
            return false;
        }
        stats_.bytesOut += bytes.size();
        return true;
    }

    SerialChannel& channel_;
    const FlashTransferParams& params_;
    FlashTransferStats& stats_;
    Clock& clock_;
    fp::FrameScanner scanner_;
    std::vector<fp::FrameScanner::Frame> queued_;
    std::uint16_t sequence_ = 0;
};

std::uint8_t Percent(std::uint64_t done, std::uint64_t total) {
    return static_cast<std::uint8_t>(total == 0 ? 100 : std::min<std::uint64_t>(done * 100 / total, 100));
}

}  // namespace

std::uint32_t RunFlashTransfer(SerialChannel& channel, const FlashTransferParams& params,
                               const FlashTransferEvents& events, FlashTransferStats* statsOut, Clock* clock) {
    FlashTransferStats local;
    FlashTransferStats& stats = statsOut ? *statsOut : local;
    Clock& c = clock ? *clock : GetClock();
    if (params.agent.empty() || params.image.empty() || params.agent.size() > 0xFFFFFFFFu ||
        params.image.size() > 0xFFFFFFFFu) {
        return flashresult::kNotReady;
    }
    Transfer transfer(channel, params, stats, c);
    transfer.Purge();

    // Hello: the boot loader may need a moment, so it is sent a few times.
    fp::Hello hello;
    hello.chip = params.chip;
    hello.agentParameter = params.agentParameter;
    hello.speedCode = params.speedCode;
    hello.option = params.option;
    hello.agentLength = static_cast<std::uint32_t>(params.agent.size());
    hello.agentCrc = fp::Crc32(params.agent);
    hello.imageLength = static_cast<std::uint32_t>(params.image.size());
    hello.imageCrc = fp::Crc32(params.image);
    hello.regionStart = params.regionStart;
    stats.imageCrc = hello.imageCrc;
    bool answered = false;
    const std::uint64_t helloDeadline = c.NowMs() + params.helloPhaseTimeoutMs;
    std::uint32_t r = transfer.Exchange(fp::kTypeHello, fp::EncodeHello(hello), params.helloTimeoutMs,
                                        params.helloTries, helloDeadline, nullptr, &answered);
    if (r != flashresult::kOk) {
        return r == flashresult::kTimeout && !answered ? flashresult::kNoDevice : r;
    }
    stats.stage = flashstage::kHelloDone;

    // The agent, then the image, in blocks; progress as each is acknowledged.
    const auto send = [&](std::uint8_t type, std::span<const std::uint8_t> data,
                          const std::function<int(std::uint8_t, std::uint32_t, std::uint32_t)>& progress,
                          std::uint32_t* acked) -> std::uint32_t {
        const auto total = static_cast<std::uint32_t>(data.size());
        std::uint32_t done = 0;
        while (done < total) {
            const std::uint32_t n = std::min<std::uint32_t>(total - done, fp::kBlockSize);
            const std::uint32_t result =
                transfer.Exchange(type, data.subspan(done, n), params.answerTimeoutMs, params.frameTries, 0, nullptr, nullptr);
            if (result != flashresult::kOk) {
                return result;
            }
            done += n;
            if (acked) *acked = done;
            if (progress && progress(Percent(done, total), done, total) != 0) {
                return flashresult::kCancelled;
            }
        }
        return flashresult::kOk;
    };
    if (events.agentInit && events.agentInit() != 0) {
        return flashresult::kCancelled;
    }
    r = send(fp::kTypeAgent, params.agent, events.agentProgress, nullptr);
    if (r != flashresult::kOk) {
        return r;
    }
    stats.stage = flashstage::kAgentDone;
    if (events.imageInit && events.imageInit() != 0) {
        return flashresult::kCancelled;
    }
    r = send(fp::kTypeImage, params.image, events.imageProgress, &stats.imageBytesAcked);
    if (r != flashresult::kOk) {
        return r;
    }
    stats.stage = flashstage::kImageDone;

    // The end: the device says what it stored.
    std::vector<std::uint8_t> answer;
    r = transfer.Exchange(fp::kTypeEnd, fp::EncodeLengthCrc(hello.imageLength, hello.imageCrc),
                          params.answerTimeoutMs, params.frameTries, 0, &answer, nullptr);
    if (r != flashresult::kOk) {
        return r;
    }
    if (!fp::DecodeLengthCrc(answer, stats.deviceLength, stats.deviceCrc) ||
        stats.deviceLength != hello.imageLength || stats.deviceCrc != hello.imageCrc) {
        return flashresult::kCrcMismatch;
    }
    stats.stage = flashstage::kEndDone;
    return flashresult::kOk;
}

}  // namespace platform
