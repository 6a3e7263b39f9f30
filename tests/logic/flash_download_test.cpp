// The update page's flash download below the page, against a recording
// double of the library and a recording page host, on virtual time: the call
// order, every record byte, the success tests, the agent, speed and delay
// tables, the port number, the texts and the final state.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "FlashLibraryRecorder.h"
#include "device/FlashDownload.h"
#include "platform/Clock.h"
#include "flashlib/FlashFiles.h"

namespace fs = std::filesystem;
namespace rec = platform::flashrecord;
using platform::GetRecordU32;
using testsupport::FlashLibraryRecorder;
using testsupport::RecordingFlashHost;

namespace {

class FlashDownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        char templ[] = "/tmp/pellora-flashdl-XXXXXX";
        ASSERT_NE(::mkdtemp(templ), nullptr);
        dir_ = templ;
        std::string error;
        ASSERT_TRUE(platform::flashfiles::WriteFlashFiles(dir_, false, nullptr, &error)) << error;
        temp_ = dir_ + "/Orvik_FW_Temp.bin";
        std::ofstream(temp_, std::ios::binary) << std::string(3000, 'p');
        flash_.SetProgramFolder(dir_);
        Device("V02", 3);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void Device(const std::string& hardware, int model) { flash_.SetDevice({hardware, model, temp_}); }
    // Execute's flash path and the worker, as the page runs them.
    void Execute(const std::string& port = "COM5") {
        flash_.ClearConditions();
        flash_.PrepareDownload();
        flash_.SetPortName(port);
        EXPECT_EQ(flash_.RunFirmwareUpdate(), 1);
    }
    FlashLibraryRecorder::RunCall OnlyRun() {
        const auto runs = lib_.Runs();
        EXPECT_EQ(runs.size(), 1u);
        return runs.empty() ? FlashLibraryRecorder::RunCall{} : runs.front();
    }
    bool Ran() const {
        const auto names = lib_.Names();
        return std::find(names.begin(), names.end(), "Run") != names.end();
    }

    std::string dir_;
    std::string temp_;
    platform::FakeClock clock_;
    platform::ScopedClock scopedClock_{clock_};
    FlashLibraryRecorder lib_;
    platform::ScopedFlashLibrary scopedLibrary_{lib_};
    RecordingFlashHost host_;
    FlashDownloader flash_{host_};
    testsupport::ScopedPageDownloader page_{&flash_};
};

}  // namespace

TEST_F(FlashDownloadTest, CallsTheLibraryInOrder) {
    Execute();
    const std::vector<std::string> expected = {
        "CreateDaHandle",
        "CreateDlHandle",
        "LoadDa da " + dir_ + "/DA_MT3329_v1.bin",
        "LoadScatter dl " + dir_ + "/scat.txt",
        "SetDlOption dl 0x100",
        "LoadImage dl 0x0 " + temp_,
        "EnableImage dl 0x0 0x1",
        "Run",
        "UnloadDa da",
        "UnloadImage dl 0x0",
        "DestroyDaHandle da",
        "DestroyDlHandle dl",
    };
    EXPECT_EQ(lib_.Calls(), expected);
    EXPECT_EQ(flash_.daHandle.load(), 0u);
    EXPECT_EQ(flash_.dlHandle.load(), 0u);
    EXPECT_EQ(flash_.daFolder, dir_);
    EXPECT_EQ(flash_.daFilePath, dir_ + "/DA_MT3329_v1.bin");
    EXPECT_EQ(flash_.scatterFilePath, dir_ + "/scat.txt");
    EXPECT_TRUE(flash_.Succeeded());
    EXPECT_FALSE(flash_.IsRunning());
}

TEST_F(FlashDownloadTest, HardwareChoosesAgentAndParameter) {
    struct Case {
        std::string hardware;
        std::string agent;
        std::string parameterCall;  // empty: none
    };
    const std::vector<Case> cases = {
        {"V01", "DA_MT3318_v1.bin", "SetDaParameter da 0x100800"},
        {"V02", "DA_MT3329_v1.bin", ""},
        {"V03", "DA_MT3329_v1.bin", "SetDaParameter da 0xC00"},
        {"V04", "DA_MT3329_v1.bin", ""},
        {"V01 ", "DA_MT3329_v1.bin", ""},  // only exactly V01 is the older chip
        {"", "DA_MT3329_v1.bin", ""},
    };
    for (const Case& c : cases) {
        lib_.Clear();
        Device(c.hardware, 3);
        flash_.ClearConditions();
        flash_.PrepareDownload();
        std::vector<std::string> calls = lib_.Calls();
        ASSERT_GE(calls.size(), 4u) << c.hardware;
        if (c.parameterCall.empty()) {
            EXPECT_EQ(calls[2], "LoadDa da " + dir_ + "/" + c.agent) << c.hardware;
        } else {
            EXPECT_EQ(calls[2], c.parameterCall) << c.hardware;
            EXPECT_EQ(calls[3], "LoadDa da " + dir_ + "/" + c.agent) << c.hardware;
        }
        flash_.ReleaseDownload();
    }
}

TEST_F(FlashDownloadTest, TheFirstAgentByNameIsTakenAndNoneMeansNone) {
    std::ofstream(dir_ + "/DA_MT3329_a.bin") << "x";
    std::ofstream(dir_ + "/da_mt3329_0.BIN") << "x";  // names compare without case
    fs::create_directory(dir_ + "/DA_MT3329_0dir.bin");  // a folder is no agent
    flash_.PrepareDownload();
    EXPECT_EQ(flash_.daFilePath, dir_ + "/DA_MT3329_a.bin");
    flash_.ReleaseDownload();

    // No agent left: the earlier path does not stay.
    for (const auto& entry : fs::directory_iterator(dir_)) {
        if (entry.path().filename().string().find("3329") != std::string::npos) fs::remove_all(entry.path());
    }
    lib_.Clear();
    flash_.PrepareDownload();
    EXPECT_EQ(flash_.daFilePath, "");
    EXPECT_EQ(lib_.Calls()[2], "LoadDa da ");
    flash_.ReleaseDownload();
}

TEST_F(FlashDownloadTest, EveryRecordByteSitsAtItsOffset) {
    Device("V03", 7);
    flash_.ClearConditions();
    flash_.PrepareDownload();
    flash_.SetPortName("COM12");
    flash_.runReport.fill(0xEE);  // the run zero-fills it
    flash_.runStatus = 77;
    ASSERT_EQ(flash_.RunDownload(flash_.dlHandle), 1);
    const FlashLibraryRecorder::RunCall run = OnlyRun();

    // Port record: number, speed code, two library defaults.
    const platform::PortRecord port = {12, 0, 0, 0, 4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
    EXPECT_EQ(run.port, port);

    // Boot record: fixed values, tokens (checked by what they stand for), zeros.
    std::map<std::size_t, std::uint32_t> bootFixed = {
        {16, lib_.daHandleValue}, {52, 0x0FFFFFFF}, {56, 1}, {344, 1}};
    const std::vector<std::size_t> bootTokens = {20, 24, 28, 32, 336};
    for (std::size_t i = 0; i < run.boot.size(); ++i) {
        const std::size_t field = i & ~std::size_t{3};
        if (bootFixed.count(field) || std::count(bootTokens.begin(), bootTokens.end(), field)) continue;
        if (i == 340) {
            EXPECT_EQ(run.boot[i], 1) << "boot byte 340";
            continue;
        }
        EXPECT_EQ(run.boot[i], 0) << "boot byte " << i;
    }
    for (const auto& [offset, value] : bootFixed) {
        EXPECT_EQ(GetRecordU32(run.boot, offset), value) << "boot offset " << offset;
    }
    for (std::size_t offset : bootTokens) {
        EXPECT_NE(GetRecordU32(run.boot, offset), 0u) << "boot offset " << offset;
    }
    EXPECT_EQ(run.daInit, &FlashDownloader::OnDaInitProgress);
    EXPECT_EQ(run.daProgress, &FlashDownloader::OnDaProgress);
    EXPECT_EQ(run.daInitUser, &flash_);
    EXPECT_EQ(run.daProgressUser, &flash_);
    EXPECT_TRUE(run.bootSelfMatches);

    // Download record.
    std::map<std::size_t, std::uint32_t> dlFixed = {
        {0, lib_.dlHandleValue}, {392, 1}, {416, 1}, {432, 0x00100000}};
    const std::vector<std::size_t> dlTokens = {4, 8, 16, 20};
    for (std::size_t i = 0; i < run.download.size(); ++i) {
        const std::size_t field = i & ~std::size_t{3};
        if (dlFixed.count(field) || std::count(dlTokens.begin(), dlTokens.end(), field)) continue;
        EXPECT_EQ(run.download[i], 0) << "download byte " << i;
    }
    for (const auto& [offset, value] : dlFixed) {
        EXPECT_EQ(GetRecordU32(run.download, offset), value) << "download offset " << offset;
    }
    EXPECT_EQ(run.dlInit, &FlashDownloader::OnDlInitProgress);
    EXPECT_EQ(run.dlProgress, &FlashDownloader::OnDlProgress);
    EXPECT_EQ(run.dlInitUser, &flash_);
    EXPECT_EQ(run.dlProgressUser, &flash_);

    // Out-values start at zero; what the library gives back is kept.
    EXPECT_EQ(run.statusIn, 0u);
    EXPECT_TRUE(run.reportZeroIn);
    EXPECT_EQ(flash_.runStatus.load(), platform::flashstage::kEndDone);
    EXPECT_EQ(flash_.downloadResult.load(), 0u);
    flash_.ReleaseDownload();
}

TEST_F(FlashDownloadTest, TheTokensLiveOnlyForTheRun) {
    const std::size_t before = platform::FlashTokenCount();
    std::size_t during = 0;
    lib_.duringRun = [&] { during = platform::FlashTokenCount(); };
    Execute();
    EXPECT_EQ(during, before + 6);  // downloader, boot record, four callbacks
    EXPECT_EQ(platform::FlashTokenCount(), before);
}

TEST_F(FlashDownloadTest, SpeedCodePerModel) {
    const std::map<int, std::uint32_t> expected = {{0, 0}, {1, 0}, {2, 0}, {3, 4}, {4, 4},
                                                   {5, 6}, {6, 6}, {7, 4}, {8, 0}, {-1, 0}};
    for (const auto& [model, code] : expected) {
        EXPECT_EQ(FlashDownloader::SpeedCode(model), code) << model;
        lib_.Clear();
        Device("V02", model);
        flash_.ClearConditions();
        flash_.PrepareDownload();
        flash_.SetPortName("COM3");
        flash_.RunDownload(flash_.dlHandle);
        EXPECT_EQ(GetRecordU32(OnlyRun().port, rec::kPortSpeed), code) << model;
        flash_.ReleaseDownload();
    }
}

TEST_F(FlashDownloadTest, PortNumbersFromPortNames) {
    for (const auto& [name, number] : std::vector<std::pair<std::string, int>>{
             {"COM12", 12}, {"//.//COM12", 12}, {"COM1", 1}, {"COM50", 50}, {"COM9", 9}}) {
        lib_.Clear();
        flash_.ClearConditions();
        flash_.PrepareDownload();
        flash_.SetPortName(name);
        EXPECT_EQ(flash_.comPortNumber.load(), number) << name;
        flash_.RunDownload(flash_.dlHandle);
        const auto run = OnlyRun();
        EXPECT_EQ(run.port[0], number) << name;
        EXPECT_EQ(run.port[1] | run.port[2] | run.port[3], 0) << name;
        flash_.ReleaseDownload();
    }
    EXPECT_EQ(FlashDownloader::LinkPortNameFor("COM12"), "//.//COM12");
    EXPECT_EQ(FlashDownloader::LinkPortNameFor("COM10"), "//.//COM10");
    EXPECT_EQ(FlashDownloader::LinkPortNameFor("COM9"), "COM9");
    EXPECT_EQ(FlashDownloader::LinkPortNameFor("//.//COM12"), "//.//COM12");
}

TEST_F(FlashDownloadTest, APortNameWithoutAValidNumberRefusesTheRun) {
    for (const std::string name : {"COM0", "COM51", "COM", "", "/dev/ttyUSB0", "COM 3", "com3"}) {
        lib_.Clear();
        host_.Clear();
        std::ofstream(temp_, std::ios::binary) << "payload";
        flash_.comPortNumber = 4;  // from an earlier choice: must not be used
        Execute(name);
        EXPECT_FALSE(Ran()) << name;
        EXPECT_EQ(flash_.comPortNumber.load(), 0) << name;
        EXPECT_EQ(flash_.downloadResult.load(), platform::flashresult::kBadPort) << name;
        EXPECT_EQ(host_.StateTexts().back(), FlashDownloader::kStringFailed) << name;
        EXPECT_FALSE(fs::exists(temp_)) << name;
    }
}

TEST_F(FlashDownloadTest, TheLoadSuccessTestLooksAtBitsEightToFifteen) {
    for (const auto& [result, ok] : std::vector<std::pair<std::uint32_t, bool>>{
             {0, true}, {0xFF, true}, {0x10000, true}, {0xFF0000FF, true},
             {0x100, false}, {0x8000, false}, {0xFF00, false}, {0x10100, false}}) {
        lib_.Clear();
        lib_.loadDaResult = result;
        lib_.loadImageResult = 0;
        flash_.ClearConditions();
        flash_.PrepareDownload();
        EXPECT_EQ(flash_.daLoaded.load(), ok ? 1 : 0) << std::hex << result;
        EXPECT_EQ(flash_.daReady.load(), ok ? 1 : 0) << std::hex << result;
        flash_.ReleaseDownload();
        const auto names = lib_.Names();
        EXPECT_EQ(std::count(names.begin(), names.end(), "UnloadDa"), ok ? 1 : 0) << std::hex << result;

        lib_.Clear();
        lib_.loadDaResult = 0;
        lib_.loadImageResult = result;
        flash_.ClearConditions();
        flash_.PrepareDownload();
        EXPECT_EQ(flash_.imageLoaded.load(), ok ? 1 : 0) << std::hex << result;
        EXPECT_EQ(flash_.imageReady.load(), ok ? 1 : 0) << std::hex << result;
        flash_.ReleaseDownload();
        const auto names2 = lib_.Names();
        EXPECT_EQ(std::count(names2.begin(), names2.end(), "UnloadImage"), ok ? 1 : 0) << std::hex << result;
        EXPECT_EQ(std::count(names2.begin(), names2.end(), "DestroyDaHandle"), 1);
        EXPECT_EQ(std::count(names2.begin(), names2.end(), "DestroyDlHandle"), 1);
    }
}

TEST_F(FlashDownloadTest, NoRunWhenAgentScatterOrImageFailedToLoad) {
    struct Case {
        const char* what;
        std::uint32_t da, scatter, image;
    };
    for (const Case& c : {Case{"agent", 0x102, 0, 0}, Case{"scatter", 0, 0x103, 0}, Case{"image", 0, 0, 0x102}}) {
        lib_.Clear();
        host_.Clear();
        lib_.loadDaResult = c.da;
        lib_.loadScatterResult = c.scatter;
        lib_.loadImageResult = c.image;
        std::ofstream(temp_, std::ios::binary) << "payload";
        Execute();
        EXPECT_FALSE(Ran()) << c.what;
        EXPECT_EQ(flash_.downloadDone.load(), 0) << c.what;
        EXPECT_EQ(flash_.downloadResult.load(), platform::flashresult::kNotReady) << c.what;
        EXPECT_EQ(host_.StateTexts(), (std::vector<int>{405, 410, 447})) << c.what;
        EXPECT_FALSE(host_.HasEvent("reopen")) << c.what;
        EXPECT_FALSE(fs::exists(temp_)) << c.what;
        // Released all the same.
        const auto names = lib_.Names();
        EXPECT_EQ(names.back(), "DestroyDlHandle") << c.what;
    }
}

TEST_F(FlashDownloadTest, RunResultsAndTheWaitAfterResultOne) {
    struct Case {
        std::uint32_t result;
        bool success;
        std::uint64_t slept;
    };
    // 2,000 before, 2 x 2,000 after; success adds 1,000 + 100 x 100 (model 3);
    // result 1 adds 1,500.
    for (const Case& c : {Case{0, true, 17000}, Case{1, false, 7500}, Case{2, false, 6000}, Case{0x108, false, 6000}}) {
        platform::FakeClock clock;
        platform::ScopedClock scoped(clock);
        host_.Clear();
        lib_.runResult = c.result;
        std::ofstream(temp_, std::ios::binary) << "payload";
        Execute();
        EXPECT_EQ(flash_.downloadDone.load(), c.success ? 1 : 0) << c.result;
        EXPECT_EQ(flash_.downloadResult.load(), c.result);
        EXPECT_EQ(clock.TotalSleptMs(), c.slept) << c.result;
        EXPECT_EQ(host_.StateTexts().back(), c.success ? 411 : 447) << c.result;
        EXPECT_EQ(flash_.Succeeded(), c.success);
    }
}

TEST_F(FlashDownloadTest, SelfCheckDelayPerModel) {
    const std::map<int, int> delays = {{0, 100}, {1, 100}, {3, 100}, {4, 700}, {5, 450}, {6, 450}, {7, 10}};
    for (const auto& [model, delay] : delays) {
        EXPECT_EQ(FlashDownloader::SelfCheckDelayMs(model), delay);
        platform::FakeClock clock;
        platform::ScopedClock scoped(clock);
        host_.Clear();
        Device("V02", model);
        std::ofstream(temp_, std::ios::binary) << "payload";
        Execute();
        EXPECT_EQ(clock.TotalSleptMs(), 2000u + 4000u + 1000u + 100u * static_cast<unsigned>(delay)) << model;
    }
}

TEST_F(FlashDownloadTest, TextsAndFinalStateOfASuccess) {
    Execute();
    EXPECT_EQ(host_.StateTexts(), (std::vector<int>{405, 406, 407, 408, 409, 410, 445, 411}));
    const auto events = host_.Events();
    // The self-check: reopen, its text, the sentence, then 0% .. 99%.
    const auto reopen = std::find(events.begin(), events.end(), "reopen");
    ASSERT_NE(reopen, events.end());
    EXPECT_EQ(*(reopen + 1), "state 445");
    EXPECT_EQ(*(reopen + 2), "selfcheck");
    EXPECT_EQ(*(reopen + 3), "bar 0");
    EXPECT_EQ(*(reopen + 4), "percent 0%");
    const std::vector<std::string> tail(events.end() - 6, events.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"close", "state 411", "bar 100", "percent 100%", "unlock", "buttons all"}));
    EXPECT_EQ(std::count(events.begin(), events.end(), "percent 99%"), 1);
    EXPECT_FALSE(host_.HasEvent("warning 453"));
    EXPECT_EQ(flash_.updateProgress.load(), 100);
    EXPECT_FALSE(fs::exists(temp_));
}

TEST_F(FlashDownloadTest, ModelsFourAndSevenEndWithTheUnplugTexts) {
    for (int model : {4, 7}) {
        host_.Clear();
        Device("V02", model);
        std::ofstream(temp_, std::ios::binary) << "payload";
        Execute();
        EXPECT_EQ(host_.StateTexts(), (std::vector<int>{405, 406, 407, 408, 409, 410, 445, 446})) << model;
        const auto events = host_.Events();
        const std::vector<std::string> tail(events.end() - 7, events.end());
        EXPECT_EQ(tail, (std::vector<std::string>{"close", "state 446", "warning 453", "bar 100", "percent 100%",
                                                  "unlock", "buttons all"}))
            << model;
    }
}

TEST_F(FlashDownloadTest, TextsAndFinalStateOfAFailure) {
    lib_.runResult = 0x109;
    Execute();
    EXPECT_EQ(host_.StateTexts(), (std::vector<int>{405, 406, 407, 408, 409, 410, 447}));
    const auto events = host_.Events();
    const std::vector<std::string> tail(events.end() - 3, events.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"close", "state 447", "buttons ok+about"}));
    EXPECT_FALSE(host_.HasEvent("unlock"));
    EXPECT_FALSE(host_.HasEvent("reopen"));
    EXPECT_FALSE(host_.HasEvent("selfcheck"));
    EXPECT_FALSE(fs::exists(temp_));
}

TEST_F(FlashDownloadTest, ProgressDisplay) {
    flash_.SetUpdateProgress(42);
    EXPECT_EQ(host_.LastBar(), 42);
    EXPECT_EQ(host_.LastPercent(), "42%");
    // 100 to 999 move only the bar, which never goes past 100.
    for (int v : {100, 150, 255, 999}) {
        flash_.SetUpdateProgress(v);
        EXPECT_EQ(host_.LastBar(), 100) << v;
        EXPECT_EQ(host_.LastPercent(), "42%") << v;
        EXPECT_EQ(flash_.updateProgress.load(), v);
    }
    flash_.SetUpdateProgress(1000);
    EXPECT_EQ(host_.LastBar(), 100);
    EXPECT_EQ(host_.LastPercent(), "100%");
    EXPECT_EQ(flash_.updateProgress.load(), 100);
    flash_.SetUpdateProgress(0);
    EXPECT_EQ(host_.LastPercent(), "0%");
    flash_.SetUpdateProgress(-5);
    EXPECT_EQ(host_.LastBar(), 0);
}

TEST_F(FlashDownloadTest, AProgressCallbackOfHundredLeavesTheLastPercentage) {
    lib_.dlPercents = {30, 100};
    flash_.ClearConditions();
    flash_.PrepareDownload();
    flash_.SetPortName("COM5");
    ASSERT_EQ(flash_.RunDownload(flash_.dlHandle), 1);
    EXPECT_EQ(host_.LastBar(), 100);
    EXPECT_EQ(host_.LastPercent(), "30%");
    flash_.ReleaseDownload();
}

// The callbacks act on the page instance's downloader whatever the library
// passes them.
TEST_F(FlashDownloadTest, CallbacksActOnThePageInstanceNotOnWhatTheyArePassed) {
    lib_.passForeignValues = true;
    Execute();
    EXPECT_EQ(host_.StateTexts(), (std::vector<int>{405, 406, 407, 408, 409, 410, 445, 411}));
    const auto events = host_.Events();
    const auto imageInit = std::find(events.begin(), events.end(), "state 408");
    ASSERT_NE(imageInit, events.end());
    EXPECT_EQ(*(imageInit - 2), "bar 0");  // the progress starts again for the image
}

TEST_F(FlashDownloadTest, CallbacksWithoutAPageDoNothing) {
    testsupport::ScopedPageDownloader noPage(nullptr);
    EXPECT_EQ(FlashDownloader::OnDaInitProgress(0), 0);
    EXPECT_EQ(FlashDownloader::OnDlInitProgress(0x7FFFFFFE), 0);
    EXPECT_EQ(FlashDownloader::OnDaProgress(50, 1, 2, nullptr), 0);
    EXPECT_EQ(FlashDownloader::OnDlProgress(50, 1, 2, nullptr), 0);
    EXPECT_TRUE(host_.Events().empty());
}

TEST_F(FlashDownloadTest, ForceModeUsesTheOlderChipAndModelZeroValues) {
    Device("V01", 0);
    Execute();
    const auto calls = lib_.Calls();
    EXPECT_EQ(calls[2], "SetDaParameter da 0x100800");
    EXPECT_EQ(calls[3], "LoadDa da " + dir_ + "/DA_MT3318_v1.bin");
    EXPECT_EQ(GetRecordU32(OnlyRun().port, rec::kPortSpeed), 0u);
    EXPECT_EQ(clock_.TotalSleptMs(), 17000u);  // self-check delay 100 ms
}

TEST_F(FlashDownloadTest, TheWorkerRunsAndStopsOnRequest) {
    bool runningDuringRun = false;
    lib_.duringRun = [&] { runningDuringRun = flash_.IsRunning(); };
    Execute();
    EXPECT_TRUE(runningDuringRun);
    EXPECT_FALSE(flash_.IsRunning());

    // A stop before the run: no run, no waits, the failure texts, the file gone.
    platform::FakeClock clock;
    platform::ScopedClock scoped(clock);
    lib_.Clear();
    host_.Clear();
    std::ofstream(temp_, std::ios::binary) << "payload";
    flash_.RequestStop();
    Execute();
    EXPECT_FALSE(Ran());
    EXPECT_EQ(clock.TotalSleptMs(), 0u);
    EXPECT_EQ(host_.StateTexts().back(), 447);
    EXPECT_FALSE(fs::exists(temp_));
}

TEST(FlashExecuteChoice, SerialUpdateOnlyForTheNewZepIon) {
    EXPECT_TRUE(FlashDownloader::UsesSerialUpdate("ZEP ION", "V04", "301"));
    EXPECT_FALSE(FlashDownloader::UsesSerialUpdate("ZEP ION", "V04", "300"));  // flashed
    EXPECT_TRUE(FlashDownloader::UsesSerialUpdate("ZEP I", "V04", "999"));     // five characters compared
    EXPECT_FALSE(FlashDownloader::UsesSerialUpdate("ZEP", "V04", "999"));
    EXPECT_FALSE(FlashDownloader::UsesSerialUpdate("ZEP ION", "V04 ", "999"));
    EXPECT_FALSE(FlashDownloader::UsesSerialUpdate("ZEP ION", "V03", "999"));
    EXPECT_FALSE(FlashDownloader::UsesSerialUpdate("RVN-3", "V04", "999"));
    EXPECT_FALSE(FlashDownloader::UsesSerialUpdate("ZEP ION", "V04", "V3.01"));
    EXPECT_TRUE(FlashDownloader::UsesSerialUpdate("ZEP ION", "V04", "0302"));
}
