#include "support/Tool.h"

#include <cstdio>

namespace {

constexpr std::int64_t kDaySeconds = 86400;

// Seconds from the start of a four-year cycle (1 January of its leap year) to
// the first day of each month: row r is the year with (year - 2000) mod 4 = r,
// entries 1..12 the months, entry 13 the start of the following year, so a
// row's entry 13 equals the next row's entry 1. Entry 0 is unused.
using MonthTable = std::array<std::array<std::int64_t, 14>, 4>;

constexpr MonthTable BuildMonthTable() {
    MonthTable table{};
    std::int64_t days = 0;
    for (int row = 0; row < 4; ++row) {
        const int monthDays[12] = {31, row == 0 ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        for (int month = 1; month <= 12; ++month) {
            table[row][month] = days * kDaySeconds;
            days += monthDays[month - 1];
        }
        table[row][13] = days * kDaySeconds;
    }
    return table;
}

constexpr MonthTable kMonthStart = BuildMonthTable();
static_assert(kMonthStart[0][3] == 60 * kDaySeconds);
static_assert(kMonthStart[1][1] == 366 * kDaySeconds);
static_assert(kMonthStart[3][13] == CTool::kCycleSeconds);

std::mutex g_loaderMutex;
CTool::StringLoader g_loader;

thread_local std::uint32_t t_lastRegError = kRegErrorSuccess;

std::string FoldCase(const std::string& text) {
    std::string folded = text;
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return folded;
}

// Two decimal digits at text[at]; -1 when they are not both digits.
int TwoDigits(const std::string& text, std::size_t at) {
    const char a = text[at];
    const char b = text[at + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') {
        return -1;
    }
    return (a - '0') * 10 + (b - '0');
}

// A registry text is a C string: it ends at its first zero byte.
std::string UpToNul(const std::string& text) { return text.substr(0, text.find('\0')); }

}  // namespace

// ---------------------------------------------------------------------------
// Key-value store

RegistryStore& RegistryStore::Instance() {
    static RegistryStore store;
    return store;
}

void RegistryStore::Set(RegRoot root, const std::string& keyPath, const std::string& name,
                        Value value) {
    std::lock_guard lock(mutex_);
    keys_[{root, FoldCase(keyPath)}][FoldCase(name)] = std::move(value);
}

bool RegistryStore::Get(RegRoot root, const std::string& keyPath, const std::string& name,
                        Value& value, std::uint32_t& error) const {
    std::lock_guard lock(mutex_);
    const auto key = keys_.find({root, FoldCase(keyPath)});
    if (key == keys_.end()) {
        error = kRegErrorFileNotFound;
        return false;
    }
    const auto entry = key->second.find(FoldCase(name));
    if (entry == key->second.end()) {
        error = kRegErrorFileNotFound;
        return false;
    }
    value = entry->second;
    error = kRegErrorSuccess;
    return true;
}

bool RegistryStore::KeyExists(RegRoot root, const std::string& keyPath) const {
    std::lock_guard lock(mutex_);
    return keys_.count({root, FoldCase(keyPath)}) != 0;
}

void RegistryStore::Clear() {
    std::lock_guard lock(mutex_);
    keys_.clear();
}

// ---------------------------------------------------------------------------
// Dates

bool CTool::DateToSeconds(std::span<const std::uint8_t, 6> date, std::int64_t& seconds) {
    const int month = date[1];
    const int day = date[2];
    if (month < 1 || month > 12 || day < 1 || day > 31) {
        return false;
    }
    const std::int64_t y = date[0];
    seconds = (y / 4) * kCycleSeconds + kMonthStart[y % 4][month] + (day - 1) * kDaySeconds +
              std::int64_t{date[3]} * 3600 + std::int64_t{date[4]} * 60 + date[5] + kSeconds2000;
    return true;
}

void CTool::SecondsToDate(std::int64_t seconds, DeviceDate& date) {
    date = DeviceDate{};
    // Before 2000-01-01 00:16:40 and past the last second a year byte holds
    // (2255-12-31 23:59:59) there is no device date; checked before any
    // arithmetic so that no value overflows.
    if (seconds < kSeconds2000 + 1000 || seconds > kLastDateSeconds) {
        return;
    }
    const std::int64_t t = seconds - kSeconds2000;
    const std::int64_t cycles = t / kCycleSeconds;
    const std::int64_t rest = t - cycles * kCycleSeconds;
    for (int row = 0; row < 4; ++row) {
        for (int month = 1; month <= 12; ++month) {
            if (kMonthStart[row][month] <= rest && rest < kMonthStart[row][month + 1]) {
                const std::int64_t year = row + 4 * cycles;
                if (year > 0xFF) {
                    return;  // past the year 2255: no year byte holds it
                }
                const std::int64_t d = rest - kMonthStart[row][month];
                const std::int64_t inDay = d % kDaySeconds;
                date[0] = static_cast<std::uint8_t>(year);
                date[1] = static_cast<std::uint8_t>(month);
                date[2] = static_cast<std::uint8_t>(d / kDaySeconds + 1);
                date[3] = static_cast<std::uint8_t>(inDay / 3600);
                date[4] = static_cast<std::uint8_t>(inDay % 3600 / 60);
                date[5] = static_cast<std::uint8_t>(inDay % 60);
                return;
            }
        }
    }
}

std::int64_t CTool::TextToSeconds(const std::string& text) {
    // "MMDD20YY hhmmss"
    if (text.size() != 15 || text[4] != '2' || text[5] != '0' || text[8] != ' ') {
        return 0;
    }
    const int month = TwoDigits(text, 0);
    const int day = TwoDigits(text, 2);
    const int year = TwoDigits(text, 6);
    const int hour = TwoDigits(text, 9);
    const int minute = TwoDigits(text, 11);
    const int second = TwoDigits(text, 13);
    if (month < 1 || month > 12 || day < 1 || year < 0 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59) {
        return 0;
    }
    // Years 2000..2099: every fourth one is a leap year.
    const int monthDays[12] = {31, year % 4 == 0 ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (day > monthDays[month - 1]) {
        return 0;
    }
    const DeviceDate date = {static_cast<std::uint8_t>(year), static_cast<std::uint8_t>(month),
                             static_cast<std::uint8_t>(day), static_cast<std::uint8_t>(hour),
                             static_cast<std::uint8_t>(minute), static_cast<std::uint8_t>(second)};
    std::int64_t seconds = 0;
    DateToSeconds(date, seconds);
    return seconds;
}

void CTool::FormatDate(std::span<const std::uint8_t, 6> date, std::string& text) {
    // Each field is one byte, so a corrupt date gives at most 3 digits per
    // field; the buffer holds every case.
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, "%02d%02d20%02d %02d%02d%02d", date[1],
                                date[2], date[0], date[3], date[4], date[5]);
    text.assign(buffer, static_cast<std::size_t>(n));
}

void CTool::FormatSeconds(std::int64_t seconds, std::string& text) {
    DeviceDate date;
    SecondsToDate(seconds, date);
    FormatDate(date, text);
}

void CTool::FormatSecondsUtc(std::int64_t seconds, std::string& text) {
    DeviceDate date;
    SecondsToDate(seconds, date);
    char buffer[32];
    const int n = std::snprintf(buffer, sizeof buffer, "%02d%02d%02d%02d%02d%02dZ", date[0],
                                date[1], date[2], date[3], date[4], date[5]);
    text.assign(buffer, static_cast<std::size_t>(n));
}

// ---------------------------------------------------------------------------
// Registry

void CTool::SetStringLoader(StringLoader loader) {
    std::lock_guard lock(g_loaderMutex);
    g_loader = std::move(loader);
}

std::string CTool::LoadText(unsigned id) {
    StringLoader loader;
    {
        std::lock_guard lock(g_loaderMutex);
        loader = g_loader;
    }
    return loader ? loader(id) : std::string();
}

std::uint32_t CTool::GetLastRegError() { return t_lastRegError; }

void CTool::BuildRegistryPath(std::string& keyPath, const std::string& keyText,
                              std::string& valueName) {
    keyPath = LoadText(kRegistryRootStringId);
    const std::size_t slash = keyText.rfind('\\');
    if (slash == std::string::npos) {
        valueName = keyText;
        return;
    }
    if (!keyPath.empty() && keyPath.back() != '\\') {
        keyPath += '\\';
    }
    keyPath += keyText.substr(0, slash);
    valueName = keyText.substr(slash + 1);
}

bool CTool::RegReadString(RegRoot root, const std::string& keyText, std::string& text) {
    std::string path;
    std::string name;
    BuildRegistryPath(path, keyText, name);
    RegistryStore::Value value;
    std::uint32_t error = kRegErrorSuccess;
    if (!RegistryStore::Instance().Get(root, path, name, value, error)) {
        t_lastRegError = error;
        return false;
    }
    const std::string* stored = std::get_if<std::string>(&value);
    if (!stored) {
        t_lastRegError = kRegErrorInvalidData;
        return false;
    }
    if (stored->size() + 1 > kStringReadBufferSize) {
        t_lastRegError = kRegErrorMoreData;
        return false;
    }
    text = *stored;
    t_lastRegError = kRegErrorSuccess;
    return true;
}

bool CTool::RegWriteString(RegRoot root, const std::string& keyText, const std::string& text) {
    std::string path;
    std::string name;
    BuildRegistryPath(path, keyText, name);
    RegistryStore::Instance().Set(root, path, name, UpToNul(text));
    t_lastRegError = kRegErrorSuccess;
    return true;
}

bool CTool::RegReadDword(RegRoot root, const std::string& keyText, std::uint32_t& value) {
    std::string path;
    std::string name;
    BuildRegistryPath(path, keyText, name);
    RegistryStore::Value stored;
    std::uint32_t error = kRegErrorSuccess;
    if (!RegistryStore::Instance().Get(root, path, name, stored, error)) {
        t_lastRegError = error;
        return false;
    }
    const std::uint32_t* number = std::get_if<std::uint32_t>(&stored);
    if (!number) {
        t_lastRegError = kRegErrorInvalidData;
        return false;
    }
    value = *number;
    t_lastRegError = kRegErrorSuccess;
    return true;
}

bool CTool::RegWriteDword(RegRoot root, const std::string& keyText, std::uint32_t value) {
    std::string path;
    std::string name;
    BuildRegistryPath(path, keyText, name);
    RegistryStore::Instance().Set(root, path, name, value);
    t_lastRegError = kRegErrorSuccess;
    return true;
}

bool CTool::RegReadString(RegRoot root, const std::string& subkey, const std::string& valueName,
                          std::string& text) {
    return RegReadString(root, subkey + "\\" + valueName, text);
}

bool CTool::RegReadString(RegRoot root, const std::string& subkey, unsigned valueNameId,
                          std::string& text) {
    return RegReadString(root, subkey, LoadText(valueNameId), text);
}

bool CTool::RegWriteString(RegRoot root, const std::string& subkey, const std::string& valueName,
                           const std::string& text) {
    return RegWriteString(root, subkey + "\\" + valueName, text);
}

bool CTool::RegWriteString(RegRoot root, const std::string& subkey, unsigned valueNameId,
                           const std::string& text) {
    return RegWriteString(root, subkey, LoadText(valueNameId), text);
}

bool CTool::RegReadDword(RegRoot root, const std::string& subkey, const std::string& valueName,
                         std::uint32_t& value) {
    return RegReadDword(root, subkey + "\\" + valueName, value);
}

bool CTool::RegReadDword(RegRoot root, const std::string& subkey, unsigned valueNameId,
                         std::uint32_t& value) {
    return RegReadDword(root, subkey, LoadText(valueNameId), value);
}

bool CTool::RegWriteDword(RegRoot root, const std::string& subkey, const std::string& valueName,
                          std::uint32_t value) {
    return RegWriteDword(root, subkey + "\\" + valueName, value);
}

bool CTool::RegWriteDword(RegRoot root, const std::string& subkey, unsigned valueNameId,
                          std::uint32_t value) {
    return RegWriteDword(root, subkey, LoadText(valueNameId), value);
}
