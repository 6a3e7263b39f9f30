// The format conversion page over a scripted user: the zone combo and its
// default from the machine's zone, Convert of small.trl into the four
// golden outputs of tests/data/tracks/page/, the messages under caption 300
// (no source; an output that cannot be created, with no done text then),
// Default All through the page command, and the writers other pages call on
// the page against the golden files of the upload and segment callers.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "export/PageTrackLogFormat.h"
#include "export/TimeZoneRule.h"
#include "platform/Ui.h"
#include "support/ProcessZone.h"
#include "support/UtilityManager.h"
#include "ui/StringTable.h"
#include "ui/templates/Template136.h"

namespace {

namespace fs = std::filesystem;
using namespace dialog136;
using track_writers::OutputStatus;
using track_writers::TrackFormat;

const fs::path kTracks = fs::path(PELLORA_TEST_DATA_DIR) / "tracks";

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class FormatPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearChosenZone();
        theUtility.SetPhotoTimeZone(0);
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::copy_file(kTracks / "small.trl", source);
    }
    void TearDown() override {
        ClearChosenZone();
        theUtility.SetPhotoTimeZone(0);
        fs::remove_all(folder);
    }
    // Creates the page on a machine offsetSeconds east of UTC.
    void Create(long offsetSeconds = 8 * 3600) {
        page.machineStandardOffset = [offsetSeconds] { return offsetSeconds; };
        ASSERT_TRUE(page.Create(static_cast<QWidget*>(nullptr)));
    }
    void ChooseSource(const fs::path& path) {
        ui.QueueFileAnswer(path.string());
        page.SendCommand(kBrowseSource);
    }
    void ChooseRow(int row) {
        page.SetCurSel(kZoneCombo, row);
        page.SendCommand(kZoneCombo, platform::notify::kSelChange);
    }
    void Click(int box) { page.Item<QAbstractButton>(box)->click(); }
    std::vector<bool> Boxes() const {
        return {page.IsDlgButtonChecked(kOutputText), page.IsDlgButtonChecked(kOutputKml),
                page.IsDlgButtonChecked(kOutputNmea), page.IsDlgButtonChecked(kOutputGpx)};
    }
    std::vector<int> Flags() const { return {page.outputText, page.outputKml, page.outputNmea, page.outputGpx}; }
    std::string ZoneShown() const { return page.GetItemText(kZoneCombo, page.GetCurSel(kZoneCombo)); }

    const fs::path folder = fs::temp_directory_path() / ("pellora-format-page-" + std::to_string(::getpid()));
    const fs::path source = folder / "small.trl";
    platform::ScriptedUi ui;
    platform::ScopedUi uiScope{ui};
    CPageTrackLogFormat page;
};

TEST_F(FormatPageTest, StartsWithKmlAndTheRowOfTheMachinesZone) {
    Create(5 * 3600 + 45 * 60);  // UTC+5:45 gives "+5"
    ASSERT_EQ(page.GetItemCount(kZoneCombo), zone_rule::kRowCount);
    EXPECT_EQ(page.GetItemText(kZoneCombo, 0), "+13");
    EXPECT_EQ(page.GetItemText(kZoneCombo, 25), "-12");
    EXPECT_EQ(ZoneShown(), "+5");
    EXPECT_EQ(page.zone, 5);
    int stored = 0;
    theUtility.GetPhotoTimeZone(stored);
    EXPECT_EQ(stored, 5);
    EXPECT_EQ(Boxes(), (std::vector<bool>{false, true, false, false}));
    EXPECT_EQ(Flags(), (std::vector<int>{0, 1, 0, 0}));
    EXPECT_EQ(page.currentFormat, 1);
    EXPECT_FALSE(page.IsDlgItemVisible(kRadioKml));
}

TEST_F(FormatPageTest, AMachineOnUtcSelectsZoneZero) {
    Create(0);
    EXPECT_EQ(page.GetCurSel(kZoneCombo), zone_rule::kUtcRow);
    EXPECT_EQ(ZoneShown(), "0");
    EXPECT_EQ(page.zone, 0);
}

TEST_F(FormatPageTest, ConvertWritesTheFourOutputsInTheChosenZone) {
    Create(-5 * 3600);
    ChooseSource(source);
    const auto calls = ui.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].request.defaultExtension, "TRL");
    EXPECT_EQ(calls[0].request.fileName, "*.trl");
    EXPECT_EQ(page.GetDlgItemText(kSourceEdit), source.string());

    ChooseRow(5);  // "+8", the zone of the golden files
    EXPECT_EQ(page.zone, 8);
    for (int box : {kOutputText, kOutputNmea, kOutputGpx}) Click(box);
    EXPECT_EQ(Flags(), (std::vector<int>{1, 1, 1, 1}));
    page.SendCommand(kConvert);

    EXPECT_EQ(ui.Calls().size(), 1u) << "no message box";
    EXPECT_EQ(ChosenZoneOffset(), 8L * 3600);
    EXPECT_TRUE(page.LastResult().AllWritten());
    EXPECT_EQ(page.GetDlgItemText(kStatusText), res::LoadString(361));
    for (const char* name : {"small.txt", "small.kml", "smallNMEA.txt", "small.gpx"}) {
        EXPECT_EQ(ReadBytes(folder / name), ReadBytes(kTracks / "page" / name)) << name;
    }
    EXPECT_EQ(ReadBytes(source), ReadBytes(kTracks / "small.trl"));

    // Another row, no output chosen: the zone is still applied, nothing opened.
    for (int box : {kOutputText, kOutputKml, kOutputNmea, kOutputGpx}) Click(box);
    ChooseRow(25);
    page.SendCommand(kConvert);
    EXPECT_EQ(ChosenZoneOffset(), -12L * 3600);
    EXPECT_EQ(ui.Calls().size(), 1u);
}

TEST_F(FormatPageTest, WithoutASourceOnlyString380IsShown) {
    Create();
    page.SendCommand(kConvert);
    const auto calls = ui.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].kind, "message");
    EXPECT_EQ(calls[0].text, res::LoadString(380));
    EXPECT_EQ(calls[0].caption, "Pellora Update");
    EXPECT_EQ(calls[0].type, platform::mb::kIconStop);
    EXPECT_FALSE(ChosenZoneOffset().has_value());
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), 1);
}

TEST_F(FormatPageTest, AnOutputThatCannotBeCreatedIsReportedAndTheOthersWritten) {
    Create();
    fs::create_directory(folder / "small.gpx");
    page.SetDlgItemText(kStatusText, "before");
    ChooseSource(source);
    Click(kOutputGpx);
    page.SendCommand(kConvert);
    const auto calls = ui.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].caption, res::LoadString(300));
    EXPECT_EQ(calls[1].type, platform::mb::kIconStop);
    EXPECT_NE(calls[1].text.find("GPX"), std::string::npos) << calls[1].text;
    EXPECT_NE(calls[1].text.find((folder / "small.gpx").string()), std::string::npos) << calls[1].text;
    EXPECT_EQ(page.LastResult().Output(TrackFormat::Gpx).status, OutputStatus::CannotCreate);
    EXPECT_FALSE(page.LastResult().AllWritten());
    EXPECT_EQ(page.GetDlgItemText(kStatusText), "");  // not the done text
    EXPECT_EQ(ReadBytes(folder / "small.kml"), ReadBytes(kTracks / "page" / "small.kml"));
}

TEST_F(FormatPageTest, DefaultAllPutsZoneZeroAndKmlAloneBack) {
    Create();
    theUtility.SetPhotoTimeZone(4);
    ChooseRow(2);
    for (int box : {kOutputText, kOutputKml, kOutputGpx}) Click(box);
    page.SendMessage(WM_PAGE_COMMAND, 4);  // ignored
    EXPECT_EQ(page.zone, 11);
    page.SendMessage(WM_PAGE_COMMAND, PAGECMD_DEFAULT);
    EXPECT_EQ(page.PageCommandCount(PAGECMD_DEFAULT), 1);
    EXPECT_EQ(ZoneShown(), "0");
    EXPECT_EQ(page.zone, 0);
    EXPECT_EQ(Boxes(), (std::vector<bool>{false, true, false, false}));
    EXPECT_EQ(Flags(), (std::vector<int>{0, 1, 0, 0}));
    EXPECT_EQ(page.currentFormat, 1);
    int stored = 0;
    theUtility.GetPhotoTimeZone(stored);
    EXPECT_EQ(stored, 4);  // the settings' zone is not changed
}

// The members the log upload calls on the page give the upload's and the
// segment conversion's golden files.
TEST_F(FormatPageTest, TheWritersOtherPagesCallGiveTheirCallersFiles) {
    zone_rule::ApplyZone(8);
    const std::string kml = CPageTrackLogFormat::MakeOutputFileName(source.string(), 1);
    EXPECT_EQ(kml, (folder / "small.kml").string());
    EXPECT_EQ(CPageTrackLogFormat::WriteKml(source.string(), kml), OutputStatus::Written);
    EXPECT_EQ(ReadBytes(kml), ReadBytes(kTracks / "segment" / "small.kml"));
    EXPECT_EQ(CPageTrackLogFormat::WriteKml(source.string(), source.string()), OutputStatus::SameAsSource);

    std::FILE* in = std::fopen(source.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    for (const char* name : {"small.txt", "small.kml"}) {
        const fs::path out = folder / ("upload-" + std::string(name));
        std::FILE* file = std::fopen(out.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        EXPECT_TRUE(name[6] == 't' ? CPageTrackLogFormat::WriteText(in, file) : CPageTrackLogFormat::WriteKml(in, file));
        std::fclose(file);
        EXPECT_EQ(ReadBytes(out), ReadBytes(kTracks / "upload" / name)) << name;
    }
    std::fclose(in);
    EXPECT_EQ(CPageTrackLogFormat::HexToInt("0x1aF"), 0x1AFu);
}

}  // namespace
