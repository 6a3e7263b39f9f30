#include "tracklog/LoggerOptions.h"

#include <charconv>

namespace logger {

int IntervalToComboIndex(int kind, int value) {
    if (kind == 0) {
        switch (value) {
            case 1: return 0;
            case 10: return 2;
            case 15: return 3;
            case 30: return 4;
            case 60: return 5;
            case 120: return 6;
            default: return 1;
        }
    }
    if (kind == 1) {
        switch (value) {
            case 100: return 1;
            case 150: return 2;
            case 300: return 3;
            case 500: return 4;
            case 1000: return 5;
            default: return 0;
        }
    }
    return 0;
}

int DistanceTenths(int selection, bool feet) {
    if (selection < 0 || selection >= static_cast<int>(kMetricDistanceTable.size())) return -1;
    return feet ? kImperialDistanceTable[selection] : kMetricDistanceTable[selection];
}

int IntervalTenths(int selection) {
    if (selection < 0 || selection >= static_cast<int>(kIntervalSeconds.size())) return -1;
    return kIntervalSeconds[selection] * 10;
}

std::vector<Setting> SettingsToSend(const Options& wanted, const Options& sent) {
    std::vector<Setting> out;
    if (wanted.intervalTenths != sent.intervalTenths && wanted.intervalTenths != 0) {
        out.push_back({kItemInterval, wanted.intervalTenths});
    }
    if (wanted.distanceTenths != sent.distanceTenths && wanted.distanceTenths != 0) {
        out.push_back({kItemDistance, wanted.distanceTenths});
    }
    if (wanted.recordMode != sent.recordMode && wanted.recordMode != 0) {
        out.push_back({kItemRecordMode, wanted.recordMode});
    }
    return out;
}

namespace {

bool ConsumePrefix(std::string_view& text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix) return false;
    text.remove_prefix(prefix.size());
    return true;
}

// A number field that ends at "," or "*".
std::optional<std::uint32_t> NumberField(std::string_view& text, bool hex) {
    const std::size_t end = text.find_first_of(",*");
    if (end == 0 || end == std::string_view::npos) return std::nullopt;
    std::uint32_t value = 0;
    const char* first = text.data();
    const char* last = text.data() + end;
    const auto result = std::from_chars(first, last, value, hex ? 16 : 10);
    if (result.ec != std::errc() || result.ptr != last) return std::nullopt;
    text.remove_prefix(end);
    return value;
}

}  // namespace

bool IsAcknowledged(std::string_view reply, int command) {
    std::string_view text = reply;
    if (!ConsumePrefix(text, "$PMTK001,182,")) return false;
    const auto echoed = NumberField(text, false);
    if (!echoed || *echoed != static_cast<std::uint32_t>(command) || !ConsumePrefix(text, ",")) return false;
    const auto flag = NumberField(text, false);
    return flag && *flag == 3 && ConsumePrefix(text, "*");
}

std::optional<std::uint32_t> OptionValue(std::string_view reply, int item, bool hex) {
    std::string_view text = reply;
    if (!ConsumePrefix(text, "$PMTK182,3,")) return std::nullopt;
    const auto echoed = NumberField(text, false);
    if (!echoed || *echoed != static_cast<std::uint32_t>(item) || !ConsumePrefix(text, ",")) return std::nullopt;
    const auto value = NumberField(text, hex);
    if (!value || !ConsumePrefix(text, "*")) return std::nullopt;
    return value;
}

int ShownRecordMode(std::uint32_t replyValue) { return replyValue == kFullAndStop ? kFullAndStop : kOverwrite; }

std::uint32_t FreeRecordCount(std::uint32_t endAddress) {
    if (endAddress >= kLogMemoryBytes) return 0;
    return (kLogMemoryBytes - endAddress) / kRecordBytes;
}

std::string FreeRecordText(std::uint32_t freeCount) { return freeCount >= 2 ? std::to_string(freeCount) : "0"; }

}  // namespace logger
