// The track logger's recording options as the logger settings page keeps
// them, without any window: the choice tables, the sentences an Apply sends,
// the replies the logger gives, and the free record count of its memory.
//
// Tables (indexed by the selection of the page's drop-down lists):
//
//   interval list   "1" "5" "10" "15" "30" "60" "120"          seconds
//   distance list   "50" "100" "150" "300" "500" "1000"         as shown
//   metric table    500 1000 1500 3000 5000 10000               tenths of a metre
//   imperial table  152 304 457 914 1524 3048                   tenths of a metre
//
// The logger counts the interval in tenths of a second and the distance in
// tenths of a metre; the page keeps both in those units, so a value read from
// the logger is compared and sent back unrounded.
//
// Replies (bodies; the engine frames and checks them):
//
//   $PMTK182,3,<item>,<value>   the answer to a query (item 8 in hexadecimal)
//   $PMTK001,182,<command>,<f>  the acknowledgement: f = 3 done, 2 failed,
//                               1 unknown command, 0 invalid
//
// Nothing here locks: the page calls it on the UI thread with texts it has
// copied or holds the engine's receive lock over.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace logger {

inline constexpr std::array<int, 7> kIntervalSeconds = {1, 5, 10, 15, 30, 60, 120};
inline constexpr std::array<const char*, 7> kIntervalTexts = {"1", "5", "10", "15", "30", "60", "120"};
inline constexpr std::array<const char*, 6> kDistanceTexts = {"50", "100", "150", "300", "500", "1000"};
inline constexpr std::array<int, 6> kMetricDistanceTable = {500, 1000, 1500, 3000, 5000, 10000};
inline constexpr std::array<int, 6> kImperialDistanceTable = {152, 304, 457, 914, 1524, 3048};

// Option items of PMTK182 commands 1 (set) and 2 (query).
inline constexpr int kItemInterval = 3;
inline constexpr int kItemDistance = 4;
inline constexpr int kItemRecordMode = 6;
inline constexpr int kItemEndAddress = 8;

// Record modes.
inline constexpr int kOverwrite = 1;
inline constexpr int kFullAndStop = 2;

// The logger's log memory and the size of one record in it.
inline constexpr std::uint32_t kLogMemoryBytes = 0x200000;
inline constexpr std::uint32_t kRecordBytes = 16;

// The smallest values the logger takes; smaller ones read back select the
// first list entry and are not kept.
inline constexpr int kMinIntervalTenths = 5;
inline constexpr int kMinDistanceTenths = 50;

// The list entry of a value: kind 0 seconds, kind 1 metres; values the list
// lacks give the second (seconds) or first (metres) entry.
int IntervalToComboIndex(int kind, int value);

// Tenths of a metre of a distance list entry; -1 for no entry.
int DistanceTenths(int selection, bool feet);
// Tenths of a second of an interval list entry; -1 for no entry.
int IntervalTenths(int selection);

// The options as the page holds them, or as the logger was last told.
struct Options {
    int intervalTenths = 0;
    int distanceTenths = 0;
    int recordMode = 0;
};

struct Setting {
    int item = 0;
    int value = 0;
    friend bool operator==(const Setting&, const Setting&) = default;
};

// What an Apply sends, in order: each option that differs from what the
// logger was told and is not 0 (0 switches nothing on the logger).
std::vector<Setting> SettingsToSend(const Options& wanted, const Options& sent);

// True for an acknowledgement "$PMTK001,182,<command>,3" at the start of
// the reply.
bool IsAcknowledged(std::string_view reply, int command);

// The value of a "$PMTK182,3,<item>,<value>" reply at the start of reply
// (decimal, or hexadecimal for the end address); nothing when the reply is
// another one or its value is no number.
std::optional<std::uint32_t> OptionValue(std::string_view reply, int item, bool hex);

// The record mode as the page shows and keeps it: 2 stays 2, anything else
// (a reply the page does not know included) is overwrite.
int ShownRecordMode(std::uint32_t replyValue);

// Records left in the log memory when the log ends at endAddress; 0 once
// the address reaches or passes the end of the memory.
std::uint32_t FreeRecordCount(std::uint32_t endAddress);
// The count as the device page shows it: the number, or "0" below 2.
std::string FreeRecordText(std::uint32_t freeCount);

}  // namespace logger
