#include "device/CommandEngine.h"

#include <algorithm>
#include <cstring>

#include "device/SerialLink.h"
#include "platform/Clock.h"
#include "support/UtilityManager.h"

const char* const CommandEngine::kNotConnected = "Not Connected";

namespace {

// The part of receiveBuffer that the polls of one exchange fill. Each poll
// reads at the end of what is kept, so a reply split over two reads is joined;
// whatever is dropped or moved is zeroed, so the buffer always ends where the
// data ends and nothing of an earlier read is left behind it.
class PollWindow {
public:
    // Keeps the window well inside the buffer; replies are short.
    static constexpr std::size_t kMaxKept = 0x10000;

    explicit PollWindow(char* buffer) : buf_(buffer) {}

    char* Data() const { return buf_; }
    std::size_t Size() const { return filled_; }
    std::string_view View() const { return {buf_, filled_}; }

    void ReadOnce(SerialLink& link) {
        if (filled_ > kMaxKept) {
            Drop();
        }
        std::uint32_t got = 0;
        link.ReadPort(buf_ + filled_, CommandEngine::kPollReadBytes, &got);
        filled_ += std::min(got, CommandEngine::kPollReadBytes);
        ZeroTail();
    }
    // Moves the data from offset on to the start.
    void KeepFrom(std::size_t offset) {
        if (offset == 0) {
            return;
        }
        offset = std::min(offset, filled_);
        std::memmove(buf_, buf_ + offset, filled_ - offset);
        filled_ -= offset;
        ZeroTail();
    }
    void Drop() {
        filled_ = 0;
        ZeroTail();
    }
    // Shows a text in the buffer; the next read overwrites it.
    void ShowText(std::string_view text) {
        Drop();
        std::memcpy(buf_, text.data(), text.size());
        dirty_ = text.size();
    }

private:
    void ZeroTail() {
        if (dirty_ > filled_) {
            std::memset(buf_ + filled_, 0, dirty_ - filled_);
        }
        dirty_ = filled_;
    }

    char* buf_;
    std::size_t filled_ = 0;
    std::size_t dirty_ = 0;
};

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// A non-empty text that is the beginning, but not the whole, of another.
bool IsProperPrefix(std::string_view text, std::string_view of) {
    return !text.empty() && text.size() < of.size() && of.compare(0, text.size(), text) == 0;
}

// The sentence that starts at text[0] has its "*", two checksum digits and
// CR LF, before any next "$".
bool SentenceEnds(std::string_view text) {
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] == '$') {
            return false;
        }
        if (text[i] == '*') {
            return i + 4 < text.size() && text[i + 3] == '\r' && text[i + 4] == '\n';
        }
    }
    return false;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

CommandEngine::CommandEngine()
    : storage_(std::make_unique<char[]>(kReceiveBufferSize + 1)), receiveBuffer(storage_.get()) {}

CommandEngine::CommandEngine(SerialLink* link) : CommandEngine() { link_.store(link); }

CommandEngine::~CommandEngine() = default;

void CommandEngine::ClearRxBuffer() {
    auto lock = LockReceive();
    std::memset(receiveBuffer, 0, kReceiveBufferSize + 1);
}

void CommandEngine::ResetReceiveBuffer() { ClearRxBuffer(); }

// ---------------------------------------------------------------------------
// Finders and parsers

bool CommandEngine::InBuffer(const char* p) const {
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    const auto begin = reinterpret_cast<std::uintptr_t>(receiveBuffer);
    return at >= begin && at <= begin + kReceiveBufferSize;
}

std::size_t CommandEngine::ReadableBytes(const char* p, std::size_t wanted) const {
    if (!p) {
        return 0;
    }
    if (InBuffer(p)) {
        // Up to and including the zero byte behind the buffer.
        return static_cast<std::size_t>(receiveBuffer + kReceiveBufferSize + 1 - p);
    }
    // Someone else's text: only up to its end.
    return strnlen(p, wanted);
}

bool CommandEngine::IsSentenceComplete(const char* text, int length) {
    return length > 0 && sentence::IsSentenceComplete(text, static_cast<std::size_t>(length));
}

const char* CommandEngine::FindPmtk182(const char* buffer, int length) const {
    if (length <= 0) {
        return nullptr;
    }
    const auto scan = static_cast<std::size_t>(length);
    const auto tag = sentence::kTagPmtk182;
    return sentence::FindTag(buffer, scan, ReadableBytes(buffer, scan + tag.size()), tag);
}

const char* CommandEngine::FindOrvik001(const char* buffer, int length) const {
    if (length <= 0) {
        return nullptr;
    }
    const auto scan = static_cast<std::size_t>(length);
    const auto tag = sentence::kTagOrvik001;
    return sentence::FindTag(buffer, scan, ReadableBytes(buffer, scan + tag.size()), tag);
}

const char* CommandEngine::FindQvrSentence(const char* buffer, int kind, int length) const {
    const auto tag = sentence::QvrKindTag(kind);
    if (length <= 0 || tag.empty()) {
        return nullptr;
    }
    const auto scan = static_cast<std::size_t>(length);
    return sentence::FindTag(buffer, scan, ReadableBytes(buffer, scan + tag.size()), tag);
}

char* CommandEngine::ExtractField(const char* buffer, std::string_view tag, int skip, int count) {
    if (!buffer || !InBuffer(buffer)) {
        // Constant texts (kNotConnected among them) are never written.
        return nullptr;
    }
    // The engine's own storage: writable up to, not including, the last zero.
    char* at = receiveBuffer + (buffer - receiveBuffer);
    const auto writable = static_cast<std::size_t>(receiveBuffer + kReceiveBufferSize - at);
    return sentence::ExtractTagField(at, writable, tag, skip, count);
}

char* CommandEngine::ExtractOrvik001Field(const char* buffer, int skip, int count) {
    return ExtractField(buffer, sentence::kTagOrvik001, skip, count);
}

char* CommandEngine::ExtractQvrField(const char* buffer, int skip, int count) {
    return ExtractField(buffer, sentence::kTagQvr, skip, count);
}

char* CommandEngine::ExtractPmtk182Field(const char* buffer, int skip, int count) {
    return ExtractField(buffer, sentence::kTagPmtk182, skip, count);
}

char* CommandEngine::ExtractPmtk182Field2(const char* buffer, int skip, int count) {
    return ExtractPmtk182Field(buffer, skip, count);
}

std::uint32_t CommandEngine::ParsePmtk182Value(const char* buffer, bool hex) const {
    const std::size_t wanted = sentence::kReplyScanBytes + 32;
    return sentence::ParsePmtk182Value(buffer, ReadableBytes(buffer, wanted), hex);
}

// ---------------------------------------------------------------------------
// Senders

SerialLink* CommandEngine::BeginExchange() {
    theUtility.sendPmtkFirst = 1;
    ClearRxBuffer();
    return LinkGuard();
}

SerialLink* CommandEngine::LinkGuard() {
    SerialLink* link = link_.load();
    if (portLinked.load() != 0 && link) {
        return link;
    }
    if (link && link->IsPortOpen()) {
        link->PurgePort();
        link->ClosePortReset();
    }
    return nullptr;
}

void CommandEngine::WritePmtkSentence(SerialLink& link, const std::string& sentence) {
    std::uint32_t written = 0;
    if (theUtility.highSpeedLink.load() != 1) {
        link.WritePort(sentence.data(), static_cast<std::uint32_t>(sentence.size()), &written);
        return;
    }
    // At 921600 bit/s the logger takes the sentence only in small pieces.
    for (std::size_t at = 0; at < sentence.size(); at += kHighSpeedPiece) {
        char piece[kHighSpeedPiece] = {};
        const std::size_t n = std::min(kHighSpeedPiece, sentence.size() - at);
        std::memcpy(piece, sentence.data() + at, n);
        link.WritePort(piece, static_cast<std::uint32_t>(n), &written);
        platform::Sleep(kHighSpeedPieceMs);
    }
}

const char* CommandEngine::SendPmtk182(int command, int arg1, int arg2) {
    auto lock = LockReceive();
    SerialLink* link = BeginExchange();
    if (!link) {
        return kNotConnected;
    }
    const std::string sent = sentence::BuildPmtk182Sentence(command, arg1, arg2);
    WritePmtkSentence(*link, sent);
    return WaitPmtkReply(*link, command, sent);
}

const char* CommandEngine::WaitPmtkReply(SerialLink& link, int command, const std::string& sent) {
    const std::string_view tag = sentence::Pmtk182ReplyTag(command);
    const int limit = command == 6 ? kErasePolls : command == 7 ? 1 : kPmtkPolls;
    PollWindow window(receiveBuffer);
    for (int poll = 0; poll < limit; ++poll) {
        platform::Sleep(kPollSleepMs);
        window.ReadOnce(link);
        // The port echoed what was sent: that is no answer.
        if (StartsWith(window.View(), sent)) {
            if (window.Size() == sent.size()) {
                window.ShowText("NONE");
            } else {
                window.KeepFrom(sent.size());
            }
        }
        if (command == 7) {
            // The memory read takes whatever came in its one poll.
            return receiveBuffer;
        }
        const std::string_view text = window.View();
        if (StartsWith(text, tag)) {
            if (SentenceEnds(text)) {
                return receiveBuffer;
            }
            // The rest of the reply is still on its way.
        } else if (!IsProperPrefix(text, tag) && !IsProperPrefix(text, sent) && !text.empty()) {
            window.Drop();
        }
    }
    // A reply that began in time but never ended is still the reply.
    return StartsWith(window.View(), tag) ? receiveBuffer : nullptr;
}

const char* CommandEngine::SendPmtk182Retry(int command, int arg1, int arg2) {
    auto lock = LockReceive();
    if (command == 2) {
        arg2 = 0;
    }
    const char* result = SendPmtk182(command, arg1, arg2);
    if (result == kNotConnected) {
        return result;
    }
    if (command == 6) {
        // The erase is acknowledged once the logger has finished it.
        for (int pass = 1; !result && pass < kErasePasses; ++pass) {
            result = SendPmtk182(command, arg1, arg2);
            if (result == kNotConnected) {
                return result;
            }
        }
        return result ? result : kNotConnected;
    }
    const bool needsData = command == 2 || command == 7;
    auto accepted = [&](const char* r) {
        return r && (!needsData || FindPmtk182(r, static_cast<int>(sentence::kReplyScanBytes)));
    };
    for (int resends = 0; !accepted(result); ++resends) {
        if (resends == kMaxResends) {
            return kNotConnected;
        }
        result = SendPmtk182(command, arg1, arg2);
        if (result == kNotConnected) {
            return result;
        }
    }
    return result;
}

const char* CommandEngine::SendOrvikCommand(int code) {
    auto lock = LockReceive();
    SerialLink* link = BeginExchange();
    if (!link) {
        return kNotConnected;
    }
    const std::string sent = sentence::BuildOrvikSentence(code);
    std::uint32_t written = 0;
    link->WritePort(sent.data(), static_cast<std::uint32_t>(sent.size()), &written);
    return WaitTaggedReply(*link, sentence::OrvikAck(code), true);
}

const char* CommandEngine::SendQvrQuery(int code) {
    auto lock = LockReceive();
    SerialLink* link = BeginExchange();
    if (!link) {
        return kNotConnected;
    }
    const std::string_view body = sentence::QvrQueryBody(code);
    if (body.empty()) {
        return nullptr;  // no such query
    }
    const std::string sent = sentence::FrameSentence(body);
    std::uint32_t written = 0;
    link->WritePort(sent.data(), static_cast<std::uint32_t>(sent.size()), &written);
    const std::string_view tag = sentence::QvrReplyTag(code);
    if (tag.empty()) {
        return nullptr;  // the self-check trigger is not answered
    }
    return WaitTaggedReply(*link, tag, false);
}

// Polls for a sentence that begins with expected anywhere in what is read.
// With codeField the expected text ends in a number that must not go on
// ("$ORVIK001,1" is not the acknowledgement of code 12).
const char* CommandEngine::WaitTaggedReply(SerialLink& link, std::string_view expected, bool codeField) {
    PollWindow window(receiveBuffer);
    bool pending = false;  // a matching reply sits at the start, not yet ended
    for (int poll = 0; poll < kReplyPolls; ++poll) {
        platform::Sleep(kPollSleepMs);
        window.ReadOnce(link);
        const std::string_view text = window.View();
        std::size_t firstMatch = std::string_view::npos;
        for (std::size_t at = text.find(expected); at != std::string_view::npos;
             at = text.find(expected, at + 1)) {
            const std::size_t after = at + expected.size();
            if (codeField && after < text.size() && IsDigit(text[after])) {
                continue;
            }
            if (SentenceEnds(text.substr(at))) {
                return window.Data() + at;
            }
            if (firstMatch == std::string_view::npos) {
                firstMatch = at;
            }
        }
        if (firstMatch != std::string_view::npos) {
            window.KeepFrom(firstMatch);
            pending = true;
            continue;
        }
        pending = false;
        // Keep a reply that has only begun at the end of this read.
        const std::size_t lastDollar = text.rfind('$');
        if (lastDollar != std::string_view::npos && IsProperPrefix(text.substr(lastDollar), expected)) {
            window.KeepFrom(lastDollar);
        } else {
            window.Drop();
        }
    }
    return pending ? window.Data() : nullptr;
}

// ---------------------------------------------------------------------------

bool CommandEngine::IsLastSectorUsed(bool* answered) {
    auto lock = LockReceive();
    if (answered) {
        *answered = false;
    }
    constexpr std::string_view kDataTag = "$PMTK182,8,";
    constexpr std::size_t kDataBytes = 16;
    for (int attempt = 0; attempt < kLastSectorTries; ++attempt) {
        const char* reply = SendPmtk182Retry(7, static_cast<int>(kLastSectorAddress), static_cast<int>(kDataBytes));
        if (!reply || reply == kNotConnected) {
            break;  // link down, or the logger no longer answers at all
        }
        const char* found = FindPmtk182(reply, 4096);
        if (!found || std::strncmp(found, kDataTag.data(), kDataTag.size()) != 0 ||
            !IsSentenceComplete(found, 96)) {
            continue;
        }
        // The data follow the address and its comma.
        const char* comma = std::strchr(found + kDataTag.size(), ',');
        const char* star = std::strchr(found, '*');
        if (!comma || !star || comma > star) {
            continue;
        }
        const char* data = comma + 1;
        if (star - data < static_cast<std::ptrdiff_t>(2 * kDataBytes)) {
            continue;  // short packet: read again
        }
        bool used = false;
        for (std::size_t i = 0; i < kDataBytes; ++i) {
            if (sentence::HexToInt(std::string_view(data + 2 * i, 2)) < 0xFF) {
                used = true;
            }
        }
        if (answered) {
            *answered = true;
        }
        return used;
    }
    return true;
}
