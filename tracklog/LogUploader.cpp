#include "tracklog/LogUploader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "device/CommandEngine.h"
#include "device/Sentence.h"
#include "device/SerialLink.h"
#include "platform/Clock.h"
#include "support/UtilityManager.h"
#include "tracklog/LogDecoder.h"

using namespace logupload;

LogUploader::LogUploader(CommandEngine& engine, SerialLink& link, Flags flags, UploadObserver& observer)
    : engine_(engine), link_(link), flags_(flags), observer_(observer) {}

LogUploader::~LogUploader() {
    flags_.stopReceive = 1;
    changed_.notify_all();
    if (receiver_.joinable()) receiver_.join();
}

bool LogUploader::SendLoggerCommand(int command, std::uint32_t arg1, std::uint32_t arg2) {
    if (portLinked.load() == 0) return false;
    theUtility.sendPmtkFirst = 1;
    const std::string sentence =
        sentence::BuildPmtk182Sentence(command, static_cast<int>(arg1), static_cast<int>(arg2));
    std::uint32_t written = 0;
    if (theUtility.highSpeedLink.load() == 1 && command == 7) {
        for (std::size_t at = 0; at < sentence.size(); at += kHighSpeedPiece) {
            const std::size_t n = std::min(kHighSpeedPiece, sentence.size() - at);
            if (!link_.WritePort(sentence.data() + at, static_cast<std::uint32_t>(n), &written) || written != n) {
                return false;
            }
            platform::Sleep(kHighSpeedPieceMs);
        }
        return true;
    }
    return link_.WritePort(sentence.data(), static_cast<std::uint32_t>(sentence.size()), &written) &&
           written == sentence.size();
}

void LogUploader::SetActive(bool active) {
    if (active) {
        auto lock = engine_.LockReceive();
        // The engine's senders use the start of the buffer too.
        const std::size_t used = std::min(std::max(dirty_, std::size_t{0x10100}), CommandEngine::kReceiveBufferSize);
        std::memset(engine_.receiveBuffer, 0, used);
        fill_ = 0;
        dirty_ = 0;
        activeSince_ = platform::NowMs();
    }
    flags_.receiveActive = active ? 1 : 0;
    {
        std::lock_guard lock(waitMutex_);
        ++generation_;
    }
    changed_.notify_all();
}

void LogUploader::ReceiveLoop() {
    theUtility.sendPmtkFirst = 1;
    std::uint64_t lastData = platform::NowMs();
    std::uint64_t seenSince = 0;
    while (!flags_.stopReceive.load()) {
        if (!flags_.receiveActive.load() || flags_.blockTimedOut.load()) {
            // Between requests the worker's senders read the port.
            std::unique_lock lock(waitMutex_);
            changed_.wait_for(lock, std::chrono::milliseconds(kPollSliceMs));
            continue;
        }
        if (activeSince_.load() != seenSince) {
            seenSince = activeSince_.load();
            lastData = platform::NowMs();
        }
        if (!link_.IsPortOpen()) {
            std::unique_lock lock(waitMutex_);
            ++generation_;
            changed_.notify_all();
            changed_.wait_for(lock, std::chrono::milliseconds(kPollSliceMs));
            continue;
        }
        std::uint32_t got = 0;
        bool hungUp = false;
        if (link_.WaitReadable(kPollSliceMs, &hungUp)) {
            auto lock = engine_.LockReceive();
            if (flags_.receiveActive.load()) {
                // Appends stay inside the buffer; a full buffer takes nothing
                // more (the wanted packet then never completes: timed out).
                const std::size_t room = CommandEngine::kReceiveBufferSize - fill_;
                const auto want = static_cast<std::uint32_t>(std::min(kReadChunk, room));
                if (want > 0 && !link_.ReadPort(engine_.receiveBuffer + fill_, want, &got) && link_.IsPortOpen()) {
                    portLost_ = true;
                }
                fill_ += std::min<std::size_t>(got, want);
                dirty_ = std::max(dirty_, fill_);
            }
            // Gone, and nothing of it left to read.
            if (hungUp && got == 0) portLost_ = true;
        }
        if (portLost_.load()) {
            {
                std::lock_guard lock(waitMutex_);
                ++generation_;
            }
            changed_.notify_all();
            return;
        }
        if (got > 0) {
            lastData = platform::NowMs();
            {
                std::lock_guard lock(waitMutex_);
                ++generation_;
            }
            changed_.notify_all();
        } else if (platform::NowMs() - lastData > kSilenceMs) {
            flags_.blockTimedOut = 1;
            flags_.receiveActive = 0;
            flags_.stopReceive = 1;
            changed_.notify_all();
            return;
        }
    }
}

LogUploader::Wait LogUploader::WaitForPacket(std::uint32_t address, std::size_t& from, std::span<std::uint8_t> out) {
    const std::uint64_t deadline = platform::NowMs() + kSilenceMs;
    std::uint64_t seen = 0;
    for (;;) {
        if (flags_.blockTimedOut.load()) return Wait::kTimedOut;
        if (flags_.stopReceive.load()) return Wait::kCancelled;
        if (portLost_.load() || !link_.IsPortOpen()) return Wait::kPortLost;
        {
            std::lock_guard lock(waitMutex_);
            seen = generation_;
        }
        {
            auto lock = engine_.LockReceive();
            const std::string_view text(engine_.receiveBuffer, fill_);
            const PacketSearch found = FindLogPacket(text, from, address);
            from = found.next;
            if (found.status == PacketStatus::kFound) {
                HexPairsToBytes(text.substr(found.data, kPacketHexChars), out);
                return Wait::kFound;
            }
            if (found.status == PacketStatus::kBadChecksum) return Wait::kBadChecksum;
        }
        if (platform::NowMs() > deadline) {
            flags_.blockTimedOut = 1;
            return Wait::kTimedOut;
        }
        std::unique_lock lock(waitMutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(kPollSliceMs), [&] { return generation_ != seen; });
    }
}

LogUploader::Result LogUploader::ReadBlock(std::uint32_t address, std::uint32_t logSize, bool watchdog,
                                           std::span<std::uint8_t> block) {
    std::uint32_t first = 0;
    int resumes = 0;
    for (;;) {
        SetActive(false);
        engine_.SendOrvikCommand(6);
        if (watchdog && !watchdogArmed_) {
            observer_.ArmWatchdog();
            watchdogArmed_ = true;
        }
        SetActive(true);
        const std::uint32_t start = address + first * kPacketBytes;
        bool sent = false;
        for (int attempt = 0; attempt < kRequestTries && !sent; ++attempt) {
            sent = SendLoggerCommand(7, start, kBlockBytes - first * kPacketBytes);
            ++requests_;
        }
        if (!sent) {
            SetActive(false);
            return link_.IsPortOpen() && !portLost_.load() ? Result::kRequestFailed : Result::kPortLost;
        }
        std::size_t from = 0;
        std::uint32_t packet = first;
        Wait wait = Wait::kFound;
        for (; packet < kPacketsPerBlock; ++packet) {
            wait = WaitForPacket(address + packet * kPacketBytes, from,
                                 block.subspan(packet * kPacketBytes, kPacketBytes));
            if (wait != Wait::kFound) break;
            if (watchdogArmed_) {
                observer_.DisarmWatchdog();
                watchdogArmed_ = false;
            }
            observer_.Progress(UploadPercent(address + packet * kPacketBytes, logSize));
        }
        SetActive(false);
        switch (wait) {
            case Wait::kFound: return Result::kDone;
            case Wait::kTimedOut: return Result::kTimedOut;
            case Wait::kPortLost: return Result::kPortLost;
            case Wait::kCancelled: return Result::kCancelled;
            case Wait::kBadChecksum: break;
        }
        // Asked for again from the damaged packet on; those before it stay.
        if (++resumes > kMaxResumesPerBlock) {
            flags_.blockTimedOut = 1;
            return Result::kTimedOut;
        }
        ++resumes_;
        first = packet;
    }
}

LogUploader::Result LogUploader::Run(std::uint32_t logSize, bool watchdog, const BlockSink& sink) {
    logSize = std::min(logSize, kLogMemoryBytes);
    flags_.stopReceive = 0;
    flags_.blockTimedOut = 0;
    flags_.receiveActive = 0;
    receiver_ = std::thread([this] { ReceiveLoop(); });
    std::vector<std::uint8_t> block(kBlockBytes);
    Result result = Result::kDone;
    for (std::uint32_t address = 0; address < logSize && result == Result::kDone; address += kBlockBytes) {
        // Every block starts empty and from its first packet.
        std::fill(block.begin(), block.end(), std::uint8_t{0});
        result = ReadBlock(address, logSize, watchdog, block);
        if (result == Result::kDone) sink(address, block);
    }
    if (watchdogArmed_) {
        observer_.DisarmWatchdog();
        watchdogArmed_ = false;
    }
    flags_.stopReceive = 1;
    flags_.receiveActive = 0;
    changed_.notify_all();
    if (receiver_.joinable()) receiver_.join();
    return result;
}
