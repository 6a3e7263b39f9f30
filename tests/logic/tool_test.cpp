// Date-time and registry utility.
#include <gtest/gtest.h>

#include <ctime>
#include <thread>
#include <vector>

#include "support/Tool.h"

namespace {

// Independent oracle: the C library's UTC conversion.
std::int64_t Timegm(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return static_cast<std::int64_t>(timegm(&tm));
}

DeviceDate Date(int year, int month, int day, int hour, int minute, int second) {
    return {static_cast<std::uint8_t>(year - 2000), static_cast<std::uint8_t>(month),
            static_cast<std::uint8_t>(day),         static_cast<std::uint8_t>(hour),
            static_cast<std::uint8_t>(minute),      static_cast<std::uint8_t>(second)};
}

DeviceDate ToDate(std::int64_t seconds) {
    DeviceDate date{};
    CTool::SecondsToDate(seconds, date);
    return date;
}

std::int64_t ToSeconds(const DeviceDate& date) {
    std::int64_t seconds = -1;
    EXPECT_TRUE(CTool::DateToSeconds(date, seconds));
    return seconds;
}

}  // namespace

// ---------------------------------------------------------------------------
// Device dates and seconds

TEST(ToolDate, WorkedEdgeCases) {
    EXPECT_EQ(Timegm(2000, 1, 1, 0, 0, 0), CTool::kSeconds2000);
    EXPECT_EQ(ToDate(CTool::kSeconds2000 + 999), DeviceDate{});
    EXPECT_EQ(ToDate(CTool::kSeconds2000 + 1000), Date(2000, 1, 1, 0, 16, 40));
    EXPECT_EQ(ToDate(-5), DeviceDate{});

    const std::int64_t leapNoon = Timegm(2000, 2, 29, 12, 0, 0);
    EXPECT_EQ(ToSeconds(Date(2000, 2, 29, 12, 0, 0)), leapNoon);
    EXPECT_EQ(ToDate(leapNoon), Date(2000, 2, 29, 12, 0, 0));

    const std::int64_t cycle = CTool::kSeconds2000 + CTool::kCycleSeconds;
    EXPECT_EQ(cycle, Timegm(2004, 1, 1, 0, 0, 0));
    EXPECT_EQ(ToSeconds(Date(2004, 1, 1, 0, 0, 0)), cycle);
    EXPECT_EQ(ToDate(cycle), Date(2004, 1, 1, 0, 0, 0));

    // Hour, minute and second simply add up, as the device sends them.
    EXPECT_EQ(ToSeconds(Date(2000, 1, 1, 25, 0, 0)), Timegm(2000, 1, 2, 1, 0, 0));
    EXPECT_EQ(ToSeconds(Date(2010, 5, 31, 0, 90, 75)), Timegm(2010, 5, 31, 1, 31, 15));
}

TEST(ToolDate, InvalidMonthOrDayLeavesSecondsUnchanged) {
    for (const DeviceDate& bad : {Date(2006, 0, 1, 0, 0, 0), Date(2006, 13, 1, 0, 0, 0),
                                  Date(2006, 1, 0, 0, 0, 0), Date(2006, 1, 32, 0, 0, 0)}) {
        std::int64_t seconds = 12345;
        EXPECT_FALSE(CTool::DateToSeconds(bad, seconds));
        EXPECT_EQ(seconds, 12345);
    }
}

TEST(ToolDate, DatesPast2038ComeOutRight) {
    EXPECT_EQ(ToSeconds(Date(2038, 1, 19, 3, 14, 8)), 2147483648LL);
    EXPECT_EQ(ToDate(2147483648LL), Date(2038, 1, 19, 3, 14, 8));
    EXPECT_EQ(ToSeconds(Date(2099, 12, 31, 23, 59, 59)), 4102444799LL);
    EXPECT_EQ(ToDate(4102444799LL), Date(2099, 12, 31, 23, 59, 59));
    EXPECT_EQ(ToDate(0xFFFFFFFFLL)[0], 106);  // every unsigned 32-bit count has a year byte
    // Past what a year byte holds: the zero date, as before 2000.
    EXPECT_EQ(ToDate(CTool::kSeconds2000 + 64 * CTool::kCycleSeconds), DeviceDate{});
    EXPECT_EQ(ToDate(INT64_MAX), DeviceDate{});
    // The ends of the range: the last second of 2255 has a date, the most
    // negative count is refused without overflowing.
    EXPECT_EQ(ToDate(CTool::kLastDateSeconds), Date(2255, 12, 31, 23, 59, 59));
    EXPECT_EQ(ToSeconds(Date(2255, 12, 31, 23, 59, 59)), CTool::kLastDateSeconds);
    EXPECT_EQ(ToDate(INT64_MIN), DeviceDate{});
    EXPECT_EQ(ToDate(INT64_MIN + 1), DeviceDate{});
}

TEST(ToolDate, Sweep2000To2099AgainstTimegmAndGmtime) {
    static const int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int year = 2000; year <= 2099; ++year) {
        for (int month = 1; month <= 12; ++month) {
            const int last = month == 2 && year % 4 == 0 ? 29 : kMonthDays[month - 1];
            for (int day : {1, 2, 15, last - 1, last}) {
                const DeviceDate date = Date(year, month, day, (year + day) % 24,
                                             (month * 7 + day) % 60, (year * 3 + month) % 60);
                const std::int64_t expected = Timegm(year, month, day, date[3], date[4], date[5]);
                ASSERT_EQ(ToSeconds(date), expected) << year << "-" << month << "-" << day;
                ASSERT_EQ(ToDate(expected), date) << year << "-" << month << "-" << day;
            }
        }
    }
    // Every 99991 seconds from the first convertible one to the end of 2099.
    const std::int64_t last = Timegm(2100, 1, 1, 0, 0, 0) - 1;
    for (std::int64_t t = CTool::kSeconds2000 + 1000; t <= last; t += 99991) {
        const std::time_t value = static_cast<std::time_t>(t);
        std::tm tm{};
        ASSERT_NE(gmtime_r(&value, &tm), nullptr);
        const DeviceDate expected = Date(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                                         tm.tm_min, tm.tm_sec);
        ASSERT_EQ(ToDate(t), expected) << t;
        ASSERT_EQ(ToSeconds(expected), t);
    }
    EXPECT_EQ(ToDate(last), Date(2099, 12, 31, 23, 59, 59));
}

// ---------------------------------------------------------------------------
// Text forms

TEST(ToolText, FormatsOfAKnownInstantAndOfCorruptBytes) {
    const std::int64_t t = Timegm(2006, 12, 11, 4, 0, 0);
    std::string text;
    CTool::FormatDate(Date(2006, 12, 11, 4, 0, 0), text);
    EXPECT_EQ(text, "12112006 040000");
    CTool::FormatSeconds(t, text);
    EXPECT_EQ(text, "12112006 040000");
    CTool::FormatSecondsUtc(t, text);
    EXPECT_EQ(text, "061211040000Z");
    CTool::FormatSeconds(CTool::kSeconds2000 + 5, text);
    EXPECT_EQ(text, "00002000 000000");
    // Three-digit fields make a longer text, never an overflow.
    CTool::FormatDate(DeviceDate{255, 255, 255, 255, 255, 255}, text);
    EXPECT_EQ(text, "25525520255 255255255");
    const std::uint8_t raw[6] = {123, 200, 7, 99, 100, 101};
    CTool::FormatDate(raw, text);
    EXPECT_EQ(text, "2000720123 99100101");
}

TEST(ToolText, TextToSecondsTakesOnlyValidDates) {
    EXPECT_EQ(CTool::TextToSeconds("12112006 040000"), Timegm(2006, 12, 11, 4, 0, 0));
    EXPECT_EQ(CTool::TextToSeconds("02292004 235959"), Timegm(2004, 2, 29, 23, 59, 59));
    EXPECT_EQ(CTool::TextToSeconds("12312099 235959"), 4102444799LL);
    std::string text;
    for (std::int64_t t = CTool::kSeconds2000 + 1000; t < 4102444800LL; t += 7777777) {
        CTool::FormatSeconds(t, text);
        ASSERT_EQ(CTool::TextToSeconds(text), t) << text;
    }
    for (const char* bad : {"", "1211200 040000", "12112006 0400000", "13112006 040000",
                            "00112006 040000", "12002006 040000", "12322006 040000",
                            "02302004 000000", "02292001 000000", "04312006 000000",
                            "12111906 040000", "12112006-040000", "1a112006 040000",
                            " 1112006 040000", "+1112006 040000", "12112006 240000",
                            "12112006 236000", "12112006 235960"}) {
        EXPECT_EQ(CTool::TextToSeconds(bad), 0) << '"' << bad << '"';
    }
}

TEST(ToolText, FormattingFromManyThreadsKeepsEachResult) {
    // A scratch date shared between calls would mix these up.
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([k, &mismatches] {
            std::string expected;
            std::string text;
            CTool::FormatDate(Date(2010 + k, k + 1, k + 1, k, k, k), expected);
            const std::int64_t t = Timegm(2010 + k, k + 1, k + 1, k, k, k);
            for (int i = 0; i < 20000; ++i) {
                CTool::FormatSeconds(t, text);
                mismatches[k] += text != expected;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

// ---------------------------------------------------------------------------
// Registry operations on the in-memory store

class ToolRegistry : public ::testing::Test {
protected:
    void SetUp() override { RegistryStore::Instance().Clear(); }
    void TearDown() override {
        RegistryStore::Instance().Clear();
        CTool::SetStringLoader(nullptr);
    }
    CTool tool;
    std::string text;
    std::uint32_t number = 0;
};

TEST_F(ToolRegistry, KeyTextSplitsAtTheLastBackslash) {
    std::string path = "stale";
    std::string name;
    tool.BuildRegistryPath(path, "L731BTMacAddress", name);
    EXPECT_EQ(path, "");
    EXPECT_EQ(name, "L731BTMacAddress");
    tool.BuildRegistryPath(path, "Device\\Link\\Speed", name);
    EXPECT_EQ(path, "Device\\Link");
    EXPECT_EQ(name, "Speed");

    CTool::SetStringLoader([](unsigned id) {
        return id == CTool::kRegistryRootStringId ? std::string("Software\\Pellora") : "";
    });
    tool.BuildRegistryPath(path, "Device\\Speed", name);
    EXPECT_EQ(path, "Software\\Pellora\\Device");
    tool.BuildRegistryPath(path, "Speed", name);
    EXPECT_EQ(path, "Software\\Pellora");
    CTool::SetStringLoader([](unsigned) { return std::string("Software\\"); });
    tool.BuildRegistryPath(path, "Device\\Speed", name);
    EXPECT_EQ(path, "Software\\Device");
}

TEST_F(ToolRegistry, ValuesRoundTripAndFailuresLeaveTheirErrorCode) {
    // A key text without a backslash lies directly under the root key.
    EXPECT_TRUE(tool.RegWriteString(RegRoot::CurrentUser, "L731BTMacAddress", "00:1B:C1:0A:FF:07"));
    EXPECT_TRUE(RegistryStore::Instance().KeyExists(RegRoot::CurrentUser, ""));
    EXPECT_TRUE(tool.RegReadString(RegRoot::CurrentUser, "l731btmacaddress", text));
    EXPECT_EQ(text, "00:1B:C1:0A:FF:07");
    EXPECT_EQ(CTool::GetLastRegError(), kRegErrorSuccess);
    EXPECT_FALSE(tool.RegReadString(RegRoot::LocalMachine, "L731BTMacAddress", text));
    EXPECT_EQ(CTool::GetLastRegError(), kRegErrorFileNotFound);
    EXPECT_FALSE(tool.RegReadDword(RegRoot::CurrentUser, "Nowhere\\Value", number));
    EXPECT_EQ(CTool::GetLastRegError(), kRegErrorFileNotFound);

    // The wrong type: invalid data, and the output untouched.
    ASSERT_TRUE(tool.RegWriteDword(RegRoot::CurrentUser, "Link\\Baud", 115200));
    text = "kept";
    EXPECT_FALSE(tool.RegReadString(RegRoot::CurrentUser, "Link\\Baud", text));
    EXPECT_EQ(CTool::GetLastRegError(), kRegErrorInvalidData);
    EXPECT_EQ(text, "kept");
    EXPECT_FALSE(tool.RegReadDword(RegRoot::CurrentUser, "L731BTMacAddress", number));
    EXPECT_EQ(CTool::GetLastRegError(), kRegErrorInvalidData);
    EXPECT_TRUE(tool.RegReadDword(RegRoot::CurrentUser, "Link\\Baud", number));
    EXPECT_EQ(number, 115200u);

    // A string read takes 255 characters and its terminating zero.
    ASSERT_TRUE(tool.RegWriteString(RegRoot::CurrentUser, "Fits", std::string(255, 'a')));
    ASSERT_TRUE(tool.RegWriteString(RegRoot::CurrentUser, "Long", std::string(256, 'b')));
    EXPECT_TRUE(tool.RegReadString(RegRoot::CurrentUser, "Fits", text));
    EXPECT_FALSE(tool.RegReadString(RegRoot::CurrentUser, "Long", text));
    EXPECT_EQ(CTool::GetLastRegError(), kRegErrorMoreData);
}

TEST_F(ToolRegistry, SubkeyAndStringIdFormsJoinWithABackslash) {
    CTool::SetStringLoader([](unsigned id) { return id == 900 ? std::string("Port") : ""; });
    ASSERT_TRUE(tool.RegWriteString(RegRoot::CurrentUser, "Link", "Port", "COM7"));
    EXPECT_TRUE(tool.RegReadString(RegRoot::CurrentUser, "Link\\Port", text));
    EXPECT_EQ(text, "COM7");
    EXPECT_TRUE(tool.RegReadString(RegRoot::CurrentUser, "Link", 900u, text));
    EXPECT_EQ(text, "COM7");
    ASSERT_TRUE(tool.RegWriteDword(RegRoot::LocalMachine, "Link", 900u, 4800));
    EXPECT_TRUE(tool.RegReadDword(RegRoot::LocalMachine, "Link", "Port", number));
    EXPECT_EQ(number, 4800u);
    EXPECT_TRUE(tool.RegWriteDword(RegRoot::LocalMachine, "Link", "Port", 9600));
    EXPECT_TRUE(tool.RegReadDword(RegRoot::LocalMachine, "Link", 900u, number));
    EXPECT_EQ(number, 9600u);
}
