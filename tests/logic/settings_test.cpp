#include <gtest/gtest.h>

#include "support/UtilityManager.h"

TEST(SettingsObject, FreshStartHoldsDefaults) {
    CUtilityManager settings;
    std::string name;
    int baud = -1;
    int handle = -1;
    settings.GetPort(name, baud, handle);
    EXPECT_EQ(name, "COM1");
    EXPECT_EQ(baud, 0);
    EXPECT_EQ(handle, 0);
    EXPECT_EQ(settings.modelType, 0);
    EXPECT_EQ(settings.highSpeedLink, 0);
    EXPECT_EQ(settings.tickThreadEnded, 0);
    EXPECT_EQ(settings.sendPmtkFirst, 0);
    EXPECT_TRUE(settings.GetUserName().empty());
    EXPECT_TRUE(settings.savedZoneText.empty());
    int tz = -1;
    settings.GetPhotoTimeZone(tz);
    EXPECT_EQ(tz, 0);
    bool gps = true;
    settings.GetWriteGpsInPhoto(gps);
    EXPECT_FALSE(gps);
}

TEST(SettingsObject, SettersRoundTrip) {
    CUtilityManager settings;
    settings.SetPort("COM12", 115200, 0);
    std::string name;
    int baud = 0;
    int handle = 1;
    settings.GetPort(name, baud, handle);
    EXPECT_EQ(name, "COM12");
    EXPECT_EQ(baud, 115200);
    EXPECT_EQ(handle, 0);

    settings.SetCalibration(1, -2, 3, -4);
    int d = 0, h = 0, m = 0, s = 0;
    settings.GetCalibration(d, h, m, s);
    EXPECT_EQ(d, 1);
    EXPECT_EQ(h, -2);
    EXPECT_EQ(m, 3);
    EXPECT_EQ(s, -4);

    settings.SetPhotoTimeZone(-12);
    int tz = 0;
    settings.GetPhotoTimeZone(tz);
    EXPECT_EQ(tz, -12);

    settings.SetUserName("walker");
    EXPECT_EQ(settings.GetUserName(), "walker");
    EnableDialogTheme(nullptr);  // no theme library here: does nothing
}
