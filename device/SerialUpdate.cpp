#include "device/SerialUpdate.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "device/Arc4.h"
#include "device/Sentence.h"
#include "device/SerialLink.h"
#include "device/UpdateImage.h"
#include "platform/Clock.h"

namespace trv {

unsigned char NmeaChecksum(std::string_view text) { return sentence::Checksum(text); }

std::string AnnouncementBody(std::uint32_t length, std::uint32_t crc) {
    char body[64];
    std::snprintf(body, sizeof body, "PTRV810,FWUPDATE,%u,%08X", static_cast<unsigned>(length),
                  static_cast<unsigned>(crc));
    return body;
}

std::string KeyBody(std::span<const std::uint8_t> key) {
    static const char kLower[] = "0123456789abcdef";
    std::string body = "PTRV819," + std::to_string(key.size()) + ",";
    for (std::uint8_t b : key) {
        body += kLower[b >> 4];
        body += kLower[b & 0x0F];
    }
    return body;
}

std::string ChunkBody(std::uint32_t offset, std::span<const std::uint8_t> encrypted) {
    char head[40];
    std::snprintf(head, sizeof head, "PTRV815,%06X,%X,", static_cast<unsigned>(offset),
                  static_cast<unsigned>(encrypted.size()));
    std::string body = head;
    body.reserve(body.size() + 2 * encrypted.size());
    for (std::uint8_t b : encrypted) {
        body += sentence::HexDigit(b >> 4);
        body += sentence::HexDigit(b);
    }
    return body;
}

std::string EndBody() { return "PTRV811,FWUPDATE"; }

std::string AckPrefix(int number) { return "PTRV001," + std::to_string(number); }

AckReader::AckReader(int number) : expected_(AckPrefix(number)) {}

std::optional<int> AckReader::Feed(char c) {
    if (c == '$') {
        // A new sentence begins, also in the middle of one that never ended.
        inside_ = true;
        length_ = 0;
        return std::nullopt;
    }
    if (!inside_) {
        return std::nullopt;
    }
    if (length_ >= buffer_.size()) {
        // Longer than any acknowledgement: drop it and wait for the next "$".
        inside_ = false;
        length_ = 0;
        return std::nullopt;
    }
    buffer_[length_++] = c;
    if (c != '\n') {
        return std::nullopt;
    }
    inside_ = false;
    const std::size_t length = length_;
    length_ = 0;
    // "<body>*HH\r\n": the five characters after the body are needed.
    if (length < 5) {
        return std::nullopt;
    }
    const std::size_t bodyLength = length - 5;
    if (buffer_[bodyLength] != '*' || buffer_[length - 2] != '\r') {
        return std::nullopt;
    }
    const std::string_view body(buffer_.data(), bodyLength);
    const unsigned char sum = NmeaChecksum(body);
    if (buffer_[bodyLength + 1] != sentence::HexDigit(sum >> 4) || buffer_[bodyLength + 2] != sentence::HexDigit(sum)) {
        return std::nullopt;
    }
    if (body.size() < expected_.size() || body.compare(0, expected_.size(), expected_) != 0) {
        return std::nullopt;
    }
    return static_cast<int>(body.back()) - '0';
}

}  // namespace trv

const char* SerialUpdateResultName(SerialUpdateResult result) {
    switch (result) {
        case SerialUpdateResult::NotRun: return "NotRun";
        case SerialUpdateResult::Done: return "Done";
        case SerialUpdateResult::CannotOpenFile: return "CannotOpenFile";
        case SerialUpdateResult::EmptyPayload: return "EmptyPayload";
        case SerialUpdateResult::TooLarge: return "TooLarge";
        case SerialUpdateResult::CannotOpenPort: return "CannotOpenPort";
        case SerialUpdateResult::KeyRefused: return "KeyRefused";
        case SerialUpdateResult::ChunkRefused: return "ChunkRefused";
        case SerialUpdateResult::Stopped: return "Stopped";
    }
    return "?";
}

SerialUpdater::SerialUpdater(SerialUpdateHost& host, SerialLink& link) : host_(host), link_(link) {}

std::array<std::uint8_t, trv::kKeyBytes> SerialUpdater::BuildKey() {
    std::array<std::uint8_t, trv::kKeyBytes> key{};
    // Built afresh in a local buffer on every call; the device learns it
    // from the key sentence.
    static constexpr std::uint8_t kHigh[16] = {0xF1, 0x01, 0x66, 0x03, 0xDE, 0xEF, 0x3F, 0x5C,
                                               0xBA, 0xC3, 0xEF, 0xEA, 0x30, 0x5A, 0xE2, 0x4A};
    static constexpr std::uint8_t kLow[16] = {0x99, 0x84, 0xBE, 0x5E, 0x21, 0x55, 0xE8, 0x55,
                                              0xE7, 0xE9, 0x6E, 0x14, 0x71, 0x0C, 0x76, 0xF4};
    std::copy(std::begin(kHigh), std::end(kHigh), key.begin());
    std::copy(std::begin(kLow), std::end(kLow), key.begin() + 16);
    return key;
}

bool SerialUpdater::SendTrvSentence(SerialLink& link, std::string_view body) {
    const std::string framed = sentence::FrameSentence(body);
    std::uint32_t written = 0;
    const bool ok = link.WritePort(framed.data(), static_cast<std::uint32_t>(framed.size()), &written);
    return ok && written == framed.size();
}

int SerialUpdater::WaitTrvAck(SerialLink& link, int number, int limit, const std::atomic<bool>* stop) {
    trv::AckReader reader(number);
    const std::uint64_t start = platform::NowMs();
    const std::uint64_t bound = static_cast<std::uint64_t>(std::max(limit, 0)) * trv::kAckMsPerEmptyRead;
    int empty = 0;
    for (;;) {
        if (empty >= limit || platform::NowMs() - start >= bound) {
            return 0;
        }
        if (stop != nullptr && stop->load()) {
            return 0;
        }
        char c = 0;
        std::uint32_t got = 0;
        if (!link.ReadPort(&c, 1, &got) || got == 0) {
            platform::Sleep(1);
            ++empty;
            continue;
        }
        if (const std::optional<int> value = reader.Feed(c)) {
            return *value;
        }
    }
}

SerialUpdateResult SerialUpdater::LoadPayload() {
    payload_.clear();
    std::error_code ec;
    if (payloadPath_.empty() || !std::filesystem::is_regular_file(payloadPath_, ec)) {
        return SerialUpdateResult::CannotOpenFile;
    }
    std::ifstream file(payloadPath_, std::ios::binary);
    if (!file) {
        return SerialUpdateResult::CannotOpenFile;
    }
    // One byte more than allowed tells a file that is too long, whatever its
    // size said a moment ago.
    payload_.resize(trv::kMaxPayloadBytes + 1);
    file.read(reinterpret_cast<char*>(payload_.data()), static_cast<std::streamsize>(payload_.size()));
    if (file.bad()) {
        payload_.clear();
        return SerialUpdateResult::CannotOpenFile;
    }
    payload_.resize(static_cast<std::size_t>(file.gcount()));
    if (payload_.size() > trv::kMaxPayloadBytes) {
        payload_.clear();
        return SerialUpdateResult::TooLarge;
    }
    if (payload_.empty()) {
        return SerialUpdateResult::EmptyPayload;
    }
    return SerialUpdateResult::Done;
}

int SerialUpdater::Fail(SerialUpdateResult result, const char* message) {
    result_ = result;
    if (message != nullptr) {
        host_.ShowMessage(message);
    }
    link_.ClosePort();
    update::RemovePayloadFile(payloadPath_);
    host_.SetStateText(kStringFailed);
    host_.EnableMainButtons(false);
    payload_.clear();
    return 0;
}

int SerialUpdater::RunAppUpdate() {
    struct RunningFlag {
        std::atomic<bool>& flag;
        explicit RunningFlag(std::atomic<bool>& f) : flag(f) { flag = true; }
        ~RunningFlag() { flag = false; }
    } running(running_);
    result_ = SerialUpdateResult::NotRun;
    chunkSends_ = 0;

    host_.SetStateText(kStringSending);

    switch (LoadPayload()) {
        case SerialUpdateResult::Done: break;
        case SerialUpdateResult::TooLarge: return Fail(SerialUpdateResult::TooLarge, kMsgTooLarge);
        case SerialUpdateResult::EmptyPayload: return Fail(SerialUpdateResult::EmptyPayload, kMsgEmptyPayload);
        default: return Fail(SerialUpdateResult::CannotOpenFile, kMsgCannotOpenFile);
    }

    if (link_.OpenPort() != 1) {
        return Fail(SerialUpdateResult::CannotOpenPort, kMsgCannotOpenPort);
    }

    const auto length = static_cast<std::uint32_t>(payload_.size());
    const std::uint32_t crc = update::Crc32Update(0xFFFFFFFFu, length, payload_.data());

    SendTrvSentence(link_, trv::AnnouncementBody(length, crc));
    WaitTrvAck(link_, trv::kAnnounce, trv::kAckLimit, &stopRequested_);
    if (stopRequested_) {
        return Fail(SerialUpdateResult::Stopped, nullptr);
    }

    Arc4State cipher;
    {
        std::array<std::uint8_t, trv::kKeyBytes> key = BuildKey();
        Arc4Init(cipher, key.data(), key.size());
        SendTrvSentence(link_, trv::KeyBody(key));
        key.fill(0);
    }
    const int keyAnswer = WaitTrvAck(link_, trv::kKey, trv::kAckLimit, &stopRequested_);
    if (stopRequested_) {
        return Fail(SerialUpdateResult::Stopped, nullptr);
    }
    if (keyAnswer != trv::kKeyTaken) {
        return Fail(SerialUpdateResult::KeyRefused, kMsgKeyRefused);
    }

    host_.SetProgressBar(0);
    host_.SetStateText(kStringExpanding);

    std::uint32_t offset = 0;
    std::array<std::uint8_t, trv::kChunkBytes> encrypted{};
    while (offset < length) {
        const std::size_t n = std::min<std::size_t>(trv::kChunkBytes, length - offset);
        // The keystream moves on once per chunk; a resend reuses the sentence.
        Arc4Crypt(cipher, encrypted.data(), payload_.data() + offset, n);
        const std::string body = trv::ChunkBody(offset, std::span<const std::uint8_t>(encrypted.data(), n));

        bool taken = false;
        for (int send = 0; send < trv::kChunkSends && !taken; ++send) {
            // Nothing pending may stand for this send's answer.
            link_.PurgePort();
            SendTrvSentence(link_, body);
            ++chunkSends_;
            taken = WaitTrvAck(link_, trv::kChunk, trv::kAckLimit, &stopRequested_) == trv::kChunkTaken;
            if (stopRequested_) {
                return Fail(SerialUpdateResult::Stopped, nullptr);
            }
        }
        if (!taken) {
            return Fail(SerialUpdateResult::ChunkRefused, kMsgChunkRefused);
        }

        offset += static_cast<std::uint32_t>(n);
        const int percent = static_cast<int>(static_cast<std::uint64_t>(offset) * 100 / length);
        host_.SetProgressBar(percent);
        host_.SetPercentText(std::to_string(percent) + "%");
    }

    SendTrvSentence(link_, trv::EndBody());
    WaitTrvAck(link_, trv::kEnd, trv::kAckLimit, &stopRequested_);

    host_.SetProgressBar(100);
    host_.SetPercentText("100%");
    host_.SetStateText(kStringDone);
    host_.EnableMainButtons(true);
    update::RemovePayloadFile(payloadPath_);
    link_.ClosePort();
    payload_.clear();
    result_ = SerialUpdateResult::Done;
    return 1;
}
