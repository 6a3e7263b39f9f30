// Date-time and registry utility. Pages hold one as a member; it has no data
// of its own.
//
// The devices count dates as six bytes from the year 2000: year - 2000,
// month (1..12), day (1..31), hour, minute, second, all UTC. CTool converts
// them to and from seconds since 1970 and formats them as text.
//
// The "registry" is a small key-value store kept in memory for the length of
// a run (nothing is persisted): values live under a root key and a key path
// of names separated by "\"; key paths and value names compare without
// regard to ASCII case, so a page may spell a name in any case.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <tuple>
#include <variant>

// Six bytes: year - 2000, month, day, hour, minute, second.
using DeviceDate = std::array<std::uint8_t, 6>;

// Root keys of the key-value store.
enum class RegRoot { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

// Error codes that a failed registry operation leaves as the thread's last
// error (CTool::GetLastRegError): absent key or value, value of the other
// type, text too long for the read buffer.
constexpr std::uint32_t kRegErrorSuccess = 0;
constexpr std::uint32_t kRegErrorFileNotFound = 2;
constexpr std::uint32_t kRegErrorInvalidData = 13;
constexpr std::uint32_t kRegErrorMoreData = 234;

// The in-memory store behind the registry operations. One per process;
// thread-safe. Key paths and value names compare without regard to ASCII
// case, like registry keys.
class RegistryStore {
public:
    enum class Type { String, Dword };
    using Value = std::variant<std::string, std::uint32_t>;

    static RegistryStore& Instance();

    void Set(RegRoot root, const std::string& keyPath, const std::string& name, Value value);
    // False with kRegErrorFileNotFound when the key or the value is absent.
    bool Get(RegRoot root, const std::string& keyPath, const std::string& name, Value& value,
             std::uint32_t& error) const;
    bool KeyExists(RegRoot root, const std::string& keyPath) const;
    // Forgets every key and value (tests start from an empty store).
    void Clear();

private:
    using KeyId = std::tuple<RegRoot, std::string>;
    mutable std::mutex mutex_;
    std::map<KeyId, std::map<std::string, Value>> keys_;
};

class CTool {
public:
    // Seconds from 2000-01-01 00:00:00 UTC back to 1970.
    static constexpr std::int64_t kSeconds2000 = 946684800;
    // Four calendar years, one of them a leap year.
    static constexpr std::int64_t kCycleSeconds = 126230400;
    // The last second a device date can hold: 2255-12-31 23:59:59 by the
    // device's calendar, the end of 64 four-year cycles.
    static constexpr std::int64_t kLastDateSeconds = kSeconds2000 + 64 * kCycleSeconds - 1;
    // String id of the program's registry root text (absent: empty).
    static constexpr unsigned kRegistryRootStringId = 112;

    CTool() = default;
    virtual ~CTool() = default;

    // Seconds since 1970 of a device date. A month outside 1..12 or a day
    // outside 1..31 leaves seconds unchanged and returns false. Hour, minute
    // and second are taken as they are.
    static bool DateToSeconds(std::span<const std::uint8_t, 6> date, std::int64_t& seconds);
    // Device date of a count of seconds since 1970. Before 2000-01-01
    // 00:16:40 and after kLastDateSeconds (what a year byte can hold) the
    // value is refused: the date is all zero.
    static void SecondsToDate(std::int64_t seconds, DeviceDate& date);
    // Seconds of a 15-character text "MMDD20YY hhmmss" (the FormatDate
    // layout); 0 when the text does not hold a valid date and time.
    static std::int64_t TextToSeconds(const std::string& text);
    // "MMDD20YY hhmmss".
    static void FormatDate(std::span<const std::uint8_t, 6> date, std::string& text);
    // FormatDate of SecondsToDate.
    static void FormatSeconds(std::int64_t seconds, std::string& text);
    // "YYMMDDhhmmssZ" of SecondsToDate.
    static void FormatSecondsUtc(std::int64_t seconds, std::string& text);

    // Registry operations. The key text's part after its last "\" is the
    // value name; the part before it is appended to the program's registry
    // root text. Every failure returns false and leaves its error code for
    // GetLastRegError; a value of the other type fails with
    // kRegErrorInvalidData.
    bool RegReadString(RegRoot root, const std::string& keyText, std::string& text);
    bool RegReadString(RegRoot root, const std::string& subkey, const std::string& valueName,
                       std::string& text);
    bool RegReadString(RegRoot root, const std::string& subkey, unsigned valueNameId,
                       std::string& text);
    bool RegWriteString(RegRoot root, const std::string& keyText, const std::string& text);
    bool RegWriteString(RegRoot root, const std::string& subkey, const std::string& valueName,
                        const std::string& text);
    bool RegWriteString(RegRoot root, const std::string& subkey, unsigned valueNameId,
                        const std::string& text);
    bool RegReadDword(RegRoot root, const std::string& keyText, std::uint32_t& value);
    bool RegReadDword(RegRoot root, const std::string& subkey, const std::string& valueName,
                      std::uint32_t& value);
    bool RegReadDword(RegRoot root, const std::string& subkey, unsigned valueNameId,
                      std::uint32_t& value);
    bool RegWriteDword(RegRoot root, const std::string& keyText, std::uint32_t value);
    bool RegWriteDword(RegRoot root, const std::string& subkey, const std::string& valueName,
                       std::uint32_t value);
    bool RegWriteDword(RegRoot root, const std::string& subkey, unsigned valueNameId,
                       std::uint32_t value);
    // Splits a key text into the key path (starting from the registry root
    // text) and the value name.
    void BuildRegistryPath(std::string& keyPath, const std::string& keyText,
                           std::string& valueName);

    // The error code of this thread's last failed registry operation.
    static std::uint32_t GetLastRegError();

    // Texts by string id come from the program's string table; until one is
    // installed every id loads as an empty text (as an id that the table
    // lacks does). An empty function restores that.
    using StringLoader = std::function<std::string(unsigned)>;
    static void SetStringLoader(StringLoader loader);
    static std::string LoadText(unsigned id);

    // Longest string value that a read takes, terminating zero included.
    static constexpr std::size_t kStringReadBufferSize = 256;
};
