// Recorded device sessions: the text files of tests/data/sessions/ (their
// format is described in the README.md of that folder), a log of the wire as
// the program sees it, and two serial backends: one that records what passes
// through another backend, one that plays the device's side from a file.
//
// Wire lines, one event each:
//   ! open NAME | ! baud N | ! purge | ! close    port operations
//   > BYTES                                      one write of the program
//   < BYTES                                      what the program read, up to
//                                                the next event or empty read
// BYTES is text with C escapes (\r \n \t \\ \xNN) when most bytes are
// printable, else "hex" and the bytes in hexadecimal; a binary write longer
// than 48 bytes is summed up as "bin", its length, an FNV-1a hash and its
// first 16 bytes. Reads are always written in full, so they can be played.
//
// Locking: the log and both backends take one mutex per call; the program
// may use them from its worker threads.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/SerialBackend.h"

namespace testsupport::session {

struct SessionFile {
    std::vector<std::string> comments;                        // "# ..." lines, as written
    std::vector<std::pair<std::string, std::string>> header;  // "key: value"
    std::vector<std::string> wire;                            // "! ...", "> ...", "< ..."
    std::vector<std::string> texts;                           // "= ..."

    std::string Value(const std::string& key) const;  // empty when absent
};

bool ParseSessionFile(std::string_view text, SessionFile& out, std::string* error);
std::string RenderSessionFile(const SessionFile& file);

// C escapes; bytes from 0x80 stay as they are when keepUtf8 is set.
std::string Escape(std::string_view bytes, bool keepUtf8 = false);
bool Unescape(std::string_view text, std::string& out);
std::string RenderWrite(std::string_view bytes);
std::string RenderRead(std::string_view bytes);
// The bytes of a "< " line.
bool ReadLineBytes(const std::string& line, std::string& bytes);

// The wire as the program sees it, in order.
class WireLog {
public:
    void Event(const std::string& line);  // "! ..." lines
    void Wrote(std::string_view bytes);
    void Read(std::string_view bytes);  // empty: a read that found nothing
    std::vector<std::string> Lines() const;

private:
    struct Entry {
        char kind;  // '!', '>', '<'
        std::string bytes;
    };
    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    bool reading_ = false;  // the last entry is a read still growing
};

// Records every operation on the ports of another backend.
class TapBackend : public platform::SerialBackend {
public:
    TapBackend(platform::SerialBackend& inner, WireLog& log) : inner_(inner), log_(log) {}
    std::unique_ptr<platform::SerialChannel> Open(const std::string& name) override;

private:
    platform::SerialBackend& inner_;
    WireLog& log_;
};

// Plays the device: every operation of the program is logged and compared
// with the next wire line of the session; when they agree, the "<" lines that
// follow become the input of the next reads, one line per run of reads, an
// empty read between two lines. After the first disagreement the device falls
// silent.
class PlaybackBackend : public platform::SerialBackend {
public:
    PlaybackBackend(std::vector<std::string> wire, WireLog& log) : wire_(std::move(wire)), log_(log) {}
    std::unique_ptr<platform::SerialChannel> Open(const std::string& name) override;

    // The operation, logged and followed.
    void Follow(const std::string& line);
    bool Read(void* buffer, std::uint32_t count, std::uint32_t* got);
    void DropInput();
    // Index of the first wire line the program did not follow, -1 while none.
    int DivergedAt() const;

private:
    std::vector<std::string> wire_;
    WireLog& log_;
    mutable std::mutex mutex_;
    std::size_t next_ = 0;
    int diverged_ = -1;
    std::deque<std::string> input_;
    bool gap_ = false;
};

}  // namespace testsupport::session
