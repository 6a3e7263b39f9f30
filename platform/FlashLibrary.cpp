#include "platform/FlashLibrary.h"

#include <algorithm>
#include <unordered_map>

#include "platform/FlashFiles.h"
#include "platform/FlashProtocol.h"
#include "platform/ComPortName.h"
#include "platform/Trace.h"

namespace platform {

namespace fp = flashproto;
namespace ff = flashfiles;
namespace rec = flashrecord;

// ---------------------------------------------------------------------------
// Records.

void PutRecordU32(std::span<std::uint8_t> record, std::size_t offset, std::uint32_t value) {
    if (offset + 4 <= record.size()) {
        fp::PutLe32(record.data() + offset, value);
    }
}

std::uint32_t GetRecordU32(std::span<const std::uint8_t> record, std::size_t offset) {
    return offset + 4 <= record.size() ? fp::GetLe32(record.data() + offset) : 0;
}

// ---------------------------------------------------------------------------
// Tokens.

namespace {

struct TokenEntry {
    enum class Kind { kPointer, kInit, kProgress } kind = Kind::kPointer;
    void* pointer = nullptr;
    FlashInitCallback init = nullptr;
    FlashProgressCallback progress = nullptr;
};

struct TokenRegistry {
    std::mutex mutex;
    std::unordered_map<std::uint32_t, TokenEntry> entries;
    std::uint32_t next = 0x00010000;
};

TokenRegistry& Tokens() {
    static TokenRegistry registry;
    return registry;
}

std::uint32_t RegisterToken(const TokenEntry& entry) {
    TokenRegistry& r = Tokens();
    std::lock_guard lock(r.mutex);
    std::uint32_t value = 0;
    do {
        value = r.next++;
        if (r.next == 0) {
            r.next = 0x00010000;
        }
    } while (value == 0 || r.entries.count(value) != 0);
    r.entries.emplace(value, entry);
    return value;
}

bool LookUp(std::uint32_t token, TokenEntry& out) {
    if (token == 0) {
        return false;
    }
    TokenRegistry& r = Tokens();
    std::lock_guard lock(r.mutex);
    const auto it = r.entries.find(token);
    if (it == r.entries.end()) {
        return false;
    }
    out = it->second;
    return true;
}

}  // namespace

FlashToken::FlashToken(void* pointer) {
    if (pointer) {
        TokenEntry e;
        e.kind = TokenEntry::Kind::kPointer;
        e.pointer = pointer;
        value_ = RegisterToken(e);
    }
}

FlashToken::FlashToken(FlashInitCallback callback) {
    if (callback) {
        TokenEntry e;
        e.kind = TokenEntry::Kind::kInit;
        e.init = callback;
        value_ = RegisterToken(e);
    }
}

FlashToken::FlashToken(FlashProgressCallback callback) {
    if (callback) {
        TokenEntry e;
        e.kind = TokenEntry::Kind::kProgress;
        e.progress = callback;
        value_ = RegisterToken(e);
    }
}

FlashToken::~FlashToken() { Release(); }

FlashToken::FlashToken(FlashToken&& other) noexcept : value_(other.value_) { other.value_ = 0; }

FlashToken& FlashToken::operator=(FlashToken&& other) noexcept {
    if (this != &other) {
        Release();
        value_ = other.value_;
        other.value_ = 0;
    }
    return *this;
}

void FlashToken::Release() {
    if (value_ != 0) {
        TokenRegistry& r = Tokens();
        std::lock_guard lock(r.mutex);
        r.entries.erase(value_);
        value_ = 0;
    }
}

void* ResolveFlashPointer(std::uint32_t token) {
    TokenEntry e;
    return LookUp(token, e) && e.kind == TokenEntry::Kind::kPointer ? e.pointer : nullptr;
}

FlashInitCallback ResolveFlashInitCallback(std::uint32_t token) {
    TokenEntry e;
    return LookUp(token, e) && e.kind == TokenEntry::Kind::kInit ? e.init : nullptr;
}

FlashProgressCallback ResolveFlashProgressCallback(std::uint32_t token) {
    TokenEntry e;
    return LookUp(token, e) && e.kind == TokenEntry::Kind::kProgress ? e.progress : nullptr;
}

std::size_t FlashTokenCount() {
    TokenRegistry& r = Tokens();
    std::lock_guard lock(r.mutex);
    return r.entries.size();
}

// ---------------------------------------------------------------------------
// The process-wide library.

namespace {
FlashStandIn& DefaultLibrary() {
    static FlashStandIn library;
    return library;
}
std::atomic<FlashLibrary*> g_library{nullptr};
}  // namespace

FlashLibrary& GetFlashLibrary() {
    FlashLibrary* library = g_library.load(std::memory_order_acquire);
    return library ? *library : DefaultLibrary();
}

FlashLibrary* SetFlashLibrary(FlashLibrary* library) {
    return g_library.exchange(library, std::memory_order_acq_rel);
}

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

// ---------------------------------------------------------------------------
// The stand-in's objects.

struct FlashStandIn::Agent {
    std::uint32_t parameter = 0;
    bool loaded = false;
    ff::AgentFile file;
    std::uint32_t codeCrc = 0;
};

struct FlashStandIn::Download {
    bool scatterLoaded = false;
    std::vector<ff::ScatterRegion> regions;
    std::uint32_t option = 0;
    bool imageLoaded = false;
    bool imageEnabled = false;
    std::vector<std::uint8_t> image;
};

namespace {
std::uint32_t ResultOf(ff::FileStatus status) {
    switch (status) {
        case ff::FileStatus::Ok: return flashresult::kOk;
        case ff::FileStatus::CannotOpen: return flashresult::kFileNotFound;
        case ff::FileStatus::TooLarge: return flashresult::kTooLarge;
        case ff::FileStatus::BadChip: return flashresult::kWrongChip;
        case ff::FileStatus::ReadFailed:
        case ff::FileStatus::BadFormat:
        case ff::FileStatus::BadCrc:
        case ff::FileStatus::WriteFailed: break;
    }
    return flashresult::kBadFile;
}

std::uint32_t Bounded(std::uint32_t value, std::uint32_t limit, std::uint32_t fallback) {
    return value == 0 || value > limit ? fallback : value;
}
}  // namespace

FlashStandIn::FlashStandIn() = default;
FlashStandIn::~FlashStandIn() = default;

FlashHandle FlashStandIn::NextHandle() {
    FlashHandle h = 0;
    do {
        h = nextHandle_++;
    } while (h == 0 || agents_.count(h) != 0 || downloads_.count(h) != 0);
    return h;
}

std::shared_ptr<FlashStandIn::Agent> FlashStandIn::FindAgent(FlashHandle handle) const {
    const auto it = agents_.find(handle);
    return it == agents_.end() ? nullptr : it->second;
}

std::shared_ptr<FlashStandIn::Download> FlashStandIn::FindDownload(FlashHandle handle) const {
    const auto it = downloads_.find(handle);
    return it == downloads_.end() ? nullptr : it->second;
}

std::uint32_t FlashStandIn::CreateDaHandle(FlashHandle* daHandle) {
    if (!daHandle) return flashresult::kBadHandle;
    std::lock_guard lock(mutex_);
    const FlashHandle h = NextHandle();
    agents_[h] = std::make_shared<Agent>();
    *daHandle = h;
    return flashresult::kOk;
}

std::uint32_t FlashStandIn::CreateDlHandle(FlashHandle* dlHandle) {
    if (!dlHandle) return flashresult::kBadHandle;
    std::lock_guard lock(mutex_);
    const FlashHandle h = NextHandle();
    downloads_[h] = std::make_shared<Download>();
    *dlHandle = h;
    return flashresult::kOk;
}

std::uint32_t FlashStandIn::SetDaParameter(FlashHandle daHandle, std::uint32_t value) {
    std::lock_guard lock(mutex_);
    const auto agent = FindAgent(daHandle);
    if (!agent) return flashresult::kBadHandle;
    agent->parameter = value;
    return flashresult::kOk;
}

std::uint32_t FlashStandIn::LoadDa(FlashHandle daHandle, const char* path) {
    {
        std::lock_guard lock(mutex_);
        if (!FindAgent(daHandle)) return flashresult::kBadHandle;
    }
    ff::AgentFile file;
    const ff::FileStatus status = path ? ff::ReadAgentFile(path, file) : ff::FileStatus::CannotOpen;
    std::lock_guard lock(mutex_);
    const auto agent = FindAgent(daHandle);
    if (!agent) return flashresult::kBadHandle;
    if (status != ff::FileStatus::Ok) {
        TraceF("flash: download agent %s: %s\n", path ? path : "(none)", ff::FileStatusName(status));
        return ResultOf(status);
    }
    agent->codeCrc = fp::Crc32(file.code);
    agent->file = std::move(file);
    agent->loaded = true;
    return flashresult::kOk;
}

std::uint32_t FlashStandIn::LoadScatter(FlashHandle dlHandle, const char* path) {
    {
        std::lock_guard lock(mutex_);
        if (!FindDownload(dlHandle)) return flashresult::kBadHandle;
    }
    std::vector<ff::ScatterRegion> regions;
    const ff::FileStatus status = path ? ff::ReadScatterFile(path, regions) : ff::FileStatus::CannotOpen;
    std::lock_guard lock(mutex_);
    const auto download = FindDownload(dlHandle);
    if (!download) return flashresult::kBadHandle;
    if (status != ff::FileStatus::Ok) {
        TraceF("flash: scatter file %s: %s\n", path ? path : "(none)", ff::FileStatusName(status));
        return ResultOf(status);
    }
    download->regions = std::move(regions);
    download->scatterLoaded = true;
    return flashresult::kOk;
}

std::uint32_t FlashStandIn::SetDlOption(FlashHandle dlHandle, std::uint32_t value) {
    std::lock_guard lock(mutex_);
    const auto download = FindDownload(dlHandle);
    if (!download) return flashresult::kBadHandle;
    download->option = value;
    return flashresult::kOk;
}

std::uint32_t FlashStandIn::LoadImage(FlashHandle dlHandle, std::uint32_t index, const char* path) {
    {
        std::lock_guard lock(mutex_);
        if (!FindDownload(dlHandle)) return flashresult::kBadHandle;
    }
    if (index != 0) return flashresult::kBadRecord;
    std::vector<std::uint8_t> bytes;
    const ff::FileStatus status = path ? ff::ReadWholeFile(path, kMaxImageFile, bytes) : ff::FileStatus::CannotOpen;
    std::lock_guard lock(mutex_);
    const auto download = FindDownload(dlHandle);
    if (!download) return flashresult::kBadHandle;
    if (status != ff::FileStatus::Ok) {
        TraceF("flash: image %s: %s\n", path ? path : "(none)", ff::FileStatusName(status));
        return ResultOf(status);
    }
    if (bytes.empty()) return flashresult::kBadFile;
    if (download->scatterLoaded && bytes.size() > download->regions.front().length) {
        return flashresult::kTooLarge;
    }
    download->image = std::move(bytes);
    download->imageLoaded = true;
    download->imageEnabled = false;
    return flashresult::kOk;
}

std::uint32_t FlashStandIn::EnableImage(FlashHandle dlHandle, std::uint32_t index, std::uint32_t on) {
    std::lock_guard lock(mutex_);
    const auto download = FindDownload(dlHandle);
    if (!download) return flashresult::kBadHandle;
    if (index != 0) return flashresult::kBadRecord;
    if (!download->imageLoaded) return flashresult::kNotReady;
    download->imageEnabled = on != 0;
    return flashresult::kOk;
}

std::uint32_t FlashStandIn::UnloadDa(FlashHandle daHandle) {
    std::lock_guard lock(mutex_);
    const auto agent = FindAgent(daHandle);
    if (!agent) return flashresult::kBadHandle;
    agent->loaded = false;
    agent->file = {};
    return flashresult::kOk;
}

std::uint32_t FlashStandIn::UnloadImage(FlashHandle dlHandle, std::uint32_t index) {
    std::lock_guard lock(mutex_);
    const auto download = FindDownload(dlHandle);
    if (!download) return flashresult::kBadHandle;
    if (index != 0) return flashresult::kBadRecord;
    download->image.clear();
    download->image.shrink_to_fit();
    download->imageLoaded = false;
    download->imageEnabled = false;
    return flashresult::kOk;
}

std::uint32_t FlashStandIn::DestroyDaHandle(FlashHandle* daHandle) {
    if (!daHandle) return flashresult::kBadHandle;
    std::lock_guard lock(mutex_);
    if (agents_.erase(*daHandle) == 0) return flashresult::kBadHandle;
    *daHandle = 0;
    return flashresult::kOk;
}

std::uint32_t FlashStandIn::DestroyDlHandle(FlashHandle* dlHandle) {
    if (!dlHandle) return flashresult::kBadHandle;
    std::lock_guard lock(mutex_);
    if (downloads_.erase(*dlHandle) == 0) return flashresult::kBadHandle;
    *dlHandle = 0;
    return flashresult::kOk;
}

std::size_t FlashStandIn::LiveHandles() const {
    std::lock_guard lock(mutex_);
    return agents_.size() + downloads_.size();
}

FlashTransferStats FlashStandIn::LastStats() const {
    std::lock_guard lock(mutex_);
    return lastStats_;
}

std::uint32_t FlashStandIn::Run(const PortRecord* port, const BootRecord* boot, const DownloadRecord* download,
                                std::uint32_t* status, RunReport* report) {
    FlashTransferStats stats;
    const auto finish = [&](std::uint32_t result) {
        if (status) *status = stats.stage;
        if (report) {
            PutRecordU32(*report, rec::kReportResult, result);
            PutRecordU32(*report, rec::kReportImageBytes, stats.imageBytesAcked);
            PutRecordU32(*report, rec::kReportImageCrc, stats.imageCrc);
            PutRecordU32(*report, rec::kReportDeviceCrc, stats.deviceCrc);
            PutRecordU32(*report, rec::kReportResends, stats.resends);
            PutRecordU32(*report, rec::kReportFrames, stats.frames);
        }
        std::lock_guard lock(mutex_);
        lastStats_ = stats;
        return result;
    };
    if (!port || !boot || !download) {
        return finish(flashresult::kBadRecord);
    }

    // The port: a number from 1 to 50 and nothing else in its four bytes, so
    // that no other port is ever written to.
    const std::uint32_t portNumber = GetRecordU32(*port, rec::kPortNumber);
    const std::optional<ComPort> comPort = ComPort::FromNumber(static_cast<int>(portNumber));
    if (!comPort) {
        return finish(flashresult::kBadPort);
    }
    if (ResolveFlashPointer(GetRecordU32(*boot, rec::kBootSelf)) != static_cast<const void*>(boot)) {
        return finish(flashresult::kBadRecord);
    }

    // Callbacks and their user pointers: a token that is set must be known.
    const auto initCallback = [](std::uint32_t token, FlashInitCallback& out) {
        out = ResolveFlashInitCallback(token);
        return token == 0 || out != nullptr;
    };
    const auto progressCallback = [](std::uint32_t token, FlashProgressCallback& out) {
        out = ResolveFlashProgressCallback(token);
        return token == 0 || out != nullptr;
    };
    const auto userPointer = [](std::uint32_t token, void*& out) {
        out = ResolveFlashPointer(token);
        return token == 0 || out != nullptr;
    };
    FlashInitCallback daInit = nullptr;
    FlashInitCallback dlInit = nullptr;
    FlashProgressCallback daProgress = nullptr;
    FlashProgressCallback dlProgress = nullptr;
    void* daUser = nullptr;
    void* dlUser = nullptr;
    const std::uint32_t daInitUser = GetRecordU32(*boot, rec::kBootInitUser);
    const std::uint32_t dlInitUser = GetRecordU32(*download, rec::kDlInitUser);
    void* unused = nullptr;
    if (!initCallback(GetRecordU32(*boot, rec::kBootInitCallback), daInit) ||
        !progressCallback(GetRecordU32(*boot, rec::kBootProgressCallback), daProgress) ||
        !initCallback(GetRecordU32(*download, rec::kDlInitCallback), dlInit) ||
        !progressCallback(GetRecordU32(*download, rec::kDlProgressCallback), dlProgress) ||
        !userPointer(GetRecordU32(*boot, rec::kBootProgressUser), daUser) ||
        !userPointer(GetRecordU32(*download, rec::kDlProgressUser), dlUser) ||
        !userPointer(daInitUser, unused) || !userPointer(dlInitUser, unused)) {
        return finish(flashresult::kBadRecord);
    }

    // What goes to the device, copied so that nothing changes under the run.
    FlashTransferParams params;
    std::vector<std::uint8_t> agentCode;
    std::vector<std::uint8_t> image;
    const std::uint32_t ready = [&] {
        std::lock_guard lock(mutex_);
        const auto agent = FindAgent(GetRecordU32(*boot, rec::kBootDaHandle));
        const auto dl = FindDownload(GetRecordU32(*download, rec::kDlHandle));
        if (!agent || !dl) {
            return flashresult::kBadHandle;
        }
        if (!agent->loaded || !dl->scatterLoaded || !dl->imageLoaded || !dl->imageEnabled || dl->regions.empty()) {
            return flashresult::kNotReady;
        }
        const std::uint32_t maxImage = GetRecordU32(*download, rec::kDlMaxImage);
        if (dl->image.size() > dl->regions.front().length || (maxImage != 0 && dl->image.size() > maxImage)) {
            return flashresult::kTooLarge;
        }
        if (GetRecordU32(*boot, rec::kBootCheckAgent) == 1 && fp::Crc32(agent->file.code) != agent->codeCrc) {
            return flashresult::kBadFile;
        }
        agentCode = agent->file.code;
        image = dl->image;
        params.chip = agent->file.chip;
        params.agentParameter = agent->parameter;
        params.option = dl->option;
        params.regionStart = dl->regions.front().start;
        return flashresult::kOk;
    }();
    if (ready != flashresult::kOk) {
        return finish(ready);
    }
    params.agent = agentCode;
    params.image = image;
    params.speedCode = GetRecordU32(*port, rec::kPortSpeed);
    params.answerTimeoutMs =
        Bounded(GetRecordU32(*port, rec::kPortAnswerTimeout), kMaxAnswerTimeoutMs, kDefaultAnswerTimeoutMs);
    params.helloTimeoutMs =
        Bounded(GetRecordU32(*port, rec::kPortHelloTimeout), kMaxHelloTimeoutMs, kDefaultHelloTimeoutMs);
    params.helloPhaseTimeoutMs =
        Bounded(GetRecordU32(*boot, rec::kBootHelloPhaseTimeout), kMaxHelloPhaseMs, kDefaultHelloPhaseMs);

    FlashTransferEvents events;
    if (daInit) events.agentInit = [=] { return daInit(daInitUser); };
    if (daProgress) {
        events.agentProgress = [=](std::uint8_t p, std::uint32_t d, std::uint32_t t) { return daProgress(p, d, t, daUser); };
    }
    if (dlInit) events.imageInit = [=] { return dlInit(dlInitUser); };
    if (dlProgress) {
        events.imageProgress = [=](std::uint8_t p, std::uint32_t d, std::uint32_t t) { return dlProgress(p, d, t, dlUser); };
    }

    // The port is ours for the run and closed before returning.
    std::unique_ptr<SerialChannel> channel = GetSerialBackend().Open(comPort->Name());
    if (!channel) {
        TraceF("flash: cannot open COM%u\n", portNumber);
        return finish(flashresult::kNoDevice);
    }
    stats.stage = flashstage::kPortOpen;
    std::uint32_t result = flashresult::kLineFailed;
    if (channel->Configure(FlashSpeedBaud(params.speedCode))) {
        result = RunFlashTransfer(*channel, params, events, &stats, clock_.load());
    }
    channel->Purge();
    channel->Close();
    channel.reset();
    TraceF("flash: run on COM%u ended with 0x%X at stage %u\n", portNumber, result, stats.stage);
    return finish(result);
}

}  // namespace platform
