#include "tracklog/TrackLogSettings.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/Sentence.h"
#include "device/SentencePort.h"
#include "platform/Clock.h"
#include "support/UtilityManager.h"

namespace {

// "The integer in" an edit's text: leading blanks, a sign, digits.
int TextToInt(const std::string& text) { return static_cast<int>(sentence::DecimalToInt(text)); }


std::uint32_t ReadU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

constexpr std::size_t kFindWithin = 20;

}  // namespace

// ---------------------------------------------------------------------------
// The page's sender.

std::string TrackLogPmtk182Sender::BuildSentence(int command, int arg1, int arg2) {
    const int hex = sentence::Pmtk182HexArgs(command, arg1);
    std::string body = "PMTK182," + std::to_string(command);
    if (arg1 != 0) {
        sentence::AppendArg(body, arg1, (hex & 1) != 0);
    }
    if (arg2 != 0) {
        sentence::AppendArg(body, arg2, (hex & 2) != 0);
    }
    return sentence::FrameSentence(body);
}

std::string_view TrackLogPmtk182Sender::ExpectedReply(int command) {
    return sentence::Pmtk182ReplyTag(command);
}

Pmtk182Result TrackLogPmtk182Sender::SendPmtk182(int command, int arg1, int arg2) {
    theUtility.sendPmtkFirst = 1;
    replyBuffer_.fill('\0');
    if (portLinked.load() == 0) {
        if (port_.IsOpen()) {
            port_.Close();
        }
        return {Pmtk182Result::Kind::kNotConnected, {}};
    }
    if (!port_.Write(BuildSentence(command, arg1, arg2))) {
        return {};
    }
    const std::string_view expected = ExpectedReply(command);
    for (int poll = 0; poll < kPolls; ++poll) {
        platform::Sleep(kPollMs);
        const std::size_t got = port_.Read(replyBuffer_.data(), kReplyBytes);
        replyBuffer_[got < kReplyBytes ? got : kReplyBytes] = '\0';
        if (std::strncmp(replyBuffer_.data(), expected.data(), expected.size()) == 0) {
            return {Pmtk182Result::Kind::kReply, std::string(replyBuffer_.data())};
        }
    }
    return {};
}

std::optional<std::size_t> FindPmtk182(std::string_view reply) {
    const std::size_t at = reply.find(sentence::kTagPmtk182);
    if (at == std::string_view::npos || at >= kFindWithin) {
        return std::nullopt;
    }
    return at;
}

std::optional<std::string> ExtractPmtk182Field(std::string_view reply, std::size_t skip) {
    const std::optional<std::size_t> at = FindPmtk182(reply);
    if (!at || *at + skip > reply.size()) {
        return std::nullopt;
    }
    std::string_view field = reply.substr(*at + skip);
    field = field.substr(0, field.find_first_of("*\r\n"));
    return std::string(field);
}

TrackLogSaveChoice SaveChoiceForOutput(int outputMode) {
    switch (outputMode) {
        case 1: return {"txt", "*.txt", "Track Log Text (*.txt)|*.txt|"};
        case 2: return {"kml", "*.kml", "Track Log KML (*.kml)|*.kml|"};
        default: return {"trl", "*.trl", "Track Log (*.trl)|*.trl|"};
    }
}

// ---------------------------------------------------------------------------
// The settings.

int TrackLogSettings::MetresToFeet(int metres) {
    return static_cast<int>(std::clamp(metres, -kMaxDistanceMetres, kMaxDistanceMetres) * 3.28);
}

int TrackLogSettings::FeetToMetres(int feet) {
    return static_cast<int>(std::clamp(feet, -kMaxDistanceFeet, kMaxDistanceFeet) * 0.3048780487804878);
}

std::optional<int> TrackLogSettings::DistanceFromText(const std::string& text, bool feet) {
    // As TextToInt reads it, but without wrapping.
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    const long long limit = feet ? kMaxDistanceFeet : kMaxDistanceMetres;
    if (errno == ERANGE || value > limit || value < -limit) {
        return std::nullopt;
    }
    return static_cast<int>(value);
}

TrackLogSettings::TrackLogSettings() {
    LoadDefaults();
    stagedEnable = appliedEnable = loadedEnable;
    stagedLogMode = appliedLogMode = loadedLogMode;
    stagedInterval = appliedInterval = loadedInterval;
    stagedDistanceMetres = appliedDistanceMetres = loadedDistance;
    stagedDistanceFeet = appliedDistanceFeet = MetresToFeet(loadedDistance);
    stagedRecordMode = appliedRecordMode = loadedRecordMode;
    distanceInFeet = 0;
}

bool TrackLogSettings::LoadFromDeviceReply(std::span<const std::uint8_t> reply) {
    if (reply.size() < 11) {
        return false;
    }
    loadedEnable = reply[0];
    loadedLogMode = reply[1];
    loadedInterval = static_cast<int>(ReadU32(reply.data() + 2));
    loadedDistance = static_cast<int>(ReadU32(reply.data() + 6));
    loadedRecordMode = reply[10];
    return true;
}

void TrackLogSettings::LoadFromStaged() {
    loadedEnable = stagedEnable;
    loadedLogMode = stagedLogMode;
    loadedInterval = stagedInterval;
    loadedDistance = stagedDistanceMetres;
    loadedRecordMode = stagedRecordMode;
}

void TrackLogSettings::LoadDefaults() {
    loadedEnable = kEnabled;
    loadedLogMode = kLogByTime;
    loadedInterval = kDefaultInterval;
    loadedDistance = kDefaultDistance;
    loadedRecordMode = kRecordCycle;
}

bool TrackLogSettings::SetRecording(bool enabled, Pmtk182Sender& sender) {
    stagedEnable = enabled ? kEnabled : kDisabled;
    return SetDeviceLogging(enabled, sender).Answered();
}

std::string TrackLogSettings::SelectMeter(const std::string& distanceText) {
    if (distanceInFeet == 1) {
        const std::optional<int> feet = DistanceFromText(distanceText, true);
        if (!feet) {
            return DistanceText();
        }
        stagedDistanceFeet = *feet;
        stagedDistanceMetres = FeetToMetres(stagedDistanceFeet);
        distanceInFeet = 0;
    }
    return std::to_string(stagedDistanceMetres);
}

std::string TrackLogSettings::SelectFoot(const std::string& distanceText) {
    if (distanceInFeet == 0) {
        const std::optional<int> metres = DistanceFromText(distanceText, false);
        if (!metres) {
            return DistanceText();
        }
        stagedDistanceMetres = *metres;
        stagedDistanceFeet = MetresToFeet(stagedDistanceMetres);
        distanceInFeet = 1;
    }
    return std::to_string(stagedDistanceFeet);
}

std::string TrackLogSettings::IntervalText() const { return std::to_string(stagedInterval); }

std::string TrackLogSettings::DistanceText() const {
    return std::to_string(distanceInFeet ? stagedDistanceFeet : stagedDistanceMetres);
}

bool TrackLogSettings::ApplyAll(const std::string& intervalText, const std::string& distanceText,
                                Pmtk182Sender& sender) {
    LoadFromStaged();
    bool answered = true;
    auto send = [&](int command, int arg1, int arg2) {
        answered = sender.SendPmtk182Retry(command, arg1, arg2).Answered() && answered;
    };
    if (appliedEnable != stagedEnable) {
        appliedEnable = stagedEnable;
        send(stagedEnable == kEnabled ? kCommandLogOn : kCommandLogOff, 0, 0);
    }
    if (appliedLogMode != stagedLogMode) {
        appliedLogMode = stagedLogMode;
        send(kCommandSet, kItemLogMode, stagedLogMode);
    }
    stagedInterval = TextToInt(intervalText);
    if (appliedInterval != stagedInterval) {
        appliedInterval = stagedInterval;
        send(kCommandSet, kItemInterval, stagedInterval);
    }
    const std::optional<int> distance = DistanceFromText(distanceText, distanceInFeet != 0);
    if (!distance) {
        answered = false;  // beyond the limit: not sent, the staged distance stays
    } else if (distanceInFeet == 0) {
        stagedDistanceMetres = *distance;
        if (appliedDistanceMetres != stagedDistanceMetres) {
            appliedDistanceMetres = stagedDistanceMetres;
            stagedDistanceFeet = appliedDistanceFeet = MetresToFeet(stagedDistanceMetres);
            send(kCommandSet, kItemDistanceMetres, stagedDistanceMetres);
        }
    } else {
        stagedDistanceFeet = *distance;
        if (appliedDistanceFeet != stagedDistanceFeet) {
            appliedDistanceFeet = stagedDistanceFeet;
            stagedDistanceMetres = appliedDistanceMetres = FeetToMetres(stagedDistanceFeet);
            send(kCommandSet, kItemDistanceFeet, stagedDistanceMetres);
        }
    }
    if (appliedRecordMode != stagedRecordMode) {
        appliedRecordMode = stagedRecordMode;
        send(kCommandSet, kItemRecordMode, stagedRecordMode);
    }
    return answered;
}

bool TrackLogSettings::DefaultAll(Pmtk182Sender& sender) {
    LoadDefaults();
    stagedEnable = loadedEnable;
    stagedLogMode = loadedLogMode;
    stagedInterval = loadedInterval;
    stagedDistanceMetres = loadedDistance;
    stagedDistanceFeet = appliedDistanceFeet = MetresToFeet(loadedDistance);
    stagedRecordMode = loadedRecordMode;
    // The distance is shown in metres again, and the unit follows.
    distanceInFeet = 0;
    return SetDeviceLogging(stagedEnable == kEnabled, sender).Answered();
}

TrackLogSettings::ReadResult TrackLogSettings::ReadDeviceSettings(Pmtk182Sender& sender) {
    auto failure = [](const Pmtk182Result& r) {
        return r.kind == Pmtk182Result::Kind::kNotConnected ? ReadResult::kNotConnected : ReadResult::kNoReply;
    };
    const Pmtk182Result first = sender.SendPmtk182(kCommandQuery, 0, 0);
    if (!first.Answered()) {
        return failure(first);
    }
    int values[3] = {};
    const int items[3] = {kItemRecordMode, kItemInterval, kItemDistanceMetres};
    for (int i = 0; i < 3; ++i) {
        const Pmtk182Result r = sender.SendPmtk182(kCommandQuery, items[i], 0);
        if (!r.Answered()) {
            return failure(r);
        }
        // "$PMTK182,3,<item>,<value>": the answer to this item, a whole number
        // that the page can hold.
        const std::optional<std::string> item = ExtractPmtk182Field(r.reply, 9);
        const std::optional<std::string> field = ExtractPmtk182Field(r.reply, kValueFieldOffset);
        if (!item || item->rfind("3," + std::to_string(items[i]) + ",", 0) != 0 || !field) {
            return ReadResult::kBadReply;
        }
        const char* end = field->data() + field->size();
        const auto parsed = std::from_chars(field->data(), end, values[i]);
        if (parsed.ec != std::errc() || parsed.ptr != end || values[i] < 0 ||
            values[i] > kMaxReplyValue) {
            return ReadResult::kBadReply;
        }
    }
    loadedRecordMode = values[0];
    loadedInterval = values[1];
    loadedDistance = values[2];
    loadedLogMode = loadedInterval != 0 ? kLogByTime : kLogByDistance;

    appliedLogMode = stagedLogMode = loadedLogMode;
    appliedInterval = stagedInterval = loadedInterval;
    appliedDistanceMetres = stagedDistanceMetres = loadedDistance;
    appliedDistanceFeet = stagedDistanceFeet = MetresToFeet(loadedDistance);
    appliedRecordMode = stagedRecordMode = loadedRecordMode;
    distanceInFeet = 0;
    loadedEnable = appliedEnable = stagedEnable = kEnabled;
    const Pmtk182Result on = SetDeviceLogging(true, sender);
    if (!on.Answered()) {
        return failure(on);
    }
    return ReadResult::kOk;
}

const char* TrackLogSettings::ReadStatusText(ReadResult result) {
    switch (result) {
        case ReadResult::kOk: return tracklogtext::kReadDone;
        case ReadResult::kNotConnected: return "Not Connected";
        case ReadResult::kNoReply: return "Get no response from device.";
        case ReadResult::kBadReply: return "Read Setting Failed.";
    }
    return "";
}

Pmtk182Result TrackLogSettings::SetDeviceLogging(bool on, Pmtk182Sender& sender) {
    Pmtk182Result r;
    for (int i = 0; i < kLoggingTries; ++i) {
        r = sender.SendPmtk182(on ? kCommandLogOn : kCommandLogOff, 0, 0);
        if (r.kind != Pmtk182Result::Kind::kNone) {
            break;
        }
    }
    return r;
}
