#include "sim/BlockTarget.h"

#include <algorithm>
#include <cstdio>

#include "sim/DeviceSimulator.h"
#include "sim/Framing.h"

namespace sim {
namespace {

constexpr char kStart = 0x01;
constexpr std::size_t kLongestLine = 128;

std::string Le32(std::uint32_t v) {
    std::string s;
    for (int k = 0; k < 4; ++k) s.push_back(static_cast<char>((v >> (8 * k)) & 0xFF));
    return s;
}

std::uint8_t Sum7(std::string_view bytes) {
    unsigned sum = 0;
    for (char c : bytes) sum += static_cast<unsigned char>(c);
    return static_cast<std::uint8_t>(sum % 128);
}

bool IsHeaderTag(std::string_view s) {
    return s == "$WRT" || s == "$MAP" || s == "$FNT" || s == "$GEO";
}

std::size_t PacketLimit(const std::string& tag) {
    if (tag == "$FNT") return 384;
    if (tag == "$GEO") return 132;
    return 512;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

BlockTarget::BlockTarget(BlockTargetOptions options) : options_(std::move(options)) {
    busyLeft_ = options_.busyWakeUps;
}

void BlockTarget::SetOptions(const BlockTargetOptions& options) {
    std::lock_guard lock(mutex_);
    options_ = options;
    busyLeft_ = options_.busyWakeUps;
}

void BlockTarget::Error(std::string text) { errors_.push_back(std::move(text)); }

bool BlockTarget::SilentNow() const {
    const int taken = state_ == State::kServing ? blocksTaken_ : static_cast<int>(packets_.size());
    return options_.silent || (options_.silentAfter >= 0 && taken >= options_.silentAfter);
}

std::uint32_t BlockTarget::BlockCount() const {
    return static_cast<std::uint32_t>((options_.logData.size() + kBlockData - 1) / kBlockData);
}

std::string BlockTarget::Block(std::uint32_t index, bool badSum) const {
    std::string data(kBlockData, '\xFF');
    const std::size_t from = static_cast<std::size_t>(index) * kBlockData;
    for (std::size_t k = 0; k < kBlockData && from + k < options_.logData.size(); ++k) {
        data[k] = static_cast<char>(options_.logData[from + k]);
    }
    std::uint8_t sum = Sum7(data);
    if (badSum) sum = static_cast<std::uint8_t>((sum + 1) % 128);
    std::string block;
    block.push_back('\x02');
    block.push_back(static_cast<char>(sum));
    return block + data;
}

std::string BlockTarget::Feed(std::string_view bytes, std::string* outside) {
    std::lock_guard lock(mutex_);
    in_.append(bytes);
    std::string out;
    while (!in_.empty() && Step(out, outside)) {
    }
    return out;
}

bool BlockTarget::Step(std::string& out, std::string* outside) {
    const char first = in_[0];
    if (first == kStart) {
        if (state_ != State::kReceiving) {
            Error("packet outside a download");
        }
        const std::size_t end = in_.find("\r\n", 2);
        if (end == std::string::npos) {
            if (in_.size() > 2 + 512 + 2) {
                Error("packet without CR LF within 512 data bytes");
                in_.erase(0, 1);
                return true;
            }
            return false;
        }
        const auto sum = static_cast<std::uint8_t>(in_[1]);
        const std::string data = in_.substr(2, end - 2);
        in_.erase(0, end + 2);
        if (state_ == State::kReceiving) OnPacket(sum, data, out);
        return true;
    }
    if (state_ == State::kServing && (first == '!' || first == '@')) {
        if (in_.size() < 3) return false;
        if (in_.compare(1, 2, "\r\n") != 0) {
            Error("block reply without CR LF");
            in_.erase(0, 1);
            return true;
        }
        in_.erase(0, 3);
        OnBlockReply(first, out);
        return true;
    }
    if (first == '$') {
        if (in_.size() < 4) return false;
        const std::string tag = in_.substr(0, 4);
        if (IsHeaderTag(tag)) {
            if (in_.size() < 10) return false;
            if (in_.compare(8, 2, "\r\n") != 0) {
                Error("header " + tag + " without CR LF after its size");
                in_.erase(0, 1);
                return true;
            }
            std::uint32_t size = 0;
            for (int k = 0; k < 4; ++k) size |= static_cast<std::uint32_t>(static_cast<unsigned char>(in_[4 + k])) << (8 * k);
            in_.erase(0, 10);
            OnHeader(tag, size, out);
            return true;
        }
        const std::size_t end = in_.find("\r\n");
        if (end == std::string::npos) {
            if (in_.size() > kLongestLine) {
                Error("line without CR LF: " + in_.substr(0, 16));
                in_.erase(0, 1);
                return true;
            }
            return false;
        }
        const std::string line = in_.substr(0, end);
        in_.erase(0, end + 2);
        OnLine(line, out, outside);
        return true;
    }
    char text[48];
    std::snprintf(text, sizeof text, "stray byte 0x%02X", static_cast<unsigned char>(first));
    Error(text);
    in_.erase(0, 1);
    return true;
}

std::string BlockTarget::ReadyAnswer(bool allAtOnce) {
    if (options_.refuse == BlockStage::kWakeUp) {
        return "$";
    }
    std::string answer;
    while (busyLeft_ > 0) {
        --busyLeft_;
        answer += '?';
        if (!allAtOnce) return answer;
    }
    ready_ = true;
    return answer + "!";
}

void BlockTarget::OnLine(const std::string& line, std::string& out, std::string* outside) {
    if (line == "$PMTK182*21") {
        // The download's wake-up: the device listens for blocks, no answer.
        elements_.push_back("wake-up");
        return;
    }
    if (line.rfind("$PMTK182,", 0) == 0) {
        const std::size_t star = line.find('*');
        const std::string body = line.substr(1, star == std::string::npos ? std::string::npos : star - 1);
        const std::string number = body.substr(8);
        const bool digits = !number.empty() && std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (digits && number == "5") {
            if (star == std::string::npos || line.size() != star + 3 || HexValue(line[star + 1]) < 0 ||
                HexValue(line[star + 2]) < 0 ||
                HexValue(line[star + 1]) * 16 + HexValue(line[star + 2]) != Checksum(body)) {
                Error("read-out wake-up with a wrong checksum: " + line);
                return;
            }
            elements_.push_back("wake-up PMTK182," + number);
            if (SilentNow()) return;
            out += Frame("PMTK001,182," + number + ",3");
            out += ReadyAnswer(true);
            return;
        }
    }
    if (line == "$BEG" || line == "$STA") {
        elements_.push_back(line);
        if (SilentNow()) return;
        out += ReadyAnswer(false);
        return;
    }
    if (line == "$TLG") {
        elements_.push_back(line);
        if (!ready_) Error("read-out request before the device said ready");
        if (SilentNow()) return;
        if (options_.refuse == BlockStage::kRequest) {
            out += '?';
            return;
        }
        const std::uint32_t count = BlockCount();
        const std::uint32_t end = options_.logEnd != 0xFFFFFFFF
                                      ? options_.logEnd
                                      : options_.logStart + static_cast<std::uint32_t>(options_.logData.size()) - 1;
        out += '!' + Le32(count) + Le32(options_.logStart) + Le32(end);
        blocksTaken_ = 0;
        servedAll_ = count == 0;
        if (count > 0) {
            state_ = State::kServing;
            block_ = 0;
            blockBad_ = options_.badSumOnce == 0 && !badSumUsed_;
            badSumUsed_ = badSumUsed_ || blockBad_;
            out += Block(0, blockBad_);
            elements_.push_back("block 0");
        }
        return;
    }
    if (line == "$END") {
        OnEnd(out);
        return;
    }
    if (outside) {
        *outside += line + "\r\n";
        return;
    }
    Error("unknown line: " + line.substr(0, 24));
}

void BlockTarget::OnHeader(const std::string& tag, std::uint32_t size, std::string& out) {
    elements_.push_back(tag + " " + std::to_string(size));
    if (!ready_) Error("header before the device said ready");
    if (SilentNow()) return;
    if (options_.refuse == BlockStage::kHeader) {
        out += '?';
        return;
    }
    if (options_.refuse == BlockStage::kHeaderStop) {
        out += '#';
        return;
    }
    tag_ = tag;
    announced_ = size;
    received_.clear();
    packets_.clear();
    pendingPacket_.clear();
    ended_ = false;
    completed_ = false;
    state_ = State::kReceiving;
    out += '!';
}

void BlockTarget::OnPacket(std::uint8_t sum, const std::string& data, std::string& out) {
    const int index = static_cast<int>(packets_.size());
    elements_.push_back("packet " + std::to_string(data.size()));
    if (SilentNow()) return;
    if (Sum7(data) != sum) {
        Error("packet " + std::to_string(index) + " with a wrong sum");
        out += "@&";
        return;
    }
    if (data.empty() || data.size() > PacketLimit(tag_)) {
        Error("packet " + std::to_string(index) + " carries " + std::to_string(data.size()) + " data bytes");
    }
    if (received_.size() + data.size() > announced_) {
        Error("packet " + std::to_string(index) + " reaches past the announced " + std::to_string(announced_) +
              " bytes");
    }
    if (!pendingPacket_.empty()) {
        ++resends_;
        if (data != pendingPacket_) {
            Error("packet " + std::to_string(index) + " sent again with other data");
        }
        pendingPacket_.clear();
    }
    if (index == options_.badSumOnce && !badSumUsed_) {
        badSumUsed_ = true;
        pendingPacket_ = data;
        out += "@&";
        return;
    }
    if (index == options_.busyPacket && busyUsed_ < options_.busyTimes) {
        // Busy: not taken; '!' once ready again, then the packet once more.
        ++busyUsed_;
        pendingPacket_ = data;
        out += "?&!&";
        return;
    }
    received_.insert(received_.end(), data.begin(), data.end());
    packets_.push_back(data);
    out += index == options_.abortAfter ? "!^" : "!&";
}

void BlockTarget::OnBlockReply(char reply, std::string& out) {
    if (reply == '!' && blockBad_) {
        Error("block " + std::to_string(block_) + " taken with a wrong sum");
    }
    if (reply == '@' && !blockBad_) {
        Error("block " + std::to_string(block_) + " refused with a right sum");
    }
    if (SilentNow()) return;
    if (reply == '@') {
        ++resends_;
        blockBad_ = false;
        out += '&' + Block(block_, false);
        elements_.push_back("block " + std::to_string(block_));
        return;
    }
    ++blocksTaken_;
    if (static_cast<int>(block_) == options_.abortAfter) {
        out += '^';
        state_ = State::kIdle;
        return;
    }
    out += '&';
    if (SilentNow()) return;
    if (block_ + 1 < BlockCount()) {
        ++block_;
        blockBad_ = static_cast<int>(block_) == options_.badSumOnce && !badSumUsed_;
        badSumUsed_ = badSumUsed_ || blockBad_;
        out += Block(block_, blockBad_);
        elements_.push_back("block " + std::to_string(block_));
    } else {
        servedAll_ = true;
        state_ = State::kIdle;
    }
}

void BlockTarget::OnEnd(std::string& out) {
    elements_.push_back("$END");
    if (!ended_) {
        ended_ = true;
        if (state_ == State::kReceiving || !tag_.empty()) {
            if (received_.size() != announced_) {
                Error("$END after " + std::to_string(received_.size()) + " of " + std::to_string(announced_) +
                      " bytes");
            }
            completed_ = received_.size() == announced_;
        } else {
            if (!servedAll_) Error("$END before all blocks were taken");
            completed_ = servedAll_;
        }
        state_ = State::kIdle;
        ready_ = false;
    }
    if (options_.silent) return;
    if (options_.endBusyOnce && !endBusyUsed_) {
        endBusyUsed_ = true;
        out += '?';
        return;
    }
    out += '%';
}

std::vector<std::uint8_t> BlockTarget::Received() const {
    std::lock_guard lock(mutex_);
    return received_;
}
std::vector<std::string> BlockTarget::PacketData() const {
    std::lock_guard lock(mutex_);
    return packets_;
}
std::uint32_t BlockTarget::AnnouncedSize() const {
    std::lock_guard lock(mutex_);
    return announced_;
}
std::string BlockTarget::HeaderTag() const {
    std::lock_guard lock(mutex_);
    return tag_;
}
std::vector<std::string> BlockTarget::Elements() const {
    std::lock_guard lock(mutex_);
    return elements_;
}
int BlockTarget::Resends() const {
    std::lock_guard lock(mutex_);
    return resends_;
}
int BlockTarget::BlocksTaken() const {
    std::lock_guard lock(mutex_);
    return blocksTaken_;
}
bool BlockTarget::Completed() const {
    std::lock_guard lock(mutex_);
    return completed_ && errors_.empty();
}
std::vector<std::string> BlockTarget::Errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
}

std::shared_ptr<BlockTarget> AttachBlockTarget(DeviceSimulator& device, const BlockTargetOptions& options) {
    auto target = std::make_shared<BlockTarget>(options);
    device.SetRawFilter([target, &device](std::string_view in) {
        std::string outside;
        const std::string answer = target->Feed(in, &outside);
        if (!answer.empty()) device.Send(answer);
        return outside;
    });
    return target;
}

}  // namespace sim
