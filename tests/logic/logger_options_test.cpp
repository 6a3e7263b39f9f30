// The logger settings without a window: the list tables against the worked
// values, the logger's replies (framed by the simulator's own code), the
// free record count, and the outputs of the "Transform to File" choices.
// What an Apply sends is checked on the page against the simulated logger.
#include <gtest/gtest.h>

#include <filesystem>

#include "TempDir.h"
#include "sim/Framing.h"
#include "tracklog/LoggerOptions.h"
#include "tracklog/TransformChoices.h"

namespace fs = std::filesystem;
using namespace logger;

TEST(LoggerOptionsTest, ListEntriesAndTheirValues) {
    // Interval entries in tenths of a second; 5 and unknown values fall to "5".
    const int intervals[] = {10, 50, 100, 150, 300, 600, 1200};
    for (int row = 0; row < 7; ++row) {
        EXPECT_EQ(IntervalTenths(row), intervals[row]) << row;
        EXPECT_EQ(IntervalToComboIndex(0, intervals[row] / 10), row) << row;
    }
    EXPECT_EQ(IntervalTenths(-1), -1);
    EXPECT_EQ(IntervalTenths(7), -1);
    EXPECT_EQ(IntervalToComboIndex(0, 7), 1);
    // Distance entries: metres in the list, tenths of a metre (or of the
    // feet converted) in the tables.
    const int metres[] = {50, 100, 150, 300, 500, 1000};
    const int imperial[] = {152, 304, 457, 914, 1524, 3048};
    for (int row = 0; row < 6; ++row) {
        EXPECT_EQ(DistanceTenths(row, false), metres[row] * 10) << row;
        EXPECT_EQ(DistanceTenths(row, true), imperial[row]) << row;
        // A foot is 0.3048 m: the imperial table is the list's feet, truncated.
        EXPECT_EQ(imperial[row], static_cast<int>(metres[row] * 3.048)) << row;
        EXPECT_EQ(IntervalToComboIndex(1, metres[row]), row) << row;
    }
    EXPECT_EQ(DistanceTenths(6, false), -1);
    EXPECT_EQ(IntervalToComboIndex(1, 77), 0);
    EXPECT_EQ(IntervalToComboIndex(2, 100), 0);
}

TEST(LoggerOptionsTest, RepliesAsTheLoggerFramesThem) {
    const std::string ack = sim::Frame("PMTK001,182,1,3");
    EXPECT_TRUE(IsAcknowledged(ack, 1));
    EXPECT_FALSE(IsAcknowledged(ack, 6));
    EXPECT_TRUE(IsAcknowledged(sim::Frame("PMTK001,182,6,3"), 6));
    for (const char* refused : {"PMTK001,182,1,2", "PMTK001,182,1,1", "PMTK001,182,1,0", "PMTK001,182,11,3",
                                "PMTK001,400,3", "PMTK182,3,3,50"}) {
        EXPECT_FALSE(IsAcknowledged(sim::Frame(refused), 1)) << refused;
    }
    EXPECT_FALSE(IsAcknowledged("Not Connected", 1));
    EXPECT_FALSE(IsAcknowledged("$PMTK001,182,1,3", 1));  // not yet ended

    EXPECT_EQ(OptionValue(sim::Frame("PMTK182,3,3,50"), 3, false), 50u);
    EXPECT_EQ(OptionValue(sim::Frame("PMTK182,3,4,1500"), 4, false), 1500u);
    EXPECT_EQ(OptionValue(sim::Frame("PMTK182,3,8,00001000"), 8, true), 0x1000u);
    EXPECT_EQ(OptionValue(sim::Frame("PMTK182,3,6,7"), 6, false), 7u);
    // Another item, junk, nothing and overflow give none.
    for (const char* none : {"PMTK182,3,4,1500", "PMTK182,3,3,5x", "PMTK182,3,3,", "PMTK182,3,3,99999999999"}) {
        EXPECT_FALSE(OptionValue(sim::Frame(none), 3, false)) << none;
    }
    EXPECT_FALSE(OptionValue("Not Connected", 3, false));

    for (const auto& [mode, shown] : {std::pair(1, 1), {2, 2}, {0, 1}, {7, 1}}) {
        EXPECT_EQ(ShownRecordMode(mode), shown) << mode;
    }
}

TEST(LoggerOptionsTest, FreeRecordCountNeverWraps) {
    // 16-byte records from the end address to the end of the 2 MiB memory.
    for (const auto& [end, count] : {std::pair(0x1000u, 130816u), {0u, 131072u}, {0x1FFFF0u, 1u}, {0x1FFFE0u, 2u},
                                     {0x200000u, 0u}, {0x200010u, 0u}, {0xFFFFFFFFu, 0u}}) {
        EXPECT_EQ(FreeRecordCount(end), count) << end;
    }
    // The last record is not shown as free.
    for (const auto& [count, text] : {std::pair(130816u, "130816"), {1u, "0"}, {2u, "2"}, {0u, "0"}}) {
        EXPECT_EQ(FreeRecordText(count), text) << count;
    }
}

TEST(TransformChoicesTest, FailedOpensAreMarkedAndAbandonedOutputsLeaveNothing) {
    const testsupport::TempDir temp;
    const fs::path& dir = temp.path;
    TransformChoices choices;
    choices.textFilePath = (dir / "missing" / "out.txt").string();
    choices.kmlFilePath = (dir / "gone.kml").string();
    choices.OpenOutputs(true, true);
    EXPECT_EQ(choices.textFileStream, nullptr);
    EXPECT_EQ(choices.textFileHandle, -1);
    ASSERT_NE(choices.kmlFileStream, nullptr);
    choices.CloseOutputs(false);
    EXPECT_TRUE(fs::is_empty(dir));
}
