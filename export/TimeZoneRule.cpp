#include "export/TimeZoneRule.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "support/ProcessZone.h"
#include "support/UtilityManager.h"

namespace zone_rule {

namespace {

constexpr std::array<std::string_view, kRowCount> kLabels = {
    "+13", "+12", "+11", "+10", "+9", "+8", "+7", "+6", "+5", "+4", "+3", "+2", "+1",
    "0",   "-1",  "-2",  "-3",  "-4", "-5", "-6", "-7", "-8", "-9", "-10", "-11", "-12"};

// atoi of a label: optional sign, digits up to the first other character.
int LabelValue(std::string_view label) {
    std::size_t i = 0;
    bool negative = false;
    if (i < label.size() && (label[i] == '+' || label[i] == '-')) {
        negative = label[i] == '-';
        ++i;
    }
    int value = 0;
    for (; i < label.size() && label[i] >= '0' && label[i] <= '9' && value < 1000; ++i) {
        value = value * 10 + (label[i] - '0');
    }
    return negative ? -value : value;
}

}  // namespace

std::string_view RowLabel(int row) {
    if (row < 0 || row >= kRowCount) {
        return {};
    }
    return kLabels[static_cast<std::size_t>(row)];
}

std::optional<int> RowOfZone(int zone) {
    const int row = 13 - zone;
    if (row < 0 || row >= kRowCount) {
        return std::nullopt;
    }
    return row;
}

std::optional<int> RowOfLabel(std::string_view label) {
    for (int row = 0; row < kRowCount; ++row) {
        if (kLabels[static_cast<std::size_t>(row)] == label) {
            return row;
        }
    }
    return std::nullopt;
}

DefaultZone ChooseDefaultZone(bool useSavedZone, std::string_view savedZoneText,
                              long machineStandardOffsetSeconds) {
    DefaultZone result;
    if (useSavedZone) {
        result.label = std::string(savedZoneText.substr(0, 4));
    } else {
        // The bias is minutes west of UTC; its whole hours truncate toward
        // zero, and the label carries the opposite sign.
        const long bias = -machineStandardOffsetSeconds / 60;
        const long hours = bias / 60;
        if (hours == 0) {
            result.label = "0";
        } else {
            char text[24];
            const auto end = std::to_chars(text, text + sizeof text, -hours).ptr;
            result.label = (hours < 0 ? "+" : "") + std::string(text, end);
        }
    }
    result.row = RowOfLabel(result.label);
    result.zone = LabelValue(result.label);
    return result;
}

long MachineStandardOffset(std::int64_t utcSeconds) {
    std::tm utc{};
    if (!ToUtcTime(utcSeconds, utc)) {
        return MachineZoneOffset(utcSeconds);
    }
    std::tm january{};
    january.tm_year = utc.tm_year;
    january.tm_mday = 1;
    std::tm july = january;
    july.tm_mon = 6;
    const long a = MachineZoneOffset(static_cast<std::int64_t>(timegm(&january)));
    const long b = MachineZoneOffset(static_cast<std::int64_t>(timegm(&july)));
    return a < b ? a : b;
}

DefaultZone InitTimeZone(CUtilityManager& settings) {
    DefaultZone zone = ChooseDefaultZone(settings.useSavedZone != 0, settings.savedZoneText,
                                         MachineStandardOffset(std::time(nullptr)));
    settings.SetPhotoTimeZone(zone.zone);
    return zone;
}

void ApplyZone(int zone) {
    const long offset = static_cast<long>(zone) * 3600L;
    SetChosenZoneOffset(offset);
    // The zone in force as the C library describes a fixed zone named "TMP":
    // no daylight rule, and the offset counted in seconds west of UTC.
    std::printf("_daylight = %d\n_timezone = %ld\n_tzname[0] = %s\n", 0, -offset, "TMP");
    std::fflush(stdout);
}

bool ApplyZoneRow(int row) {
    if (row < 0 || row >= kRowCount) {
        return false;
    }
    ApplyZone(ZoneOfRow(row));
    return true;
}

}  // namespace zone_rule
