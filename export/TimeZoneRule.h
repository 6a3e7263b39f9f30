// The program's time-zone rule: the zone combo's 26 rows, the default zone
// taken from the machine, and applying a chosen zone.
//
// Zone table (row, label, zone in whole hours east of UTC; zone = 13 - row):
//
//   0 "+13"  13    7 "+6"  6    13 "0"   0    20 "-7"  -7
//   1 "+12"  12    8 "+5"  5    14 "-1" -1    21 "-8"  -8
//   2 "+11"  11    9 "+4"  4    15 "-2" -2    22 "-9"  -9
//   3 "+10"  10   10 "+3"  3    16 "-3" -3    23 "-10" -10
//   4 "+9"    9   11 "+2"  2    17 "-4" -4    24 "-11" -11
//   5 "+8"    8   12 "+1"  1    18 "-5" -5    25 "-12" -12
//   6 "+7"    7                 19 "-6" -6
//
// Default zone: the saved label when the settings object says to use it;
// otherwise the machine's standard offset (daylight saving not looked at) as
// whole hours truncated toward zero (UTC+5:45 gives "+5", UTC-3:30 "-3").
// A machine on UTC selects row 13 ("0"): taken literally the label would be
// "-0", which matches no row and left the combo without a selection. A
// machine zone that no row names (UTC+14) selects no row, and its zone is
// the one applied.
//
// Applying a zone sets the chosen fixed offset of support/ProcessZone.h: local
// times are then UTC plus the zone's hours, with no daylight-saving rule. The
// process environment is never touched, so a conversion running on another
// thread cannot see its times change half way.
//
// All functions are safe from any thread (the chosen offset is atomic).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class CUtilityManager;

namespace zone_rule {

inline constexpr int kRowCount = 26;
inline constexpr int kUtcRow = 13;

// Label of a row ("+13" .. "-12"); empty for a row outside the table.
std::string_view RowLabel(int row);
// 13 - row.
constexpr int ZoneOfRow(int row) { return 13 - row; }
// The row of a zone, or nothing for a zone outside +13 .. -12.
std::optional<int> RowOfZone(int zone);
// The row whose label equals label exactly.
std::optional<int> RowOfLabel(std::string_view label);

struct DefaultZone {
    std::string label;       // "+8", "-5", "0" ...
    std::optional<int> row;  // nothing: leave the combo's selection as it is
    int zone = 0;            // hours east of UTC
};

// The default zone from the saved label (when useSavedZone) or from the
// machine's standard offset in seconds east of UTC.
DefaultZone ChooseDefaultZone(bool useSavedZone, std::string_view savedZoneText,
                              long machineStandardOffsetSeconds);
// The machine's standard (winter) offset east of UTC in the year of
// utcSeconds: the smaller of its offsets at the start of January and July.
long MachineStandardOffset(std::int64_t utcSeconds);
// The page's InitTimeZone: ChooseDefaultZone from the settings object and the
// machine's zone now; the zone is stored as the settings' photo time zone.
DefaultZone InitTimeZone(CUtilityManager& settings);

// Local times from now on are UTC + zone hours. Prints the zone in force to
// standard output, in three lines:
//   _daylight = 0
//   _timezone = <-zone x 3600, seconds west of UTC>
//   _tzname[0] = TMP
void ApplyZone(int zone);
// ApplyZone(ZoneOfRow(row)); false (nothing changed) for a row outside the table.
bool ApplyZoneRow(int row);

}  // namespace zone_rule
