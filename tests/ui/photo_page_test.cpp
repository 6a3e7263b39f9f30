// The photo link page over a scripted user and a recording photo KML writer:
// Convert's check order and its failures (caption 300, no completion text),
// the zone set before the save dialog, the UTF-16 file, the combine dialog's
// OK and Cancel, Default All, HexToInt, the batch entry (batch mode, one
// conversion at a time, its lines listed after the run), the widening list,
// and the program's own writer.
#include <QApplication>
#include <QTimer>
#include <cstring>
#include <future>
#include <thread>
#include <utility>

#include "ExportPageTest.h"
#include "UiTestUtil.h"
#include "export/PageTrackLogPhoto.h"
#include "export/PhotoCSDlg.h"
#include "support/StdioFileEx.h"
#include "ui/StringTable.h"
#include "ui/templates/Template135.h"
#include "ui/templates/Template145.h"

namespace {

namespace fs = std::filesystem;
using namespace dialog135;

constexpr const char* kDocument = "<?xml version=\"1.0\"?>\r\n<kml>é</kml>\r\n";
// A photo's line wider than the list, which must widen to it.
const std::string kLongLine = "/home/user/photos/" + std::string(240, 'p') + "/IMG_0001.JPG";
constexpr unsigned kUnicodeWrite = CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFileEx::modeWriteUnicode;

// kDocument as the file must hold it: FF FE, then UTF-16LE.
std::string Utf16Document() {
    std::u16string wide;
    CStdioFileEx::MultiByteToUnicode(kDocument, wide, -1);
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : wide) bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return bytes;
}

// Records each run (with the page's batch mode and the zone during it) and
// answers kDocument. The run that finds `hold` set (it clears it) signals
// `entered` and waits for `release`.
struct Recorder {
    PhotoKmlResult Write(const PhotoKmlRun& run) {
        runs.push_back(run);
        batchModeSeen.push_back(page->batchMode);
        zoneSeen.push_back(ChosenZoneOffset());
        if (std::exchange(hold, false)) {
            entered.set_value();
            release.get_future().wait();
        }
        return {true, kDocument, "", {"photo one", kLongLine}, "2 read"};
    }
    CPageTrackLogPhoto* page = nullptr;
    std::vector<PhotoKmlRun> runs;
    std::vector<bool> batchModeSeen;
    std::vector<std::optional<long>> zoneSeen;
    bool hold = false;
    std::promise<void> entered, release;
};

// What the page owns: forwards to the recorder that the test keeps.
struct Forward : PhotoKmlWriter {
    explicit Forward(Recorder& r) : to(r) {}
    PhotoKmlResult WritePhotoKml(const PhotoKmlRun& run) override { return to.Write(run); }
    Recorder& to;
};

class PhotoPageTest : public testsupport::ExportPageTest {
protected:
    void SetUp() override {
        ExportPageTest::SetUp();
        fs::create_directories(photos);
        std::ofstream(source, std::ios::binary) << std::string(16, '\0');
        ASSERT_TRUE(page.Create(static_cast<QWidget*>(nullptr)));
        recorder.page = &page;
        page.SetPhotoKmlWriter(std::make_unique<Forward>(recorder));
    }
    // Browses to the track and the photo folder (an empty answer cancels).
    void Choose(const std::string& trl, const fs::path& dir, CPageTrackLogPhoto* on = nullptr) {
        ui.QueueFileAnswer(trl);
        (on ? *on : page).SendCommand(kBrowseSource);
        ui.QueueFolderAnswer(dir.string());
        (on ? *on : page).SendCommand(kBrowsePhotoFolder);
    }
    // Convert, answering the save dialog with path.
    void ConvertTo(const fs::path& path, CPageTrackLogPhoto* on = nullptr) {
        ui.QueueFileAnswer(path.string());
        (on ? *on : page).SendCommand(kConvert);
    }
    // A stop box under caption 300 was the last call, and the status says the same.
    void ExpectFailure(const std::string& text) {
        ExpectStopBox(text);
        EXPECT_EQ(page.StatusMessage(), text);
    }
    // The one run so far: the page's source, folder, calibration and zone,
    // batch mode as given, kDocument in the file, the list shown (after a batch
    // run too) and widened to its longest line.
    void ExpectTheRun(int calibration, int zoneHours, bool batch, const fs::path& file) {
        ASSERT_EQ(recorder.runs.size(), 1u);
        const PhotoKmlRun& run = recorder.runs[0];
        EXPECT_EQ(run.sourcePath + "|" + run.photoFolder, source + "|" + photos.string());
        EXPECT_EQ(run.calibrationSeconds, calibration);
        EXPECT_EQ(recorder.zoneSeen[0], zoneHours * 3600);
        EXPECT_TRUE(run.batchMode == batch && recorder.batchModeSeen[0] == batch);
        EXPECT_EQ(ReadText(file), Utf16Document());
        EXPECT_TRUE(testsupport::WaitUntil([&] { return page.GetItemCount(kPhotoList) == 2; }, std::chrono::seconds(5)));
        EXPECT_EQ(page.photoList.GetHorizontalExtent(), page.photoList.TextExtent(kLongLine));
    }

    Recorder recorder;
    CPageTrackLogPhoto page;
    const fs::path photos = folder / "photos%d";  // a percent sign is kept as it is
    const std::string source = (folder / "track.trl").string();
    const std::string missing = (folder / "gone.trl").string();
    const fs::path out = folder / "out.kml";
};

TEST_F(PhotoPageTest, ConvertChecksSourceThenFolderAndReportsEachFailureWithoutCompletionText) {
    page.SendCommand(kConvert);  // neither chosen: string 380
    ExpectFailure(res::LoadString(380));
    ui.QueueFileAnswer(source);
    page.SendCommand(kBrowseSource);
    page.SendCommand(kConvert);  // a source, no folder: string 381
    ExpectFailure(res::LoadString(381));
    EXPECT_FALSE(ChosenZoneOffset().has_value());

    Choose(missing, photos);
    page.SendCommand(kConvert);
    ExpectFailure(missing + "\n" + std::strerror(ENOENT));
    ::mkfifo((folder / "pipe.trl").c_str(), 0600);  // refused, never waited on
    Choose((folder / "pipe.trl").string(), photos);
    page.SendCommand(kConvert);
    ExpectFailure((folder / "pipe.trl").string() + "\nnot a regular file");
    EXPECT_EQ(ui.Count("save"), 0u);

    Choose(source, photos);
    const fs::path unopenable = folder / "no-such-folder" / "out.kml";
    ConvertTo(unopenable);
    ExpectFailure(unopenable.string() + "\n" + std::strerror(ENOENT));
    EXPECT_TRUE(recorder.runs.empty());  // no photo was read for nothing

    page.SetPhotoKmlWriter(nullptr);  // the stand-in
    ConvertTo(out);
    ExpectFailure(UnavailablePhotoKmlWriter::kNotAvailable);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(ui.Count("message"), 6u);  // one box each
}

TEST_F(PhotoPageTest, TheCombineDialogsOkSetsZoneAndCalibrationAndCancelLeavesThem) {
    page.zoneHours = 2;
    page.calibrationSeconds = 5;
    for (bool ok : {false, true}) {
        QTimer::singleShot(0, [ok] {
            auto* box = qobject_cast<platform::DialogWidget*>(QApplication::activeModalWidget());
            auto* dialog = box ? dynamic_cast<CPhotoCSDlg*>(box->Owner()) : nullptr;
            ASSERT_NE(dialog, nullptr);
            dialog->SetDlgItemText(dialog145::kMinutesEdit, "-1");
            dialog->SendCommand(dialog145::kMinutesEdit, platform::notify::kEditChange);
            Select(*dialog, dialog145::kZoneCombo, 5);  // "+8"
            dialog->SendCommand(ok ? dialog145::kOk : dialog145::kCancel);
        });
        page.SendCommand(kPhotoCombineSetting);
        EXPECT_EQ(page.zoneHours.load(), ok ? 8 : 2);
        EXPECT_EQ(page.calibrationSeconds.load(), ok ? -60 : 5);
        int d = 0, h = 0, m = 0, s = 0;
        theUtility.GetCalibration(d, h, m, s);
        EXPECT_EQ(m, -1);  // typed, so stored, even when cancelled
    }
}

TEST_F(PhotoPageTest, DefaultAllLeavesThePagesZoneWhichConvertSetsBeforeTheSaveDialog) {
    theUtility.SetPhotoTimeZone(-5);
    CPageTrackLogPhoto fresh;
    ASSERT_TRUE(fresh.Create(static_cast<QWidget*>(nullptr)));
    EXPECT_EQ(fresh.zoneHours.load(), -5);  // taken from the settings
    page.zoneHours = -5;
    page.calibrationSeconds = 80985;
    theUtility.SetCalibration(0, 22, 29, 45);
    theUtility.SetWriteGpsInPhoto(true);
    page.SendMessage(WM_PAGE_COMMAND, PAGECMD_DEFAULT);
    int zone = -1, d = -1, h = -1, m = -1, s = -1;
    theUtility.GetPhotoTimeZone(zone);
    theUtility.GetCalibration(d, h, m, s);
    EXPECT_EQ(std::vector<int>({zone, d, h, m, s}), std::vector<int>(5, 0));
    EXPECT_EQ(theUtility.photoZoneReset.load(), 1);

    Choose(source, photos);
    Choose("", "");  // both cancelled: the page keeps its choices
    EXPECT_EQ(page.GetDlgItemText(kSourceEdit), source);
    EXPECT_EQ(page.PhotoFolder(), photos.string());
    EXPECT_EQ(page.GetDlgItemText(kPhotoFolderEdit), photos.string());
    page.SendCommand(kConvert);  // the save dialog is cancelled
    ASSERT_EQ(ui.zoneAtChooser.size(), 3u);
    EXPECT_EQ(ui.zoneAtChooser[2], -5 * 3600);
    EXPECT_EQ(ChosenZoneOffset(), -5 * 3600);
    const auto save = ui.Calls().back().request;
    EXPECT_TRUE(save.save && save.overwritePrompt && save.hideReadOnly);
    EXPECT_EQ(save.defaultExtension + save.fileName, "kml*.kml");
    EXPECT_TRUE(recorder.runs.empty());

    ConvertTo(out);
    EXPECT_EQ(ui.Count("message"), 0u);
    ExpectTheRun(80985, -5, false, out);
    EXPECT_TRUE(recorder.runs[0].writeGpsInPhoto);
    EXPECT_EQ(page.StatusMessage(), res::LoadString(361));
    EXPECT_EQ(page.GetDlgItemText(kSummaryText), "2 read");
    CPageTrackLogPhoto::ClearResetFlag();
    EXPECT_EQ(theUtility.photoZoneReset.load(), 0);
}

// The photo and track tables belong to the writer's state, which grows them
// on the heap; the page holds none of them.
static_assert(sizeof(CPageTrackLogPhoto) < 16 * 1024, "the page holds no photo tables");

TEST(HexToIntTest, DigitsUpToTheFirstOther) {
    const std::pair<const char*, int> kCases[] = {{"0xff", 255}, {"FF", 255}, {"12G4", 18}, {"G", 0},
                                                  {"", 0},       {"0X", 0},   {"0x1a2B", 0x1a2b}, {"ffffffff", -1}};
    for (const auto& [text, value] : kCases) EXPECT_EQ(CPageTrackLogPhoto::HexToInt(text), value) << text;
}

TEST_F(PhotoPageTest, TheBatchEntrySetsBatchModeOnlyWhileItRunsAndRunsAlone) {
    page.zoneHours = 3;
    page.calibrationSeconds = 30;
    Choose(source, photos);
    recorder.hold = true;
    CStdioFileEx file((folder / "batch.kml").string(), kUnicodeWrite | CStdioFile::typeText);
    bool batchResult = false;
    std::thread worker([&] { batchResult = page.ConvertWithPhotos(source, &file, photos.string()); });
    recorder.entered.get_future().wait();
    EXPECT_TRUE(page.batchMode);
    page.SendCommand(kConvert);  // refused while the batch run reads its photos
    ExpectFailure(CPageTrackLogPhoto::kBusy);
    EXPECT_EQ(ui.Count("save"), 0u);
    CStdioFileEx other((folder / "other.kml").string(), kUnicodeWrite);
    EXPECT_FALSE(page.ConvertWithPhotos(source, &other, photos.string()));
    EXPECT_FALSE(other.IsOpen());
    recorder.release.set_value();
    worker.join();
    EXPECT_TRUE(batchResult);
    EXPECT_FALSE(page.batchMode);
    EXPECT_FALSE(file.IsOpen());
    ExpectTheRun(30, 3, true, folder / "batch.kml");

    // A missing source: reported, file closed, batch mode off again.
    CStdioFileEx third((folder / "third.kml").string(), kUnicodeWrite);
    EXPECT_FALSE(page.ConvertWithPhotos(missing, &third, photos.string()));
    EXPECT_EQ(page.StatusMessage(), missing + "\n" + std::strerror(ENOENT));
    EXPECT_FALSE(third.IsOpen() || page.batchMode);

    Choose(source, photos);  // the batch entry took the missing one
    ConvertTo(out);  // runs once the batch run has ended
    EXPECT_EQ(recorder.runs.size(), 2u);
}

TEST_F(PhotoPageTest, TheProgramsOwnWriterMakesTheDocument) {
    CPageTrackLogPhoto fresh;  // the writer it starts with
    ASSERT_TRUE(fresh.Create(static_cast<QWidget*>(nullptr)));
    Choose(source, photos, &fresh);
    ConvertTo(out, &fresh);
    EXPECT_EQ(ui.Count("message"), 0u) << fresh.StatusMessage();
    const std::string bytes = ReadText(out);
    ASSERT_GT(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    std::string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i];
    EXPECT_NE(text.find("<Document>"), std::string::npos) << text.substr(0, 200);
}

}  // namespace
