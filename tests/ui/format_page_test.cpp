// The format conversion page: the machine's zone at start, Convert of
// small.trl into the golden files of tests/data/tracks/page/ in the chosen
// zone, failures under caption 300, Default All, and the writers the log
// upload calls against the upload's and segment's golden files.
#include <QAbstractButton>
#include <cstdio>
#include <cstring>

#include "ExportPageTest.h"
#include "export/PageTrackLogFormat.h"
#include "export/TimeZoneRule.h"
#include "ui/StringTable.h"
#include "ui/templates/Template136.h"

namespace {

namespace fs = std::filesystem;
using namespace dialog136;
using track_writers::OutputStatus;

const fs::path kTracks = fs::path(PELLORA_TEST_DATA_DIR) / "tracks";

class FormatPageTest : public testsupport::ExportPageTest {
protected:
    void SetUp() override {
        ExportPageTest::SetUp();
        fs::copy_file(kTracks / "small.trl", source);
    }
    // Creates the page on a machine offsetSeconds east of UTC.
    static void Create(CPageTrackLogFormat& page, long offsetSeconds) {
        page.machineStandardOffset = [offsetSeconds] { return offsetSeconds; };
        ASSERT_TRUE(page.Create(static_cast<QWidget*>(nullptr)));
    }
    void Choose(int row, std::initializer_list<int> boxes) {
        ui.QueueFileAnswer(source.string());
        page.SendCommand(kBrowseSource);
        Select(page, kZoneCombo, row);
        for (int box : boxes) page.Item<QAbstractButton>(box)->click();
    }
    // The zone row, the four boxes, the four flags and the zone.
    std::string Shown() const {
        std::string s = page.GetItemText(kZoneCombo, page.GetCurSel(kZoneCombo));
        for (int box : {kOutputText, kOutputKml, kOutputNmea, kOutputGpx})
            s += page.IsDlgButtonChecked(box) ? " 1" : " 0";
        for (int flag : {page.outputText, page.outputKml, page.outputNmea, page.outputGpx})
            s += " " + std::to_string(flag);
        return s + " zone " + std::to_string(page.zone);
    }
    static int StoredZone() {
        int stored = 0;
        theUtility.GetPhotoTimeZone(stored);
        return stored;
    }

    const fs::path source = folder / "small.trl";
    CPageTrackLogFormat page;
};

TEST_F(FormatPageTest, StartsWithKmlAndTheMachinesZoneAndDefaultAllPutsKmlAndZoneZeroBack) {
    Create(page, 5 * 3600 + 45 * 60);  // UTC+5:45 gives "+5"
    ASSERT_EQ(page.GetItemCount(kZoneCombo), zone_rule::kRowCount);
    EXPECT_EQ(page.GetItemText(kZoneCombo, 0) + page.GetItemText(kZoneCombo, 25), "+13-12");
    EXPECT_EQ(Shown(), "+5 0 1 0 0 0 1 0 0 zone 5");
    EXPECT_EQ(StoredZone(), 5);
    EXPECT_EQ(page.currentFormat, 1);
    EXPECT_FALSE(page.IsDlgItemVisible(kRadioKml));
    CPageTrackLogFormat onUtc;  // a machine on UTC selects "0"
    Create(onUtc, 0);
    EXPECT_EQ(onUtc.GetCurSel(kZoneCombo), zone_rule::kUtcRow);
    CPageTrackLogFormat onPlus14;  // no row names UTC+14: none is selected
    Create(onPlus14, 14 * 3600);
    EXPECT_EQ(std::to_string(onPlus14.GetCurSel(kZoneCombo)) + " zone " + std::to_string(onPlus14.zone), "-1 zone 14");

    theUtility.SetPhotoTimeZone(4);
    Choose(2, {kOutputText, kOutputKml, kOutputGpx});
    page.SendMessage(WM_PAGE_COMMAND, 4);  // ignored
    EXPECT_EQ(Shown(), "+11 1 0 0 1 1 0 0 1 zone 11");
    page.SendMessage(WM_PAGE_COMMAND, PAGECMD_DEFAULT);
    EXPECT_EQ(Shown(), "0 0 1 0 0 0 1 0 0 zone 0");
    EXPECT_EQ(page.currentFormat, 1);
    EXPECT_EQ(StoredZone(), 4);  // the settings' zone is not changed
}

TEST_F(FormatPageTest, ConvertWritesTheFourOutputsInTheChosenZone) {
    Create(page, -5 * 3600);
    Choose(5, {kOutputText, kOutputNmea, kOutputGpx});  // "+8", the zone of the golden files
    ASSERT_EQ(ui.Calls().size(), 1u);
    EXPECT_EQ(ui.Calls()[0].request.defaultExtension + " " + ui.Calls()[0].request.fileName, "TRL *.trl");
    EXPECT_EQ(page.GetDlgItemText(kSourceEdit), source.string());
    EXPECT_EQ(Shown(), "+8 1 1 1 1 1 1 1 1 zone 8");
    page.SendCommand(kConvert);
    EXPECT_EQ(ui.Calls().size(), 1u) << "no message box";
    EXPECT_EQ(ChosenZoneOffset(), 8L * 3600);
    EXPECT_TRUE(page.LastResult().AllWritten());
    EXPECT_EQ(page.GetDlgItemText(kStatusText), res::LoadString(361));
    for (const char* name : {"small.txt", "small.kml", "smallNMEA.txt", "small.gpx"}) {
        EXPECT_EQ(ReadText(folder / name), ReadText(kTracks / "page" / name)) << name;
    }
    EXPECT_EQ(ReadText(source), ReadText(kTracks / "small.trl"));

    Choose(25, {kOutputText, kOutputKml, kOutputNmea, kOutputGpx});  // no output: the zone is still applied
    page.SendCommand(kConvert);
    EXPECT_EQ(ChosenZoneOffset(), -12L * 3600);
    EXPECT_EQ(ui.Count("message"), 0u);
}

TEST_F(FormatPageTest, FailuresAreShownUnderCaption300) {
    Create(page, 8 * 3600);
    page.SendCommand(kConvert);  // no source: string 380 and nothing else
    ASSERT_EQ(ui.Calls().size(), 1u);
    ExpectStopBox(res::LoadString(380));
    EXPECT_EQ(res::LoadString(300), "Pellora Update");
    EXPECT_FALSE(ChosenZoneOffset().has_value());

    // A GPX output that cannot be created: its box, the KML written, no done text.
    fs::create_directory(folder / "small.gpx");
    page.SetDlgItemText(kStatusText, "before");
    Choose(5, {kOutputGpx});
    page.SendCommand(kConvert);
    ASSERT_EQ(ui.Calls().size(), 3u);
    ExpectStopBox("GPX output not written: cannot create " + (folder / "small.gpx").string() + " (" +
                  std::strerror(EISDIR) + ").");
    EXPECT_EQ(page.LastResult().Output(track_writers::TrackFormat::Gpx).status, OutputStatus::CannotCreate);
    EXPECT_EQ(page.GetDlgItemText(kStatusText), "");
    EXPECT_EQ(ReadText(folder / "small.kml"), ReadText(kTracks / "page" / "small.kml"));
}

TEST_F(FormatPageTest, TheWritersTheLogUploadCallsGiveItsFiles) {
    zone_rule::ApplyZone(8);
    const std::string kml = CPageTrackLogFormat::MakeOutputFileName(source.string(), 1);
    EXPECT_EQ(kml, (folder / "small.kml").string());
    EXPECT_EQ(CPageTrackLogFormat::WriteKml(source.string(), kml), OutputStatus::Written);
    EXPECT_EQ(ReadText(kml), ReadText(kTracks / "segment" / "small.kml"));
    EXPECT_EQ(CPageTrackLogFormat::WriteKml(source.string(), source.string()), OutputStatus::SameAsSource);

    std::FILE* in = std::fopen(source.c_str(), "rb");
    ASSERT_NE(in, nullptr);
    for (const char* name : {"small.txt", "small.kml"}) {
        const fs::path out = folder / ("upload-" + std::string(name));
        std::FILE* file = std::fopen(out.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        EXPECT_TRUE(out.extension() == ".txt" ? CPageTrackLogFormat::WriteText(in, file)
                                              : CPageTrackLogFormat::WriteKml(in, file));
        std::fclose(file);
        EXPECT_EQ(ReadText(out), ReadText(kTracks / "upload" / name)) << name;
    }
    std::fclose(in);
    EXPECT_EQ(CPageTrackLogFormat::HexToInt("0x1aF"), 0x1AFu);
}

}  // namespace
