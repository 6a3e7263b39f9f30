#include "export/TrackText.h"

#include <charconv>
#include <cmath>
#include <ctime>

#include "support/ProcessZone.h"

namespace track_text {

namespace {

constexpr double kPow10[] = {1.0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7};

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr std::string_view kWeekdays = "SunMonTueWedThuFriSat";
constexpr std::string_view kMonths = "JanFebMarAprMayJunJulAugSepOctNovDec";

// Decimal digits of n, written backwards ending at end; returns the start.
char* DigitsBackward(char* end, std::uint64_t n) {
    while (n >= 100) {
        const std::size_t pair = static_cast<std::size_t>(n % 100) * 2;
        n /= 100;
        *--end = kDigitPairs[pair + 1];
        *--end = kDigitPairs[pair];
    }
    if (n >= 10) {
        *--end = kDigitPairs[n * 2 + 1];
        *--end = kDigitPairs[n * 2];
    } else {
        *--end = static_cast<char>('0' + n);
    }
    return end;
}

}  // namespace

char* PutFixed(char* p, float value, int precision) {
    // |value| below 10^9 keeps value x 10^7 below 2^52, where adding and
    // taking away 2^52 rounds to an integer to nearest, ties to even.
    if (!(std::fabs(value) < 1e9f)) {
        return std::to_chars(p, p + kMaxFixed, static_cast<double>(value), std::chars_format::fixed, precision)
            .ptr;
    }
    const double scaled = std::fabs(static_cast<double>(value)) * kPow10[precision];  // exact
    const double rounded = (scaled + 0x1p52) - 0x1p52;
    std::uint64_t n = static_cast<std::uint64_t>(rounded);
    char buffer[32];
    char* end = buffer + sizeof buffer;
    char* start = end;
    for (int i = 0; i < precision; ++i) {
        *--start = static_cast<char>('0' + n % 10);
        n /= 10;
    }
    if (precision > 0) {
        *--start = '.';
    }
    start = DigitsBackward(start, n);
    if (std::signbit(value)) {
        *--start = '-';
    }
    return Put(p, std::string_view(start, static_cast<std::size_t>(end - start)));
}

char* PutInt(char* p, long value) { return std::to_chars(p, p + 24, value).ptr; }

CivilTime CivilFromSeconds(std::int64_t seconds) {
    // Days from 1970-01-01 to a civil date and back (proleptic Gregorian,
    // eras of 400 years).
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    CivilTime t;
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    t.weekday = static_cast<int>(((days + 4) % 7 + 7) % 7);  // 1970-01-01 was a Thursday
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t dayOfEra = z - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    t.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<long>(yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0));
    return t;
}

LocalClock::LocalClock() : offset_(ChosenZoneOffset()) {}

bool LocalClock::Local(std::uint32_t utcTime, CivilTime& out) const {
    if (offset_) {
        out = CivilFromSeconds(static_cast<std::int64_t>(utcTime) + *offset_);
        return true;
    }
    std::tm tm{};
    if (!ToLocalTime(utcTime, tm) || tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_wday < 0 || tm.tm_wday > 6) {
        return false;
    }
    out.year = tm.tm_year + 1900L;
    out.month = tm.tm_mon + 1;
    out.day = tm.tm_mday;
    out.hour = tm.tm_hour;
    out.minute = tm.tm_min;
    out.second = tm.tm_sec;
    out.weekday = tm.tm_wday;
    return true;
}

char* PutAscTime(char* p, const CivilTime& t) {
    p = Put(p, kWeekdays.substr(static_cast<std::size_t>(t.weekday) * 3, 3));
    *p++ = ' ';
    p = Put(p, kMonths.substr(static_cast<std::size_t>(t.month - 1) * 3, 3));
    *p++ = ' ';
    *p++ = t.day < 10 ? ' ' : static_cast<char>('0' + t.day / 10);
    *p++ = static_cast<char>('0' + t.day % 10);
    *p++ = ' ';
    p = Put2(p, t.hour);
    *p++ = ':';
    p = Put2(p, t.minute);
    *p++ = ':';
    p = Put2(p, t.second);
    *p++ = ' ';
    return PutInt(p, t.year);
}

char* PutIsoTime(char* p, const CivilTime& t) {
    if (t.year >= 0 && t.year <= 9999) {
        p = Put2(p, static_cast<int>(t.year / 100));
        p = Put2(p, static_cast<int>(t.year % 100));
    } else {
        p = PutInt(p, t.year);
    }
    *p++ = '-';
    p = Put2(p, t.month);
    *p++ = '-';
    p = Put2(p, t.day);
    *p++ = 'T';
    p = Put2(p, t.hour);
    *p++ = ':';
    p = Put2(p, t.minute);
    *p++ = ':';
    p = Put2(p, t.second);
    *p++ = 'Z';
    return p;
}

Cursor::~Cursor() {
    if (stream_ != nullptr) {
        Finish();
    } else {
        out_->resize(used_);
    }
}

void Cursor::Grow(std::size_t n) {
    if (stream_ != nullptr) {
        Flush();
        if (buffer_.size() - used_ >= n) {
            return;
        }
    }
    std::string& s = Buffer();
    s.resize(used_ + n + s.size() / 2 + 4096);
}

void Cursor::Flush() {
    if (used_ != 0 && !failed_ && std::fwrite(buffer_.data(), 1, used_, stream_) != used_) {
        failed_ = true;
    }
    used_ = 0;
}

bool Cursor::Finish() {
    if (stream_ == nullptr) {
        return true;
    }
    Flush();
    return !failed_ && std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
}

}  // namespace track_text
