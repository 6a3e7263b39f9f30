// The program's time zone for local times (track-log file names, text and
// KML outputs, photo times).
//
// The format conversion page chooses a zone as a fixed UTC offset in whole
// hours. Local times are then computed from that offset directly: the process
// environment (TZ) is never changed, so a conversion on one thread cannot
// change the times another thread is formatting. Until a zone is chosen,
// local times follow the machine's own zone (localtime_r).
//
// The chosen offset is one atomic value; every function here may be called
// from any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

// Offset in seconds east of UTC (UTC+9 is 32400).
void SetChosenZoneOffset(long offsetSeconds);
void ClearChosenZone();
std::optional<long> ChosenZoneOffset();

// The machine's own offset east of UTC at the given instant.
long MachineZoneOffset(std::int64_t utcSeconds);

// utc as broken-down local time in the program's zone. False when the
// instant cannot be represented (tm_year out of int range or a failed
// conversion); out is then left zeroed.
bool ToLocalTime(std::int64_t utcSeconds, std::tm& out);
// utc as broken-down UTC.
bool ToUtcTime(std::int64_t utcSeconds, std::tm& out);
