// The device command engine: builds framed sentences, writes them to the one
// serial port and polls for the device's reply. The logger settings page
// derives from it, so every other page sends through that page's engine.
//
// Results of the senders: a pointer into receiveBuffer when a reply came,
// null when none came in time, or kNotConnected while no device is linked.
// A reply stays valid until the next sender clears the buffer; copy or parse
// what you need first (or hold LockReceive() across the call and the parse).
//
// One reader at a time: every sender holds the engine's receive lock for its
// whole exchange (clear, write, polls). Code that reads the port or touches
// receiveBuffer outside the senders (the log upload's receive loop and its
// packet search, the upload watchdog clearing the buffer) takes LockReceive()
// around each read-and-append or look into the buffer, so it never runs at the
// same time as a sender. The lock is recursive, so a caller may hold it across
// sender calls.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "device/Sentence.h"

class SerialLink;

class CommandEngine {
public:
    // The constant reply of every sender while no device is linked.
    static const char* const kNotConnected;
    static constexpr std::size_t kReceiveBufferSize = 0x300000;

    // Poll timing: every poll sleeps this long and reads at most this much.
    static constexpr std::uint32_t kPollSleepMs = 38;
    static constexpr std::uint32_t kPollReadBytes = 80;
    static constexpr int kPmtkPolls = 10;
    static constexpr int kErasePolls = 1000;
    static constexpr int kReplyPolls = 60;
    // High-speed link: PMTK sentences go out in pieces with a pause after each.
    static constexpr std::size_t kHighSpeedPiece = 16;
    static constexpr std::uint32_t kHighSpeedPieceMs = 100;
    // SendPmtk182Retry: resends of an unanswered command, and passes of the
    // erase command (each pass polls for up to about 38 s).
    static constexpr int kMaxResends = 50;
    static constexpr int kErasePasses = 3;
    // IsLastSectorUsed: reads of the last sector before it gives up.
    static constexpr int kLastSectorTries = 5;
    static constexpr std::uint32_t kLastSectorAddress = 0x1F0000;

    CommandEngine();
    explicit CommandEngine(SerialLink* link);
    virtual ~CommandEngine();
    CommandEngine(const CommandEngine&) = delete;
    CommandEngine& operator=(const CommandEngine&) = delete;

    // The port the engine talks through (the update page's).
    void SetLink(SerialLink* link) { link_.store(link); }
    SerialLink* GetLink() const { return link_.load(); }

    // Senders.
    const char* SendPmtk182(int command, int arg1, int arg2);
    const char* SendPmtk182Retry(int command, int arg1, int arg2);
    const char* SendOrvikCommand(int code);
    const char* SendQvrQuery(int code);

    // Pure helpers, as members so the page has them too.
    static int Pmtk182HexArgs(int command, int arg1) { return sentence::Pmtk182HexArgs(command, arg1); }
    static char HexDigit(int nibble) { return sentence::HexDigit(nibble); }
    static std::uint32_t HexToInt(const char* text) { return sentence::HexToInt(text); }
    static bool IsSentenceComplete(const char* text, int length);

    // Finders: the first tag whose "$" lies within the first length bytes.
    // They never read past receiveBuffer's end or past the end of any other
    // text (such as kNotConnected). Null for a null buffer.
    const char* FindPmtk182(const char* buffer, int length) const;
    const char* FindOrvik001(const char* buffer, int length) const;
    const char* FindQvrSentence(const char* buffer, int kind, int length) const;

    // Field cutters: find the tag within the first 80 bytes, end the text
    // skip + count characters after its "$" and return the text skip
    // characters after the "$". Only replies held in receiveBuffer are cut;
    // any other text is never written, and null is returned for it.
    char* ExtractOrvik001Field(const char* buffer, int skip, int count);
    char* ExtractQvrField(const char* buffer, int skip, int count);
    char* ExtractPmtk182Field(const char* buffer, int skip, int count);
    char* ExtractPmtk182Field2(const char* buffer, int skip, int count);

    // Value field of a "$PMTK182,3,<item>,<value>" reply; 0 without one.
    std::uint32_t ParsePmtk182Value(const char* buffer, bool hex) const;

    // TRUE unless the 16 bytes at 0x1F0000 of the logger's memory read all
    // 0xFF. When the logger gives no usable answer the sector is taken as used
    // (so nothing is skipped) and *answered is set to false.
    bool IsLastSectorUsed(bool* answered = nullptr);

    // Zeroes all of receiveBuffer.
    void ClearRxBuffer();
    // The Connect step's fresh buffer: the same buffer, zeroed. The buffer is
    // never freed or replaced while the engine lives.
    void ResetReceiveBuffer();

    std::unique_lock<std::recursive_mutex> LockReceive() const {
        return std::unique_lock<std::recursive_mutex>(receiveMutex_);
    }

private:
    // What a foreign or owned pointer may be scanned or written over.
    std::size_t ReadableBytes(const char* p, std::size_t wanted) const;
    bool InBuffer(const char* p) const;
    char* ExtractField(const char* buffer, std::string_view tag, int skip, int count);

    // Every sender's first steps: marks that a command went out, clears the
    // buffer and runs the link guard; null while no device is linked.
    SerialLink* BeginExchange();
    SerialLink* LinkGuard();
    void WritePmtkSentence(SerialLink& link, const std::string& sentence);
    const char* WaitPmtkReply(SerialLink& link, int command, const std::string& sent);
    const char* WaitTaggedReply(SerialLink& link, std::string_view expected, bool codeField);

    std::unique_ptr<char[]> storage_;
    mutable std::recursive_mutex receiveMutex_;
    std::atomic<SerialLink*> link_{nullptr};

public:
    // The 3 MiB receive buffer (one extra zero byte behind it keeps the whole
    // of it a terminated text). Owned by the engine for its whole life.
    char* const receiveBuffer;
};
