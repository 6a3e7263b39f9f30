#include "support/ProcessZone.h"

#include <atomic>
#include <limits>

namespace {

// LONG_MIN means "no zone chosen".
constexpr long kNoZone = std::numeric_limits<long>::min();
std::atomic<long> chosenOffset{kNoZone};

// Instants beyond about ±292 billion years cannot reach time_t arithmetic
// safely; keep well inside what gmtime_r handles.
constexpr std::int64_t kLimit = 67767976233316800LL;

}  // namespace

void SetChosenZoneOffset(long offsetSeconds) { chosenOffset.store(offsetSeconds); }
void ClearChosenZone() { chosenOffset.store(kNoZone); }

std::optional<long> ChosenZoneOffset() {
    const long v = chosenOffset.load();
    if (v == kNoZone) {
        return std::nullopt;
    }
    return v;
}

long MachineZoneOffset(std::int64_t utcSeconds) {
    std::tm local{};
    const std::time_t t = static_cast<std::time_t>(utcSeconds);
    if (localtime_r(&t, &local) == nullptr) {
        return 0;
    }
    return local.tm_gmtoff;
}

bool ToUtcTime(std::int64_t utcSeconds, std::tm& out) {
    out = std::tm{};
    if (utcSeconds > kLimit || utcSeconds < -kLimit) {
        return false;
    }
    const std::time_t t = static_cast<std::time_t>(utcSeconds);
    if (gmtime_r(&t, &out) == nullptr) {
        out = std::tm{};
        return false;
    }
    return true;
}

bool ToLocalTime(std::int64_t utcSeconds, std::tm& out) {
    const std::optional<long> offset = ChosenZoneOffset();
    if (offset) {
        if (utcSeconds > kLimit || utcSeconds < -kLimit) {
            out = std::tm{};
            return false;
        }
        if (!ToUtcTime(utcSeconds + *offset, out)) {
            return false;
        }
        out.tm_gmtoff = *offset;
        out.tm_isdst = 0;
        return true;
    }
    out = std::tm{};
    if (utcSeconds > kLimit || utcSeconds < -kLimit) {
        return false;
    }
    const std::time_t t = static_cast<std::time_t>(utcSeconds);
    if (localtime_r(&t, &out) == nullptr) {
        out = std::tm{};
        return false;
    }
    return true;
}
