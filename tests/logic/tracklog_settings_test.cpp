// The track-log setting page's model and its PMTK182 sender: the unit
// conversions, Apply with a recording port (exact sentences, checksums worked
// out by hand), Default All, Read with scripted replies, the bounded waits.
// The same over the simulated logger's line: tests/ui/tracklog_page_test.cpp.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "device/SentencePort.h"
#include "platform/Clock.h"
#include "support/UtilityManager.h"
#include "tracklog/TrackLogSettings.h"

namespace {

using Strings = std::vector<std::string>;

// Records every write and answers from a table (else defaultAnswer).
struct RecordingPort final : SentencePort {
    std::map<std::string, std::string> answers;
    std::string defaultAnswer, pending;
    Strings written;
    bool open = true;

    bool Open() override { return open = true; }
    void Close() override { open = false; }
    bool IsOpen() const override { return open; }
    void Purge() override { pending.clear(); }
    bool Write(std::string_view bytes) override {
        written.emplace_back(bytes);
        auto it = answers.find(written.back());
        pending += it != answers.end() ? it->second : defaultAnswer;
        return open;
    }
    std::size_t Read(char* buffer, std::size_t count) override {
        const std::size_t n = pending.copy(buffer, count);
        pending.erase(0, n);
        return n;
    }
};

class TrackLogSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        portLinked = 1;
        port.defaultAnswer = "$PMTK001,182,1,3*26\r\n";
    }
    void TearDown() override { portLinked = 0; }
    platform::FakeClock clock;
    platform::ScopedClock useClock{clock};
    RecordingPort port;
    TrackLogPmtk182Sender sender{port};
    TrackLogSettings model;
};

}  // namespace

TEST(TrackLogConversions, TruncateBothWays) {
    struct Case { int metres; int feet; };
    for (auto c : {Case{100, 328}, Case{75, 245}, Case{2, 6}, Case{0, 0}}) {
        EXPECT_EQ(TrackLogSettings::MetresToFeet(c.metres), c.feet) << c.metres << " m";
    }
    for (auto c : {Case{2, 7}, Case{100, 328}, Case{74, 244}, Case{75, 246}}) {
        EXPECT_EQ(TrackLogSettings::FeetToMetres(c.feet), c.metres) << c.feet << " ft";
    }
}

TEST_F(TrackLogSettingsTest, UnitToggleConvertsOnceAndShowsTheUnit) {
    EXPECT_EQ(model.SelectFoot("100"), "328");
    EXPECT_STREQ(model.UnitLabel(), "Foot");
    EXPECT_EQ(model.SelectFoot("328"), "328");  // Foot twice: converted once
    EXPECT_EQ(model.SelectMeter("328"), "100");
    EXPECT_EQ(model.SelectFoot("100"), "328");
    EXPECT_EQ(model.SelectMeter("7"), "2");
    EXPECT_EQ(model.SelectFoot("2"), "6");
    // A distance whose other unit does not fit an int is refused: the unit stays, the staged distance shows.
    std::string shown;
    for (const char* step : {"m654720624", "f654720624", "m99999999999", "m-2147483647", "m100", "f999999999"}) {
        shown += (step[0] == 'f' ? model.SelectFoot(step + 1) : model.SelectMeter(step + 1)) + " ";
        shown += model.UnitLabel();
    }
    EXPECT_EQ(shown, "199609946 Meter2147483646 Foot2147483646 Foot2147483646 Foot30 Meter30 Meter");
    EXPECT_FALSE(model.ApplyAll("10", "654720625", sender) || model.DistanceText() != "30" || !port.written.empty());
}

TEST_F(TrackLogSettingsTest, ApplySendsOnlyWhatChangedWithExactSentences) {
    EXPECT_TRUE(model.ApplyAll("10", "100", sender));
    EXPECT_TRUE(port.written.empty());

    EXPECT_TRUE(model.SetRecording(false, sender));  // sent at once
    model.SetLogMode(TrackLogSettings::kLogByDistance);
    model.SetRecordMode(TrackLogSettings::kRecordOnce);
    EXPECT_TRUE(model.ApplyAll("5", "75", sender));
    EXPECT_EQ(port.written, (Strings{"$PMTK182,11*15\r\n", "$PMTK182,11*15\r\n", "$PMTK182,1,1,3*26\r\n",
                                     "$PMTK182,1,3,5*22\r\n", "$PMTK182,1,4,75*12\r\n", "$PMTK182,1,6,2*20\r\n"}));
    EXPECT_EQ(model.appliedDistanceFeet, 245);

    // A distance entered in feet goes out as metres with item 5.
    port.written.clear();
    model.SelectFoot("75");
    EXPECT_TRUE(model.ApplyAll("5", "244", sender));
    EXPECT_EQ(port.written, Strings{"$PMTK182,1,5,74*12\r\n"});
    port.written.clear();
    EXPECT_TRUE(model.ApplyAll("5", "244", sender));
    EXPECT_TRUE(port.written.empty());

    // Default All: recording on at once, the rest on the next Apply; the unit
    // is metres again.
    EXPECT_TRUE(model.DefaultAll(sender));
    EXPECT_EQ(model.DistanceText(), "100");
    EXPECT_STREQ(model.UnitLabel(), "Meter");
    EXPECT_TRUE(model.ApplyAll(model.IntervalText(), model.DistanceText(), sender));
    EXPECT_EQ(port.written, (Strings{"$PMTK182,10*14\r\n", "$PMTK182,10*14\r\n", "$PMTK182,1,1,2*27\r\n",
                                     "$PMTK182,1,3,10*16\r\n", "$PMTK182,1,4,100*21\r\n", "$PMTK182,1,6,1*23\r\n"}));
}

TEST_F(TrackLogSettingsTest, UnansweredSendsAreReportedAndBounded) {
    port.defaultAnswer.clear();
    EXPECT_FALSE(model.ApplyAll("30", "100", sender));
    EXPECT_EQ(clock.SleepCount(), 10u);  // one send, ten polls of 100 ms
    EXPECT_EQ(clock.TotalSleptMs(), 1000u);

    const Pmtk182Result r = TrackLogSettings::SetDeviceLogging(true, sender);
    EXPECT_EQ(r.kind, Pmtk182Result::Kind::kNone);
    EXPECT_EQ(port.written.size(), 1u + TrackLogSettings::kLoggingTries);

    // Not linked: nothing written, the port closed, and Read says so.
    portLinked = 0;
    port.written.clear();
    EXPECT_EQ(sender.SendPmtk182(10, 0, 0).kind, Pmtk182Result::Kind::kNotConnected);
    EXPECT_FALSE(port.open);
    EXPECT_TRUE(port.written.empty());
    EXPECT_EQ(model.ReadDeviceSettings(sender), TrackLogSettings::ReadResult::kNotConnected);
}

TEST_F(TrackLogSettingsTest, ReadTakesWholeFieldsAndTerminatesTheReply) {
    port.answers = {
        {"$PMTK182,2*27\r\n", "$PMTK182,3*26\r\n"},
        {"$PMTK182,2,6*3D\r\n", "$PMTK182,3,6,2*22\r\n"},
        {"$PMTK182,2,3*38\r\n", "$PMTK182,3,3,10*14\r\n"},
        {"$PMTK182,2,4*3F\r\n", "$PMTK182,3,4,1000*13\r\n"},
    };
    EXPECT_EQ(model.ReadDeviceSettings(sender), TrackLogSettings::ReadResult::kOk);
    // Record mode, interval (not cut to one character), distance in metres and feet, log mode.
    EXPECT_EQ(std::tuple(model.stagedRecordMode, model.stagedInterval, model.stagedDistanceMetres,
                         model.stagedDistanceFeet, model.stagedLogMode),
              std::tuple(2, 10, 1000, 3280, TrackLogSettings::kLogByTime));
    EXPECT_EQ(port.written.back(), "$PMTK182,10*14\r\n");
    EXPECT_STREQ(TrackLogSettings::ReadStatusText(TrackLogSettings::ReadResult::kOk), "Update Setting Successfully.");

    // A value that is no number, the answer to another item, or a distance
    // whose feet do not fit an int changes nothing.
    model.stagedInterval = 7;
    for (const char* bad : {"$PMTK182,3,4,1x*00\r\n", "$PMTK182,3,3,1000*00\r\n", "$PMTK182,3,4,946729506*00\r\n",
                            "$PMTK182,3,4,654720625*00\r\n", "$PMTK182,3,4,99999999999999999999*00\r\n"}) {
        port.answers["$PMTK182,2,4*3F\r\n"] = bad;
        EXPECT_EQ(model.ReadDeviceSettings(sender), TrackLogSettings::ReadResult::kBadReply) << bad;
        EXPECT_EQ(model.stagedInterval, 7);
    }

    // A long reply fills the 80 bytes and is still a terminated text.
    port.answers["$PMTK182,2*27\r\n"] = "$PMTK182," + std::string(200, '7');
    ASSERT_TRUE(sender.SendPmtk182(2, 0, 0).Answered());
    EXPECT_EQ(std::string(sender.ReplyBuffer()).size(), TrackLogPmtk182Sender::kReplyBytes);

    EXPECT_EQ(ExtractPmtk182Field("xx$PMTK182,3,4,25*15\r\n", 13), "25");
    EXPECT_EQ(ExtractPmtk182Field(std::string(20, ' ') + "$PMTK182,3,4,25*15", 13), std::nullopt);
    EXPECT_EQ(ExtractPmtk182Field("$PMTK182,3", 13), std::nullopt);
}
