#include "SessionScript.h"

#include <cstdio>
#include <cstring>

namespace testsupport::session {
namespace {

constexpr std::size_t kWholeBinaryWrite = 48;
constexpr std::size_t kBinaryHead = 16;

bool IsTextual(std::string_view bytes) {
    std::size_t other = 0;
    for (unsigned char c : bytes) {
        if (!((c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n' || c == '\t')) ++other;
    }
    return other * 4 <= bytes.size();
}

std::string Hex(std::string_view bytes) {
    std::string out;
    char digits[4];
    for (unsigned char c : bytes) {
        std::snprintf(digits, sizeof digits, "%s%02X", out.empty() ? "" : " ", c);
        out += digits;
    }
    return out;
}

std::uint64_t Fnv1a64(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

// A text that could be taken for a "hex" or "bin" line starts escaped.
std::string TextLine(std::string_view bytes) {
    std::string text = Escape(bytes);
    if (text.rfind("hex ", 0) == 0 || text.rfind("bin ", 0) == 0) text = "\\x" + Hex(text.substr(0, 1)) + text.substr(1);
    return text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

class TapChannel final : public platform::SerialChannel {
public:
    TapChannel(std::unique_ptr<platform::SerialChannel> inner, WireLog& log) : inner_(std::move(inner)), log_(log) {}
    bool Configure(int baud) override {
        log_.Event("! baud " + std::to_string(baud));
        return inner_->Configure(baud);
    }
    bool SetQueues(std::uint32_t in, std::uint32_t out) override { return inner_->SetQueues(in, out); }
    bool Read(void* buffer, std::uint32_t count, std::uint32_t* got) override {
        std::uint32_t n = 0;
        const bool ok = inner_->Read(buffer, count, &n);
        if (got) *got = n;
        if (ok) log_.Read(std::string_view(static_cast<const char*>(buffer), n));
        return ok;
    }
    bool Write(const void* buffer, std::uint32_t count, std::uint32_t* written) override {
        log_.Wrote(std::string_view(static_cast<const char*>(buffer), count));
        return inner_->Write(buffer, count, written);
    }
    bool Purge() override {
        log_.Event("! purge");
        return inner_->Purge();
    }
    bool Close() override {
        if (closed_) return false;
        closed_ = true;
        log_.Event("! close");
        return inner_->Close();
    }

private:
    std::unique_ptr<platform::SerialChannel> inner_;
    WireLog& log_;
    bool closed_ = false;
};

class PlaybackChannel final : public platform::SerialChannel {
public:
    PlaybackChannel(PlaybackBackend& device, WireLog& log) : device_(device), log_(log) {}
    bool Configure(int baud) override { return Event("! baud " + std::to_string(baud)); }
    bool SetQueues(std::uint32_t, std::uint32_t) override { return !closed_; }
    bool Read(void* buffer, std::uint32_t count, std::uint32_t* got) override {
        if (got) *got = 0;
        if (closed_) return false;
        std::uint32_t n = 0;
        device_.Read(buffer, count, &n);
        if (got) *got = n;
        log_.Read(std::string_view(static_cast<const char*>(buffer), n));
        return true;
    }
    bool Write(const void* buffer, std::uint32_t count, std::uint32_t* written) override {
        if (written) *written = 0;
        if (closed_) return false;
        const std::string_view bytes(static_cast<const char*>(buffer), count);
        log_.Wrote(bytes);
        device_.Follow(RenderWrite(bytes));
        if (written) *written = count;
        return true;
    }
    bool Purge() override {
        if (closed_) return false;
        device_.DropInput();
        return Event("! purge");
    }
    bool Close() override {
        if (closed_) return false;
        device_.DropInput();
        Event("! close");
        closed_ = true;
        return true;
    }

private:
    bool Event(const std::string& line) {
        if (closed_) return false;
        log_.Event(line);
        device_.Follow(line);
        return true;
    }
    PlaybackBackend& device_;
    WireLog& log_;
    bool closed_ = false;
};

}  // namespace

std::string SessionFile::Value(const std::string& key) const {
    for (const auto& [k, v] : header) {
        if (k == key) return v;
    }
    return {};
}

bool ParseSessionFile(std::string_view text, SessionFile& out, std::string* error) {
    out = {};
    int number = 0;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string line(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        if (line.empty()) continue;
        if (line[0] == '#' && out.header.empty()) {
            out.comments.push_back(line);
        } else if (line.size() >= 2 && line[1] == ' ' && std::strchr("!<>", line[0])) {
            out.wire.push_back(line);
        } else if (line.rfind("= ", 0) == 0) {
            out.texts.push_back(line);
        } else if (const auto colon = line.find(": "); colon != std::string::npos && out.wire.empty()) {
            out.header.emplace_back(line.substr(0, colon), line.substr(colon + 2));
        } else {
            if (error) *error = "line " + std::to_string(number) + " is no session line: " + line;
            return false;
        }
    }
    return true;
}

std::string RenderSessionFile(const SessionFile& file) {
    std::string out;
    for (const auto& line : file.comments) out += line + "\n";
    for (const auto& [key, value] : file.header) out += key + ": " + value + "\n";
    out += "\n";
    for (const auto& line : file.wire) out += line + "\n";
    out += "\n";
    for (const auto& line : file.texts) out += line + "\n";
    return out;
}

std::string Escape(std::string_view bytes, bool keepUtf8) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == ' ' && i + 1 == bytes.size()) {
            out += "\\x20";  // a blank at the end of a line stays visible
            continue;
        }
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            default:
                if ((c >= 0x20 && c < 0x7F) || (c >= 0x80 && keepUtf8)) {
                    out += static_cast<char>(c);
                } else {
                    out += "\\x" + Hex(std::string_view(reinterpret_cast<const char*>(&c), 1));
                }
        }
    }
    return out;
}

bool Unescape(std::string_view text, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size()) return false;
        switch (text[i]) {
            case '\\': out += '\\'; break;
            case 'r': out += '\r'; break;
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'x': {
                const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
                const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
                if (high < 0 || low < 0) return false;
                out += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default: return false;
        }
    }
    return true;
}

std::string RenderWrite(std::string_view bytes) {
    if (IsTextual(bytes)) return "> " + TextLine(bytes);
    if (bytes.size() <= kWholeBinaryWrite) return "> hex " + Hex(bytes);
    char summary[96];
    std::snprintf(summary, sizeof summary, "> bin %zu bytes, fnv %016llX, starts ", bytes.size(),
                  static_cast<unsigned long long>(Fnv1a64(bytes)));
    return summary + Hex(bytes.substr(0, kBinaryHead));
}

std::string RenderRead(std::string_view bytes) {
    return IsTextual(bytes) ? "< " + TextLine(bytes) : "< hex " + Hex(bytes);
}

bool ReadLineBytes(const std::string& line, std::string& bytes) {
    if (line.rfind("< ", 0) != 0) return false;
    const std::string_view rest = std::string_view(line).substr(2);
    if (rest.rfind("hex ", 0) != 0) return Unescape(rest, bytes);
    bytes.clear();
    for (std::size_t i = 4; i < rest.size(); i += 3) {
        const int high = HexValue(rest[i]);
        const int low = i + 1 < rest.size() ? HexValue(rest[i + 1]) : -1;
        if (high < 0 || low < 0 || (i + 2 < rest.size() && rest[i + 2] != ' ')) return false;
        bytes += static_cast<char>(high * 16 + low);
    }
    return true;
}

// ---------------------------------------------------------------------------

void WireLog::Event(const std::string& line) {
    std::lock_guard lock(mutex_);
    entries_.push_back({'!', line.substr(2)});
    reading_ = false;
}

void WireLog::Wrote(std::string_view bytes) {
    std::lock_guard lock(mutex_);
    entries_.push_back({'>', std::string(bytes)});
    reading_ = false;
}

void WireLog::Read(std::string_view bytes) {
    std::lock_guard lock(mutex_);
    if (bytes.empty()) {
        reading_ = false;
    } else if (reading_) {
        entries_.back().bytes += bytes;
    } else {
        entries_.push_back({'<', std::string(bytes)});
        reading_ = true;
    }
}

std::vector<std::string> WireLog::Lines() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    for (const Entry& e : entries_) {
        lines.push_back(e.kind == '!' ? "! " + e.bytes : e.kind == '>' ? RenderWrite(e.bytes) : RenderRead(e.bytes));
    }
    return lines;
}

std::unique_ptr<platform::SerialChannel> TapBackend::Open(const std::string& name) {
    log_.Event("! open " + name);
    auto inner = inner_.Open(name);
    if (!inner) {
        log_.Event("! open failed");
        return nullptr;
    }
    return std::make_unique<TapChannel>(std::move(inner), log_);
}

std::unique_ptr<platform::SerialChannel> PlaybackBackend::Open(const std::string& name) {
    log_.Event("! open " + name);
    Follow("! open " + name);
    {
        // A port that did not open in the recording does not open now.
        std::lock_guard lock(mutex_);
        if (diverged_ < 0 && next_ < wire_.size() && wire_[next_] == "! open failed") {
            ++next_;
            log_.Event("! open failed");
            return nullptr;
        }
    }
    return std::make_unique<PlaybackChannel>(*this, log_);
}

void PlaybackBackend::Follow(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (diverged_ >= 0) return;
    if (next_ >= wire_.size() || wire_[next_] != line) {
        diverged_ = static_cast<int>(next_);
        return;
    }
    std::string bytes;
    for (++next_; next_ < wire_.size() && ReadLineBytes(wire_[next_], bytes); ++next_) {
        input_.push_back(bytes);
    }
}

bool PlaybackBackend::Read(void* buffer, std::uint32_t count, std::uint32_t* got) {
    std::lock_guard lock(mutex_);
    *got = 0;
    if (gap_ || input_.empty()) {
        gap_ = false;
        return true;
    }
    std::string& front = input_.front();
    const std::uint32_t n = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(front.size()));
    std::memcpy(buffer, front.data(), n);
    front.erase(0, n);
    if (front.empty()) {
        input_.pop_front();
        gap_ = true;
    }
    *got = n;
    return true;
}

void PlaybackBackend::DropInput() {
    std::lock_guard lock(mutex_);
    input_.clear();
    gap_ = false;
}

int PlaybackBackend::DivergedAt() const {
    std::lock_guard lock(mutex_);
    return diverged_;
}

}  // namespace testsupport::session
