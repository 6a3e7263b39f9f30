// The firmware page's pieces below the page: the download agent by model
// code, the temporary path, the final text and the busy flag; the GPS status
// page's time-zone list.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "device/FirmwareDownload.h"
#include "device/GpsStatusValues.h"

namespace fs = std::filesystem;

TEST(FirmwareAgent, ChosenByModelCode) {
    const fs::path dir = fs::temp_directory_path() / ("fwagent-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const char* name : {"MTK_AllInOne_DA_MT3318_v2.bin", "MTK_AllInOne_DA_MT3318_v1.bin",
                             "mtk_allinone_da_mt3329_v1.BIN", "DA_MT3329_v1.bin"}) {
        std::ofstream(dir / name) << "x";
    }
    const std::string k3318 = "MTK_AllInOne_DA_MT3318_v1.bin", k3329 = "mtk_allinone_da_mt3329_v1.BIN";
    struct Case { int model; std::string file; std::uint32_t parameter; };
    for (const Case& c : {Case{0, "", 0}, Case{1, "", 0}, Case{2, "", 0}, Case{3, k3318, 0x100800},
                          Case{4, k3318, 0x100800}, Case{7, k3318, 0x100800}, Case{5, k3329, 0xC00},
                          Case{6, k3329, 0xC00}, Case{8, "", 0}}) {
        const firmware::AgentChoice choice = firmware::AgentForModel(c.model);
        const std::string expected = c.file.empty() ? std::string() : (dir / c.file).string();
        EXPECT_EQ(firmware::FindAgentFile(dir.string(), c.model), expected) << "model " << c.model;
        EXPECT_EQ(choice.hasParameter, c.parameter != 0) << "model " << c.model;
        EXPECT_EQ(choice.parameter, c.parameter) << "model " << c.model;
    }
    fs::remove_all(dir);
    EXPECT_EQ(firmware::FindAgentFile(dir.string(), 3), "");  // folder gone: nothing found
}

TEST(FirmwareAgent, TempPathFinalTextAndBusyFlag) {
    const std::string folder = "/data/" + std::string(400, 'f');
    EXPECT_EQ(firmware::TempPayloadPath(folder), folder + "/Orvik_FW_Temp.bin");

    EXPECT_EQ(firmware::FinalTextId(true, true, 0), firmware::kStringDone);
    EXPECT_EQ(firmware::FinalTextId(false, true, 0), firmware::kStringConnectFailed);
    EXPECT_EQ(firmware::FinalTextId(true, false, 0), firmware::kStringConnectFailed);
    EXPECT_EQ(firmware::FinalTextId(true, true, 1), firmware::kStringConnectFailed);

    int number = 8;
    std::string link = "COM8";
    EXPECT_TRUE(firmware::PortForRun("COM12", number, link));
    EXPECT_EQ(number, 12);
    EXPECT_EQ(link, "//.//COM12");
    EXPECT_TRUE(firmware::PortForRun("COM3", number, link));
    EXPECT_EQ(link, "COM3");
    for (const char* bad : {"", "COM0", "COM51", "/dev/ttyUSB0"}) {
        number = 8;
        EXPECT_FALSE(firmware::PortForRun(bad, number, link)) << bad;
        EXPECT_EQ(number, 0) << bad;  // never the default 8 or the last number
    }

    firmware::BusyFlag busy;
    EXPECT_FALSE(busy.IsBusy());
    EXPECT_TRUE(busy.TryBegin());
    EXPECT_FALSE(busy.TryBegin());  // nothing starts while a download runs
    EXPECT_TRUE(busy.IsBusy());
    busy.End();
    EXPECT_FALSE(busy.IsBusy());
}

TEST(GpsStatusValues, ZonesRunFromPlusTwelveToMinusTwelve) {
    for (int i = 0; i < 25; ++i) {
        EXPECT_EQ(std::stoi(gpsstatus::kTimeZones[static_cast<std::size_t>(i)]), 12 - i) << i;
    }
    EXPECT_STREQ(gpsstatus::kTimeZones[gpsstatus::kSelectedTimeZone], "+8");
    EXPECT_STREQ(gpsstatus::kResetModes[gpsstatus::kCheckedResetMode], "Hot Start");
}
