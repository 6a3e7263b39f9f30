// What the GPS status page shows: one fixed set of sample values, the
// time-zone choices and the reset modes. The page fills its controls from
// here once and changes nothing afterwards (it sends nothing to the device).
#pragma once

#include <array>

namespace gpsstatus {

// The sample fix the page shows.
struct SampleFix {
    const char* utcTime;    // edit "GMT"
    const char* localTime;  // edit "Local Time"
    const char* latitude;
    const char* longitude;
    const char* altitude;
    const char* speed;
};
inline constexpr SampleFix kSampleFix = {
    "2006/12/04 04:00:00", "2006/12/04 12:00:00", "24.997132 N", "121.485058 E", "127.9 m", "0.00 km/h",
};

// "Select Time Zone of Country (UTC)": +12 down to -12; "+8" selected.
inline constexpr std::array<const char*, 25> kTimeZones = {
    "+12", "+11", "+10", "+9", "+8", "+7", "+6", "+5", "+4", "+3", "+2", "+1", "0",
    "-1",  "-2",  "-3",  "-4", "-5", "-6", "-7", "-8", "-9", "-10", "-11", "-12",
};
inline constexpr int kSelectedTimeZone = 4;

// "Reset Mode" radios in their order; "Hot Start" checked.
inline constexpr std::array<const char*, 4> kResetModes = {"Hot Start", "Warm Start", "Cold Start", "Factory Reset"};
inline constexpr int kCheckedResetMode = 0;

}  // namespace gpsstatus
