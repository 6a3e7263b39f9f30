// Number and time texts of the track file writers, written straight into a
// character buffer: the forms of printf "%.Nf", "%02d" and asctime in the C
// locale, without printf, streams or locale look-ups (a full log is 130,000
// points, four documents, a dozen numbers per point).
//
// Fixed-point: a float times 10^N (N <= 7) is exact in a double (24-bit
// mantissa times 5^N below 2^17), so rounding that product to an integer
// with the current rounding mode (to nearest, ties to even) gives the digits
// printf gives; the sign is printed whenever the value's sign bit is set, as
// printf does ("-0.00"). Values of 10^9 and more go through std::to_chars.
//
// Times: seconds since 1970 broken down by the civil calendar; local time is
// UTC plus the program's chosen zone offset (support/ProcessZone.h), read
// once per document, or ToLocalTime when no zone is chosen.
//
// Every Put function writes at the pointer and returns the end of what it
// wrote; the caller provides the room (kMaxFixed for a number).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace track_text {

inline constexpr std::size_t kMaxFixed = 64;

// printf "%.<precision>f" of the value, precision 0 to 7.
char* PutFixed(char* p, float value, int precision);
// "%d".
char* PutInt(char* p, long value);
// "%02d" of 0 to 99.
inline char* Put2(char* p, int value) {
    p[0] = static_cast<char>('0' + value / 10);
    p[1] = static_cast<char>('0' + value % 10);
    return p + 2;
}
inline char* Put(char* p, std::string_view text) {
    if (text.size() <= 8) {  // line ends and element names: no call
        for (const char c : text) {
            *p++ = c;
        }
        return p;
    }
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}
// A literal: its length is known here, so the copy is inlined.
template <std::size_t N>
inline char* Put(char* p, const char (&text)[N]) {
    std::memcpy(p, text, N - 1);
    return p + N - 1;
}

struct CivilTime {
    long year = 1970;
    int month = 1;  // 1 to 12
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 4;  // 0 Sunday
};

// Seconds since 1970-01-01 00:00 broken down (no zone).
CivilTime CivilFromSeconds(std::int64_t seconds);

// Local times of one document.
class LocalClock {
public:
    LocalClock();
    // False when the local time cannot be formed.
    bool Local(std::uint32_t utcTime, CivilTime& out) const;

private:
    std::optional<long> offset_;
};

// "Www Mmm dd hh:mm:ss yyyy" (asctime without its newline; day blank-padded).
char* PutAscTime(char* p, const CivilTime& t);
inline constexpr std::size_t kMaxAscTime = 32;
// "yyyy-mm-ddThh:mm:ssZ".
char* PutIsoTime(char* p, const CivilTime& t);

// Where a document goes, written through a cursor: Room(n) makes room for n
// characters and returns where to write; Done(end) takes what was written up
// to end. A cursor over a string appends to it (the string holds only what
// was taken once the cursor is gone); a cursor over a stream collects about
// kFlushBytes and writes them out, so a document of any size needs only
// that much memory. Finish writes what is left and reports whether every
// write succeeded.
class Cursor {
public:
    static constexpr std::size_t kFlushBytes = 1 << 20;

    explicit Cursor(std::string& out) : out_(&out), used_(out.size()) {}
    explicit Cursor(std::FILE* stream) : stream_(stream) { buffer_.resize(kFlushBytes + 65536); }
    ~Cursor();
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    char* Room(std::size_t n) {
        std::string& s = Buffer();
        if (s.size() - used_ < n) {
            Grow(n);
        }
        return Buffer().data() + used_;
    }
    void Done(const char* end) {
        used_ = static_cast<std::size_t>(end - Buffer().data());
        if (stream_ != nullptr && used_ >= kFlushBytes) {
            Flush();
        }
    }
    // Reserves for a document of about n characters (string cursors only).
    void Expect(std::size_t n) {
        if (stream_ == nullptr) {
            Room(n);
        }
    }
    void Append(std::string_view text) { Done(Put(Room(text.size()), text)); }
    bool Finish();

private:
    std::string& Buffer() { return stream_ != nullptr ? buffer_ : *out_; }
    void Grow(std::size_t n);
    void Flush();

    std::string* out_ = nullptr;
    std::FILE* stream_ = nullptr;
    std::string buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;
};

}  // namespace track_text
