// The photo link page over a scripted user and a recording photo KML
// writer: Convert's check order, the zone set before the save dialog, the
// UTF-16 file, failures reported under caption 300 without completion text,
// the combine dialog's OK and Cancel, Default All, HexToInt, and the batch
// entry's batch mode with one conversion at a time.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>

#include "export/PageTrackLogPhoto.h"
#include "export/PhotoCSDlg.h"
#include "platform/Ui.h"
#include "support/ProcessZone.h"
#include "support/StdioFileEx.h"
#include "support/UtilityManager.h"
#include "ui/StringTable.h"
#include "ui/templates/Template135.h"
#include "ui/templates/Template145.h"

namespace {

namespace fs = std::filesystem;
using namespace dialog135;

constexpr const char* kDocument = "<?xml version=\"1.0\"?>\r\n<kml>é</kml>\r\n";
constexpr unsigned kUnicodeWrite = CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFileEx::modeWriteUnicode;

// The program's zone at each chooser.
class ZoneRecordingUi : public platform::ScriptedUi {
public:
    bool ChooseFile(platform::Dialog* owner, const platform::FileDialogRequest& request, std::string& path) override {
        zoneAtChooser.push_back(ChosenZoneOffset());
        return ScriptedUi::ChooseFile(owner, request, path);
    }
    std::vector<std::optional<long>> zoneAtChooser;
};

// Records each run (with the page's batch mode and the zone during it) and
// answers kDocument; holds a run while `hold` is set.
struct Recorder : PhotoKmlWriter {
    PhotoKmlResult WritePhotoKml(const PhotoKmlRun& run) override {
        std::unique_lock lock(mutex);
        runs.push_back(run);
        batchModeSeen.push_back(page->batchMode);
        zoneSeen.push_back(ChosenZoneOffset());
        inRun = true;
        changed.notify_all();
        changed.wait(lock, [this] { return !hold; });
        inRun = false;
        return {true, kDocument, "", {"photo one", "photo two"}, "2 read"};
    }
    CPageTrackLogPhoto* page = nullptr;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<PhotoKmlRun> runs;
    std::vector<bool> batchModeSeen;
    std::vector<std::optional<long>> zoneSeen;
    bool hold = false;
    bool inRun = false;
};

// Forwards to a recorder that the test keeps.
struct Forward : PhotoKmlWriter {
    explicit Forward(Recorder& r) : to(r) {}
    PhotoKmlResult WritePhotoKml(const PhotoKmlRun& run) override { return to.WritePhotoKml(run); }
    Recorder& to;
};

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// kDocument as the file must hold it: FF FE, then UTF-16LE.
std::string Utf16Document() {
    std::u16string wide;
    CStdioFileEx::MultiByteToUnicode(kDocument, wide, -1);
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : wide) bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return bytes;
}

class PhotoPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettings();
        fs::create_directories(photos);
        std::ofstream(source, std::ios::binary) << std::string(16, '\0');
        ASSERT_TRUE(page.Create(static_cast<QWidget*>(nullptr)));
        recorder.page = &page;
        page.SetPhotoKmlWriter(std::make_unique<Forward>(recorder));
    }
    void TearDown() override {
        ResetSettings();
        fs::remove_all(folder);
    }
    static void ResetSettings() {
        theUtility.SetPhotoTimeZone(0);
        theUtility.SetCalibration(0, 0, 0, 0);
        theUtility.SetWriteGpsInPhoto(false);
        theUtility.zoneInitialised = 1;
        theUtility.photoZoneReset = 0;
        ClearChosenZone();
    }
    void Choose(const std::string& trl, const std::string& photoFolder) {
        ui.QueueFileAnswer(trl);
        page.SendCommand(kBrowseSource);
        ui.QueueFolderAnswer(photoFolder);
        page.SendCommand(kBrowsePhotoFolder);
    }
    size_t Count(const std::string& kind) const {
        size_t n = 0;
        for (const auto& call : ui.Calls()) n += call.kind == kind;
        return n;
    }
    // The last call was a stop box with this text under caption 300.
    void ExpectFileBox(const std::string& text) {
        const auto call = ui.Calls().back();
        EXPECT_EQ(call.kind, "message");
        EXPECT_EQ(call.text, text);
        EXPECT_EQ(call.caption, "Pellora Update");
        EXPECT_EQ(call.type, platform::mb::kOk | platform::mb::kIconStop);
        EXPECT_EQ(page.StatusMessage(), text);
    }

    ZoneRecordingUi ui;
    platform::ScopedUi uiScope{ui};
    Recorder recorder;
    CPageTrackLogPhoto page;
    fs::path folder = fs::temp_directory_path() / ("pellora_photopage_" + std::to_string(::getpid()));
    fs::path photos = folder / "photos%d";  // a percent sign is kept as it is
    std::string source = (folder / "track.trl").string();
};

TEST_F(PhotoPageTest, ConvertChecksTheSourceFirstThenThePhotoFolder) {
    page.SendCommand(kConvert);  // neither chosen: one box, string 380
    EXPECT_EQ(Count("message"), 1u);
    ExpectFileBox(res::LoadString(380));
    ui.QueueFileAnswer(source);
    page.SendCommand(kBrowseSource);
    page.SendCommand(kConvert);  // a source, no folder: string 381
    EXPECT_EQ(Count("message"), 2u);
    ExpectFileBox(res::LoadString(381));
    EXPECT_EQ(Count("save"), 0u);
    EXPECT_FALSE(ChosenZoneOffset().has_value());
}

TEST_F(PhotoPageTest, TheZoneIsSetBeforeTheSaveDialogAndCancelsLeaveThePageAsItWas) {
    Choose(source, photos.string());
    Choose("", "");  // both cancelled
    EXPECT_EQ(page.GetDlgItemText(kSourceEdit), source);
    EXPECT_EQ(page.PhotoFolder(), photos.string());
    EXPECT_EQ(page.GetDlgItemText(kPhotoFolderEdit), photos.string());
    page.zoneHours = 9;
    page.SendCommand(kConvert);  // the save dialog is cancelled
    ASSERT_EQ(ui.zoneAtChooser.size(), 3u);
    EXPECT_EQ(ui.zoneAtChooser[2], 9 * 3600);
    EXPECT_EQ(ChosenZoneOffset(), 9 * 3600);
    const auto save = ui.Calls().back().request;
    EXPECT_TRUE(save.save && save.overwritePrompt && save.hideReadOnly);
    EXPECT_EQ(save.defaultExtension + save.fileName, "kml*.kml");
    EXPECT_TRUE(recorder.runs.empty());
    EXPECT_EQ(Count("message"), 0u);
}

TEST_F(PhotoPageTest, FailuresAreReportedUnderCaption300WithoutCompletionText) {
    const std::string missing = (folder / "gone.trl").string();
    Choose(missing, photos.string());
    page.SendCommand(kConvert);
    ExpectFileBox(missing + "\n" + std::strerror(ENOENT));
    EXPECT_EQ(Count("save"), 0u);

    Choose(source, photos.string());
    const std::string unopenable = (folder / "no-such-folder" / "out.kml").string();
    ui.QueueFileAnswer(unopenable);
    page.SendCommand(kConvert);
    ExpectFileBox(unopenable + "\n" + std::strerror(ENOENT));
    EXPECT_TRUE(recorder.runs.empty());  // no photo was read for nothing

    page.SetPhotoKmlWriter(nullptr);  // the stand-in
    ui.QueueFileAnswer((folder / "out.kml").string());
    page.SendCommand(kConvert);
    ExpectFileBox(UnavailablePhotoKmlWriter::kNotAvailable);
    EXPECT_FALSE(fs::exists(folder / "out.kml"));
    EXPECT_EQ(Count("message"), 3u);
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
            dialog->SetCurSel(dialog145::kZoneCombo, 5);  // "+8"
            dialog->SendCommand(dialog145::kZoneCombo, platform::notify::kSelChange);
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

TEST_F(PhotoPageTest, DefaultAllLeavesThePagesZoneAndCalibrationForTheNextUtf16Convert) {
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

    Choose(source, photos.string());
    ui.QueueFileAnswer((folder / "out.kml").string());
    page.SendCommand(kConvert);
    EXPECT_EQ(Count("message"), 0u);
    ASSERT_EQ(recorder.runs.size(), 1u);
    const PhotoKmlRun& run = recorder.runs[0];
    EXPECT_EQ(run.sourcePath + "|" + run.photoFolder, source + "|" + photos.string());
    EXPECT_EQ(run.calibrationSeconds, 80985);
    EXPECT_EQ(recorder.zoneSeen[0], -5 * 3600);
    EXPECT_TRUE(run.writeGpsInPhoto && !run.batchMode);
    EXPECT_EQ(ReadBytes(folder / "out.kml"), Utf16Document());
    EXPECT_EQ(page.StatusMessage(), res::LoadString(361));
    EXPECT_EQ(page.GetItemCount(kPhotoList), 2);
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
    Choose(source, photos.string());
    recorder.hold = true;
    CStdioFileEx file((folder / "batch.kml").string(), kUnicodeWrite | CStdioFile::typeText);
    bool batchResult = false;
    std::thread worker([&] { batchResult = page.ConvertWithPhotos(source, &file, photos.string()); });
    {
        std::unique_lock lock(recorder.mutex);
        recorder.changed.wait(lock, [&] { return recorder.inRun; });
    }
    EXPECT_TRUE(page.batchMode);
    page.SendCommand(kConvert);  // refused while the batch run reads its photos
    ExpectFileBox(CPageTrackLogPhoto::kBusy);
    EXPECT_EQ(Count("save"), 0u);
    CStdioFileEx other((folder / "other.kml").string(), kUnicodeWrite);
    EXPECT_FALSE(page.ConvertWithPhotos(source, &other, photos.string()));
    EXPECT_FALSE(other.IsOpen());
    {
        std::lock_guard lock(recorder.mutex);
        recorder.hold = false;
    }
    recorder.changed.notify_all();
    worker.join();
    EXPECT_TRUE(batchResult);
    EXPECT_FALSE(page.batchMode);
    EXPECT_FALSE(file.IsOpen());
    ASSERT_EQ(recorder.runs.size(), 1u);
    EXPECT_TRUE(recorder.batchModeSeen[0] && recorder.runs[0].batchMode);
    EXPECT_EQ(recorder.runs[0].calibrationSeconds, 30);
    EXPECT_EQ(recorder.zoneSeen[0], 3 * 3600);
    EXPECT_EQ(ReadBytes(folder / "batch.kml"), Utf16Document());
    EXPECT_EQ(page.GetItemCount(kPhotoList), 0);  // nothing shown in batch mode

    // A missing source: reported, file closed, batch mode off again.
    CStdioFileEx third((folder / "third.kml").string(), kUnicodeWrite);
    const std::string missing = (folder / "gone.trl").string();
    EXPECT_FALSE(page.ConvertWithPhotos(missing, &third, photos.string()));
    EXPECT_EQ(page.StatusMessage(), missing + "\n" + std::strerror(ENOENT));
    EXPECT_FALSE(third.IsOpen() || page.batchMode);

    Choose(source, photos.string());  // the batch entry took the missing one
    ui.QueueFileAnswer((folder / "out.kml").string());
    page.SendCommand(kConvert);  // runs once the batch run has ended
    EXPECT_EQ(recorder.runs.size(), 2u);
}

}  // namespace

namespace {

TEST_F(PhotoPageTest, TheProgramsOwnWriterMakesTheDocument) {
    CPageTrackLogPhoto fresh;  // the writer it starts with
    ASSERT_TRUE(fresh.Create(static_cast<QWidget*>(nullptr)));
    ui.QueueFileAnswer(source);
    fresh.SendCommand(kBrowseSource);
    ui.QueueFolderAnswer(photos.string());
    fresh.SendCommand(kBrowsePhotoFolder);
    const fs::path out = folder / "out.kml";
    ui.QueueFileAnswer(out.string());
    fresh.SendCommand(kConvert);
    EXPECT_EQ(Count("message"), 0u) << fresh.StatusMessage();
    const std::string bytes = ReadBytes(out);
    ASSERT_GT(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    std::string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i];
    EXPECT_NE(text.find("<Document>"), std::string::npos) << text.substr(0, 200);
}

}  // namespace
