#include "flashlib/FlashLibrary.h"

#include <algorithm>
#include <optional>

#include "flashlib/FlashFiles.h"
#include "flashlib/FlashProtocol.h"
#include "platform/ComPortName.h"
#include "platform/Trace.h"

namespace platform {

namespace ff = flashfiles;
namespace fp = flashproto;
namespace rec = flashrecord;

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
