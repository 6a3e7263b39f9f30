#include "flashlib/FlashRecords.h"

#include <mutex>
#include <unordered_map>

#include "flashlib/FlashProtocol.h"

namespace platform {

namespace fp = flashproto;

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

FlashToken::FlashToken(void* pointer)
    : value_(pointer ? RegisterToken({.kind = TokenEntry::Kind::kPointer, .pointer = pointer}) : 0) {}

FlashToken::FlashToken(FlashInitCallback callback)
    : value_(callback ? RegisterToken({.kind = TokenEntry::Kind::kInit, .init = callback}) : 0) {}

FlashToken::FlashToken(FlashProgressCallback callback)
    : value_(callback ? RegisterToken({.kind = TokenEntry::Kind::kProgress, .progress = callback}) : 0) {}

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

}  // namespace platform
