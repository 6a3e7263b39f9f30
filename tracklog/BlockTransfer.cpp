#include "tracklog/BlockTransfer.h"

#include <algorithm>
#include <cstdio>

#include "device/SerialLink.h"
#include "device/Sentence.h"
#include "platform/Clock.h"
#include "support/UtilityManager.h"

namespace blocks {

std::string RequestCommand(const TransferKinds& kinds) {
    const char* tag = nullptr;
    if (kinds.flagTLG) tag = "$TLG";
    if (kinds.flagWRT) tag = "$WRT";
    if (kinds.flagSPT) tag = "$SPT";
    if (kinds.flagBMP) tag = "$BMP";
    return tag ? std::string(tag) + "\r\n" : std::string();
}

std::string BlockHeader(const TransferKinds& kinds, std::uint32_t totalSize) {
    const char* tag = nullptr;
    if (kinds.flagMAP) tag = "$MAP";
    if (kinds.flagMAP2) tag = "$MAP";
    if (kinds.flagFNT) tag = "$FNT";
    if (kinds.flagTLG) tag = "$TLG";
    if (kinds.flagWRT) tag = "$WRT";
    if (kinds.flagGEO) tag = "$GEO";
    if (!tag) {
        return {};
    }
    std::string header(tag);
    for (int k = 0; k < 4; ++k) {
        header.push_back(static_cast<char>((totalSize >> (8 * k)) & 0xFF));
    }
    header += "\r\n";
    return header;
}

std::size_t PacketDataLimit(const TransferKinds& kinds) {
    if (kinds.flagFNT) return kPacketLimitFnt;
    if (kinds.flagGEO) return kPacketLimitGeo;
    return kPacketLimit;
}

std::uint8_t SevenBitSum(std::span<const std::uint8_t> data) {
    unsigned sum = 0;
    for (std::uint8_t b : data) sum += b;
    return static_cast<std::uint8_t>(sum & 0x7F);
}

bool CheckBlockChecksum(std::span<const std::uint8_t> block) {
    return block.size() == kBlockBytes && block[1] == SevenBitSum(block.subspan(2));
}

std::size_t BuildPacket(std::span<const std::uint8_t> file, std::uint32_t offset, std::uint32_t totalSize,
                        std::size_t limit, std::string& packet) {
    std::string data;
    if (offset < file.size()) {
        // File bytes up to the limit, the end of the file, or an LF that
        // follows a CR of this same packet (that LF opens the next packet).
        for (std::size_t pos = offset; pos < file.size() && data.size() < limit; ++pos) {
            const char c = static_cast<char>(file[pos]);
            if (c == '\n' && !data.empty() && data.back() == '\r') {
                break;
            }
            data.push_back(c);
        }
    } else if (offset < totalSize) {
        data.assign(std::min<std::size_t>(limit, totalSize - offset), static_cast<char>(kPadByte));
    }
    packet.push_back(static_cast<char>(kPacketStart));
    packet.push_back(static_cast<char>(
        SevenBitSum({reinterpret_cast<const std::uint8_t*>(data.data()), data.size()})));
    packet += data;
    packet += "\r\n";
    return data.size();
}

}  // namespace blocks

const char* BlockTransferStatusName(BlockTransferStatus status) {
    switch (status) {
        case BlockTransferStatus::kDone: return "Done";
        case BlockTransferStatus::kBusy: return "Busy";
        case BlockTransferStatus::kCannotOpenFile: return "CannotOpenFile";
        case BlockTransferStatus::kFileTooLarge: return "FileTooLarge";
        case BlockTransferStatus::kNoPort: return "NoPort";
        case BlockTransferStatus::kNoResponse: return "NoResponse";
        case BlockTransferStatus::kRefused: return "Refused";
        case BlockTransferStatus::kRequestRefused: return "RequestRefused";
        case BlockTransferStatus::kHeaderRefused: return "HeaderRefused";
        case BlockTransferStatus::kHeaderStopped: return "HeaderStopped";
        case BlockTransferStatus::kAborted: return "Aborted";
        case BlockTransferStatus::kDeviceSilent: return "DeviceSilent";
        case BlockTransferStatus::kTooManyRepeats: return "TooManyRepeats";
        case BlockTransferStatus::kBadAnswer: return "BadAnswer";
        case BlockTransferStatus::kPortFailed: return "PortFailed";
        case BlockTransferStatus::kOutputFailed: return "OutputFailed";
        case BlockTransferStatus::kStopped: return "Stopped";
    }
    return "?";
}

// Holds the busy flag for one run; a second run finds it taken.
class BlockTransfer::RunGuard {
public:
    explicit RunGuard(BlockTransfer& owner) : owner_(owner) {
        bool expected = false;
        owns_ = owner_.running_.compare_exchange_strong(expected, true);
        if (owns_) {
            owner_.stopRequested_ = false;
        }
    }
    ~RunGuard() {
        if (owns_) owner_.running_ = false;
    }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;
    bool Owns() const { return owns_; }

private:
    BlockTransfer& owner_;
    bool owns_ = false;
};

BlockTransfer::Config BlockTransfer::ReadOut(int preCommand) {
    Config c;
    c.use = Use::kReadOut;
    c.kinds.flagTLG = true;
    c.preCommand = preCommand;
    return c;
}

BlockTransfer::Config BlockTransfer::WaypointDownload() {
    Config c;
    c.use = Use::kDownload;
    c.kinds.flagWRT = true;
    c.useBeginHandshake = true;
    return c;
}

BlockTransfer::BlockTransfer(SerialLink& link, Config config, std::atomic<int>* sendPmtkFirst)
    : link_(link), config_(config), sendPmtkFirst_(sendPmtkFirst ? sendPmtkFirst : &theUtility.sendPmtkFirst) {}

BlockTransferResult BlockTransfer::Fail(BlockTransferStatus status) {
    using S = BlockTransferStatus;
    BlockTransferResult r;
    r.status = status;
    switch (status) {
        case S::kDone: break;
        case S::kBusy: r.text = blocks::kTextBusy; break;
        case S::kCannotOpenFile: r.text = blocks::kTextCannotOpenFile; break;
        case S::kFileTooLarge: r.text = blocks::kTextFileTooLarge; break;
        case S::kNoPort: r.stringId = 104; r.text = blocks::kTextNoPort; break;
        case S::kNoResponse:
            r.stringId = config_.use == Use::kDownload ? 104 : 0;
            r.text = blocks::kTextNoResponse;
            break;
        case S::kRefused: r.stringId = 103; r.text = blocks::kTextRefused; break;
        case S::kRequestRefused: r.stringId = 109; r.text = blocks::kTextRequestRefused; break;
        case S::kHeaderRefused: r.stringId = 105; r.text = blocks::kTextHeaderRefused; break;
        case S::kHeaderStopped:
            r.stringId = 106;
            r.stopIcon = true;
            r.text = blocks::kTextHeaderRefused;
            break;
        case S::kAborted: r.stringId = 107; r.text = blocks::kTextAborted; break;
        case S::kDeviceSilent: r.text = blocks::kTextDeviceSilent; break;
        case S::kTooManyRepeats: r.text = blocks::kTextTooManyRepeats; break;
        case S::kBadAnswer: r.text = blocks::kTextBadAnswer; break;
        case S::kPortFailed: r.text = blocks::kTextPortFailed; break;
        case S::kOutputFailed: r.text = blocks::kTextOutputFailed; break;
        case S::kStopped: r.text = blocks::kTextStopped; break;
    }
    return r;
}

bool BlockTransfer::SendTx(std::string_view bytes) {
    std::uint32_t written = 0;
    const auto n = static_cast<std::uint32_t>(bytes.size());
    return link_.WritePort(bytes.data(), n, &written) && written == n;
}

std::uint32_t BlockTransfer::ReceiveRx(std::uint8_t* buffer, std::uint32_t count) {
    if (count == 0) {
        return 0;
    }
    if (!pushedBack_.empty()) {
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(count, pushedBack_.size()));
        std::copy_n(pushedBack_.begin(), n, buffer);
        pushedBack_.erase(0, n);
        return n;
    }
    std::uint32_t got = 0;
    if (!link_.ReadPort(buffer, count, &got)) {
        return 0;
    }
    return got;
}

char BlockTransfer::WaitForStatus(std::string_view wanted, std::uint32_t timeoutMs) {
    const std::uint64_t deadline = platform::NowMs() + timeoutMs;
    for (;;) {
        if (Stopped()) {
            return 0;
        }
        std::uint8_t c = 0;
        if (ReceiveRx(&c, 1) == 1) {
            if (c != 0 && wanted.find(static_cast<char>(c)) != std::string_view::npos) {
                return static_cast<char>(c);
            }
        } else {
            platform::Sleep(blocks::kEmptyReadPauseMs);
        }
        if (platform::NowMs() >= deadline) {
            return 0;
        }
    }
}

bool BlockTransfer::ReadExact(std::uint8_t* buffer, std::size_t count, std::uint32_t timeoutMs) {
    const std::uint64_t deadline = platform::NowMs() + timeoutMs;
    std::size_t have = 0;
    while (have < count) {
        if (Stopped()) {
            return false;
        }
        const std::uint32_t got = ReceiveRx(buffer + have, static_cast<std::uint32_t>(count - have));
        have += got;
        if (have == count) {
            break;
        }
        if (got == 0) {
            platform::Sleep(blocks::kEmptyReadPauseMs);
        }
        if (platform::NowMs() >= deadline) {
            return false;
        }
    }
    return true;
}

void BlockTransfer::ResetTransfer() {
    lastPercent_ = 0;
    percent_ = 0;
    ackOffset_ = 0;
    readOffset_ = 0;
    pushedBack_.clear();
}

void BlockTransfer::UpdateProgress() {
    const std::uint32_t total = totalSize_.load();
    int percent = total == 0 ? 100
                             : static_cast<int>(static_cast<double>(ackOffset_.load()) / total * 100.0);
    percent = std::clamp(percent, 0, 100);
    percent_ = percent;
    if (percent == lastPercent_ && lastPercent_ != 0) {
        return;
    }
    lastPercent_ = percent;
    if (callbacks_.progress) {
        callbacks_.progress(percent, std::to_string(percent) + "%");
    }
}

void BlockTransfer::SendOwnPreCommand() {
    SendTx(sentence::BuildPmtk182Sentence(config_.preCommand, 0, 0));
    // Take the reply line up to its LF and no further: the status character
    // the device sends behind it belongs to the port search.
    // Like every other wait it ends at its deadline or at a stop, also while
    // bytes keep coming (a device that streams other sentences).
    const std::string_view tag = sentence::Pmtk182ReplyTag(config_.preCommand);
    const std::uint64_t deadline =
        platform::NowMs() + std::uint64_t{blocks::kPreCommandPolls + 1} * blocks::kPreCommandPollMs;
    std::string line;
    for (int poll = 0; poll < blocks::kPreCommandPolls && !Stopped(); ++poll) {
        platform::Sleep(blocks::kPreCommandPollMs);
        std::uint8_t c = 0;
        while (!Stopped() && platform::NowMs() < deadline && ReceiveRx(&c, 1) == 1) {
            if (line.empty() && c != '$') {
                pushedBack_.push_back(static_cast<char>(c));  // no sentence: leave it
                return;
            }
            line.push_back(static_cast<char>(c));
            if (c == '\n') {
                if (line.compare(0, tag.size(), tag) == 0) {
                    return;
                }
                line.clear();
            } else if (line.size() > sentence::kReplyScanBytes) {
                line.clear();
            }
        }
    }
}

void BlockTransfer::SendWakeUp() {
    const bool wake = sendPmtkFirst_->load() != 0;
    if (config_.use == Use::kReadOut) {
        if (wake) {
            if (preCommandSender_) {
                preCommandSender_(config_.preCommand);
            } else {
                SendOwnPreCommand();
            }
        }
        return;
    }
    if (wake) {
        SendTx(blocks::kWaypointWakeUp);
    } else {
        SendTx(config_.useBeginHandshake ? "$BEG\r\n" : "$STA\r\n");
    }
}

BlockTransfer::Found BlockTransfer::SearchPort() {
    const bool readOut = config_.use == Use::kReadOut;
    bool recognised = link_.CheckDevicePort() == 1;
    int limit = recognised ? (readOut ? blocks::kReadOutAttemptsOnDevicePort : blocks::kDownloadAttemptsOnDevicePort)
                           : (readOut ? blocks::kReadOutAttemptsFromCom1 : blocks::kDownloadAttemptsPerPort);
    if (!recognised) {
        link_.SetPortByIndex(0);
    }
    bool anyOpened = false;
    bool firstAttempt = true;
    int index = 0;
    while (index < blocks::kPortsSearched) {
        if (Stopped()) {
            return Found::kStopped;
        }
        if (!link_.EnsurePortOpen()) {
            ++index;
            if (index < blocks::kPortsSearched) {
                link_.SetPortByIndex(static_cast<std::uint8_t>(index));
            }
            continue;
        }
        anyOpened = true;
        char answer = 0;
        int count = 0;
        int busy = 0;
        while (count < limit && !Stopped()) {
            if (!readOut) {
                platform::Sleep(blocks::kDownloadAttemptPauseMs);
            }
            SendWakeUp();
            platform::Sleep(blocks::kWakeWaitMs);
            if (firstAttempt) {
                firstAttempt = false;
                platform::Sleep(blocks::kFirstAttemptExtraMs);
                *sendPmtkFirst_ = 0;
                link_.EnsurePortOpen();
                SendWakeUp();
            }
            std::uint8_t c = 0;
            answer = ReceiveRx(&c, 1) == 1 ? static_cast<char>(c) : 0;
            ++count;
            if (answer == '!' || answer == '$') {
                break;
            }
            if (readOut && answer == '?') {
                // Not ready: the same port again, the count from 0, a
                // bounded number of times.
                if (++busy > blocks::kMaxWakeBusy) {
                    break;
                }
                count = 0;
            }
            answer = 0;
        }
        if (Stopped()) {
            return Found::kStopped;
        }
        if (answer == '$') {
            return Found::kRefused;
        }
        if (answer == '!') {
            ResetTransfer();
            return Found::kYes;
        }
        // No answer within the limit.
        if (readOut) {
            return Found::kNoResponse;
        }
        link_.ClosePort();
        platform::Sleep(blocks::kPortStepMs);
        if (recognised) {
            recognised = false;
            index = 0;
            limit = blocks::kDownloadAttemptsPerPort;
        } else {
            ++index;
        }
        if (index < blocks::kPortsSearched) {
            link_.SetPortByIndex(static_cast<std::uint8_t>(index));
        }
    }
    link_.ClosePort();
    link_.linkPortName = "COM1";
    return anyOpened ? Found::kNoResponse : Found::kNoPort;
}

BlockTransferResult BlockTransfer::FailUnanswered() {
    return Fail(Stopped() ? BlockTransferStatus::kStopped : BlockTransferStatus::kDeviceSilent);
}

BlockTransferResult BlockTransfer::Finish(bool pauseFirst) {
    const bool ended = RunEndPhase(pauseFirst);
    if (Stopped()) {
        return Fail(BlockTransferStatus::kStopped);
    }
    // The device never heard the end: the transfer is not finished.
    return ended ? BlockTransferResult{} : Fail(BlockTransferStatus::kPortFailed);
}

bool BlockTransfer::RunEndPhase(bool pauseFirst) {
    if (callbacks_.status) {
        callbacks_.status(blocks::kStatusFinishing);
    }
    int reads = 0;
    int resends = 0;
    while (!Stopped()) {
        if (pauseFirst) {
            platform::Sleep(blocks::kEndPauseMs);
        }
        if (!SendTx(blocks::kEnd)) {
            return false;
        }
        char answer = 0;
        while (reads < blocks::kEndReads && !Stopped()) {
            std::uint8_t c = 0;
            ++reads;
            if (ReceiveRx(&c, 1) == 1) {
                if (c == '%' || c == '?') {
                    answer = static_cast<char>(c);
                    break;
                }
            } else {
                platform::Sleep(blocks::kEmptyReadPauseMs);
            }
        }
        if (answer == '?' && ++resends <= blocks::kMaxEndResends) {
            if (!SendTx(blocks::kEnd)) {
                return false;
            }
            continue;
        }
        // '%', or the reads are used up: the data went through either way.
        return true;
    }
    return true;  // stopped: the caller reports the stop
}

BlockTransferResult BlockTransfer::ReadTrackLogBlocks(const BlockSink& sink, const BlockTransferCallbacks& callbacks) {
    RunGuard guard(*this);
    if (!guard.Owns()) {
        return Fail(BlockTransferStatus::kBusy);
    }
    callbacks_ = callbacks;
    totalSize_ = 0;
    ResetTransfer();
    packetsSent_ = 0;
    logStart_ = logEnd_ = 0;

    switch (SearchPort()) {
        case Found::kYes: break;
        case Found::kRefused: return Fail(BlockTransferStatus::kRefused);
        case Found::kNoResponse: return Fail(BlockTransferStatus::kNoResponse);
        case Found::kNoPort: return Fail(BlockTransferStatus::kNoPort);
        case Found::kStopped: return Fail(BlockTransferStatus::kStopped);
    }
    link_.PurgePort();
    if (callbacks_.status) {
        callbacks_.status(blocks::kStatusUploading);
    }

    if (!SendTx(blocks::RequestCommand(config_.kinds))) {
        return Fail(BlockTransferStatus::kPortFailed);
    }
    platform::Sleep(blocks::kRequestPauseMs);
    const char answer = WaitForStatus("!?", blocks::kAnswerTimeoutMs);
    if (answer == 0) {
        return FailUnanswered();
    }
    if (answer == '?') {
        return Fail(BlockTransferStatus::kRequestRefused);
    }
    platform::Sleep(blocks::kCountPauseMs);
    std::uint8_t numbers[12] = {};
    if (!ReadExact(numbers, sizeof numbers, blocks::kBlockTimeoutMs)) {
        return FailUnanswered();
    }
    auto le32 = [&](int at) {
        return static_cast<std::uint32_t>(numbers[at]) | static_cast<std::uint32_t>(numbers[at + 1]) << 8 |
               static_cast<std::uint32_t>(numbers[at + 2]) << 16 | static_cast<std::uint32_t>(numbers[at + 3]) << 24;
    };
    const std::uint32_t count = le32(0);
    logStart_ = le32(4);
    logEnd_ = le32(8);
    if (count > blocks::kMaxBlocks) {
        return Fail(BlockTransferStatus::kBadAnswer);
    }
    totalSize_ = count * static_cast<std::uint32_t>(blocks::kBlockDataBytes);

    std::uint8_t block[blocks::kBlockBytes];
    int badSums = 0;
    while (ackOffset_ < totalSize_) {
        platform::Sleep(blocks::kBlockPauseMs);
        if (!ReadExact(block, sizeof block, blocks::kBlockTimeoutMs)) {
            return FailUnanswered();
        }
        if (blocks::CheckBlockChecksum(block)) {
            badSums = 0;
            const std::uint32_t offset = ackOffset_;
            const std::size_t n = std::min<std::size_t>(blocks::kBlockDataBytes, totalSize_ - offset);
            if (sink && !sink(offset, std::span<const std::uint8_t>(block + 2, n))) {
                return Fail(BlockTransferStatus::kOutputFailed);
            }
            ackOffset_ = offset + static_cast<std::uint32_t>(blocks::kBlockDataBytes);
            UpdateProgress();
            if (!SendTx(blocks::kBlockGood)) {
                return Fail(BlockTransferStatus::kPortFailed);
            }
        } else {
            if (++badSums > blocks::kMaxRepeats) {
                return Fail(BlockTransferStatus::kTooManyRepeats);
            }
            if (!SendTx(blocks::kBlockBadSum)) {
                return Fail(BlockTransferStatus::kPortFailed);
            }
        }
        const char next = WaitForStatus("&?^", blocks::kAnswerTimeoutMs);
        if (next == 0) {
            return FailUnanswered();
        }
        if (next == '^') {
            return Fail(BlockTransferStatus::kAborted);
        }
    }
    return Finish(false);
}

BlockTransferResult BlockTransfer::DownloadFileBlocks(std::span<const std::uint8_t> file, std::uint32_t totalSize,
                                                     const BlockTransferCallbacks& callbacks) {
    RunGuard guard(*this);
    if (!guard.Owns()) {
        return Fail(BlockTransferStatus::kBusy);
    }
    callbacks_ = callbacks;
    if (file.size() > blocks::kMaxDownloadBytes || totalSize > blocks::kMaxDownloadBytes) {
        return Fail(BlockTransferStatus::kFileTooLarge);
    }
    totalSize = std::max(totalSize, static_cast<std::uint32_t>(file.size()));
    totalSize_ = totalSize;
    ResetTransfer();
    packetsSent_ = 0;

    switch (SearchPort()) {
        case Found::kYes: break;
        case Found::kRefused: return Fail(BlockTransferStatus::kRefused);
        case Found::kNoResponse: return Fail(BlockTransferStatus::kNoResponse);
        case Found::kNoPort: return Fail(BlockTransferStatus::kNoPort);
        case Found::kStopped: return Fail(BlockTransferStatus::kStopped);
    }
    link_.PurgePort();
    if (callbacks_.status) {
        callbacks_.status(blocks::kStatusDownloading);
    }

    if (!SendTx(blocks::BlockHeader(config_.kinds, totalSize))) {
        return Fail(BlockTransferStatus::kPortFailed);
    }
    platform::Sleep(blocks::kHeaderPauseMs);
    const char accepted = WaitForStatus("!?#", blocks::kAnswerTimeoutMs);
    if (accepted == 0) {
        return FailUnanswered();
    }
    if (accepted == '?') {
        return Fail(BlockTransferStatus::kHeaderRefused);
    }
    if (accepted == '#') {
        return Fail(BlockTransferStatus::kHeaderStopped);
    }

    const std::size_t limit = blocks::PacketDataLimit(config_.kinds);
    bool sendFlag = true;
    int repeats = 0;
    int busy = 0;
    int stalled = 0;  // passes in a row that moved nothing
    std::string packet;
    while (ackOffset_ < totalSize) {
        // Every packet starts at the acknowledged offset; without the send
        // flag (after a busy answer) nothing goes out and the next '!' only
        // says the device is ready again.
        readOffset_ = ackOffset_;
        if (sendFlag) {
            packet.clear();
            readOffset_ += static_cast<std::uint32_t>(blocks::BuildPacket(file, readOffset_, totalSize, limit, packet));
            if (!SendTx(packet)) {
                return Fail(BlockTransferStatus::kPortFailed);
            }
            ++packetsSent_;
        }
        platform::Sleep(blocks::kPacketPauseMs);
        const char answer = WaitForStatus("!?@", blocks::kAnswerTimeoutMs);
        if (answer == 0) {
            return FailUnanswered();
        }
        if (answer == '!' && readOffset_ > ackOffset_) {
            repeats = 0;
            busy = 0;
            stalled = 0;
        } else if (++stalled > blocks::kMaxStalled) {
            return Fail(BlockTransferStatus::kTooManyRepeats);
        }
        if (answer == '!') {
            ackOffset_ = readOffset_;
            UpdateProgress();
            sendFlag = true;
            if (config_.kinds.flagGEO) {
                break;
            }
        } else if (answer == '@') {
            sendFlag = true;
            if (++repeats > blocks::kMaxRepeats) {
                return Fail(BlockTransferStatus::kTooManyRepeats);
            }
        } else {
            sendFlag = false;
            if (++busy > blocks::kMaxBusy) {
                return Fail(BlockTransferStatus::kTooManyRepeats);
            }
        }
        if (!config_.kinds.flagMAP2) {
            const char next = WaitForStatus("&^", blocks::kAnswerTimeoutMs);
            if (next == 0) {
                return FailUnanswered();
            }
            if (next == '^') {
                return Fail(BlockTransferStatus::kAborted);
            }
        }
    }
    return Finish(true);
}
