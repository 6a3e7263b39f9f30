// The photo link page over a scripted user and a recording photo KML
// writer: the order of Convert's checks, the zone set before the save dialog,
// the UTF-16 file, failures reported under caption 300 with no completion
// text, the combine dialog's OK and Cancel, Default All, the batch entry's
// batch mode and one conversion at a time.
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

// Remembers the program's zone whenever a chooser opens.
class ZoneRecordingUi : public platform::ScriptedUi {
public:
    bool ChooseFile(platform::Dialog* owner, const platform::FileDialogRequest& request, std::string& path) override {
        zoneAtChooser.push_back(ChosenZoneOffset());
        return ScriptedUi::ChooseFile(owner, request, path);
    }
    std::vector<std::optional<long>> zoneAtChooser;
};

// Records each run and answers with a fixed document; may hold a run until
// released.
class RecordingWriter : public PhotoKmlWriter {
public:
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<PhotoKmlRun> runs;
        std::vector<bool> batchModeSeen;
        std::vector<std::optional<long>> zoneSeen;
        bool holdRuns = false;
        bool inRun = false;
        CPageTrackLogPhoto* page = nullptr;
    };
    explicit RecordingWriter(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}

    PhotoKmlResult WritePhotoKml(const PhotoKmlRun& run) override {
        std::unique_lock lock(shared_->mutex);
        shared_->runs.push_back(run);
        shared_->batchModeSeen.push_back(shared_->page && shared_->page->batchMode.load());
        shared_->zoneSeen.push_back(ChosenZoneOffset());
        shared_->inRun = true;
        shared_->changed.notify_all();
        shared_->changed.wait(lock, [this] { return !shared_->holdRuns; });
        shared_->inRun = false;
        PhotoKmlResult result;
        result.written = true;
        result.document = "<?xml version=\"1.0\"?>\r\n<kml>é</kml>\r\n";
        if (!run.batchMode) {
            result.listLines = {"photo one", "photo two"};
            result.summary = "2 read";
        }
        return result;
    }

private:
    std::shared_ptr<Shared> shared_;
};

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The document as the file must hold it: FF FE, then UTF-16LE.
std::string Utf16File(const std::string& text) {
    std::u16string wide;
    CStdioFileEx::MultiByteToUnicode(text, wide, -1);
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : wide) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

class PhotoPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetSettings();
        ClearChosenZone();
        folder = fs::temp_directory_path() / ("pellora_photopage_" + std::to_string(::getpid()));
        fs::create_directories(folder / "photos");
        source = (folder / "track.trl").string();
        std::ofstream(source, std::ios::binary) << std::string(16, '\0');
        ASSERT_TRUE(page.Create(static_cast<QWidget*>(nullptr)));
        shared->page = &page;
        page.SetPhotoKmlWriter(std::make_unique<RecordingWriter>(shared));
    }
    void TearDown() override {
        ResetSettings();
        ClearChosenZone();
        fs::remove_all(folder);
    }
    static void ResetSettings() {
        theUtility.SetPhotoTimeZone(0);
        theUtility.SetCalibration(0, 0, 0, 0);
        theUtility.SetWriteGpsInPhoto(false);
        theUtility.zoneInitialised = 1;
        theUtility.photoZoneReset = 0;
    }

    void ChooseSource(const std::string& path) {
        ui.QueueFileAnswer(path);
        page.SendCommand(kBrowseSource);
    }
    void ChooseFolder(const std::string& path) {
        ui.QueueFolderAnswer(path);
        page.SendCommand(kBrowsePhotoFolder);
    }
    std::vector<platform::ScriptedUi::Call> CallsOf(const std::string& kind) const {
        std::vector<platform::ScriptedUi::Call> out;
        for (const auto& call : ui.Calls()) {
            if (call.kind == kind) out.push_back(call);
        }
        return out;
    }
    void ExpectOneFileBox(const std::string& text) {
        const auto boxes = CallsOf("message");
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, text);
        EXPECT_EQ(boxes[0].caption, res::LoadString(300));
        EXPECT_EQ(boxes[0].caption, "Pellora Update");
        EXPECT_EQ(boxes[0].type, platform::mb::kOk | platform::mb::kIconStop);
    }

    ZoneRecordingUi ui;
    platform::ScopedUi uiScope{ui};
    std::shared_ptr<RecordingWriter::Shared> shared = std::make_shared<RecordingWriter::Shared>();
    CPageTrackLogPhoto page;
    fs::path folder;
    std::string source;
};

TEST_F(PhotoPageTest, ConvertChecksTheSourceBeforeThePhotoFolder) {
    // Neither chosen: one box (string 380) and nothing more.
    page.SendCommand(kConvert);
    ExpectOneFileBox(res::LoadString(380));
    EXPECT_TRUE(CallsOf("save").empty());
    EXPECT_FALSE(ChosenZoneOffset().has_value());

    // A folder alone still stops at the source.
    ZoneRecordingUi second;
    platform::ScopedUi secondScope(second);
    second.QueueFolderAnswer((folder / "photos").string());
    page.SendCommand(kBrowsePhotoFolder);
    page.SendCommand(kConvert);
    ASSERT_EQ(second.MessageTexts().size(), 1u);
    EXPECT_EQ(second.MessageTexts()[0], res::LoadString(380));

    // A source and no folder: the box of string 381.
    CPageTrackLogPhoto other;
    ASSERT_TRUE(other.Create(static_cast<QWidget*>(nullptr)));
    ZoneRecordingUi third;
    platform::ScopedUi thirdScope(third);
    third.QueueFileAnswer(source);
    other.SendCommand(kBrowseSource);
    other.SendCommand(kConvert);
    ASSERT_EQ(third.MessageTexts().size(), 1u);
    EXPECT_EQ(third.MessageTexts()[0], res::LoadString(381));
    EXPECT_EQ(third.Calls().back().kind, "message");  // no save dialog after it
    EXPECT_TRUE(shared->runs.empty());
}

TEST_F(PhotoPageTest, TheZoneIsSetBeforeTheSaveDialogAndStaysAfterItsCancel) {
    ChooseSource(source);
    ChooseFolder((folder / "photos%d").string());
    EXPECT_EQ(page.PhotoFolder(), (folder / "photos%d").string());  // stored and shown unchanged
    EXPECT_EQ(page.GetDlgItemText(kPhotoFolderEdit), (folder / "photos%d").string());
    page.zoneHours = 9;
    page.SendCommand(kConvert);  // the save dialog is cancelled
    ASSERT_EQ(ui.zoneAtChooser.size(), 2u);  // the source's chooser, then the save dialog
    EXPECT_EQ(ui.zoneAtChooser[1], 9 * 3600);
    EXPECT_EQ(ChosenZoneOffset(), 9 * 3600);
    const auto saves = CallsOf("save");
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_EQ(saves[0].request.defaultExtension, "kml");
    EXPECT_EQ(saves[0].request.fileName, "*.kml");
    EXPECT_TRUE(saves[0].request.overwritePrompt);
    EXPECT_TRUE(saves[0].request.hideReadOnly);
    EXPECT_TRUE(shared->runs.empty());
    EXPECT_TRUE(CallsOf("message").empty());
}

TEST_F(PhotoPageTest, ConvertWritesTheDocumentAsUtf16AndShowsTheRun) {
    ChooseSource(source);
    EXPECT_EQ(page.GetDlgItemText(kSourceEdit), source);
    const auto opens = CallsOf("open");
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].request.defaultExtension, "TRL");
    EXPECT_EQ(opens[0].request.fileName, "*.trl");
    ChooseFolder((folder / "photos").string());
    theUtility.SetWriteGpsInPhoto(true);
    page.zoneHours = -5;
    page.calibrationSeconds = 80985;
    const fs::path output = folder / "out.kml";
    ui.QueueFileAnswer(output.string());
    page.SendCommand(kConvert);

    EXPECT_TRUE(CallsOf("message").empty());
    ASSERT_EQ(shared->runs.size(), 1u);
    const PhotoKmlRun& run = shared->runs[0];
    EXPECT_EQ(run.sourcePath, source);
    EXPECT_EQ(run.photoFolder, (folder / "photos").string());
    EXPECT_EQ(run.calibrationSeconds, 80985);
    EXPECT_FALSE(run.batchMode);
    EXPECT_TRUE(run.writeGpsInPhoto);
    EXPECT_EQ(shared->zoneSeen[0], -5 * 3600);
    EXPECT_EQ(ReadBytes(output), Utf16File("<?xml version=\"1.0\"?>\r\n<kml>é</kml>\r\n"));
    EXPECT_EQ(page.OutputPath(), output.string());
    EXPECT_EQ(page.StatusMessage(), res::LoadString(361));
    EXPECT_EQ(page.GetItemCount(kPhotoList), 2);
    EXPECT_EQ(page.GetItemText(kPhotoList, 1), "photo two");
    EXPECT_EQ(page.GetDlgItemText(kSummaryText), "2 read");
}

TEST_F(PhotoPageTest, AMissingSourceOrAnUnopenableOutputIsReportedWithoutCompletionText) {
    const std::string missing = (folder / "gone.trl").string();
    ChooseSource(missing);
    ChooseFolder((folder / "photos").string());
    page.SendCommand(kConvert);
    ExpectOneFileBox(missing + "\n" + std::strerror(ENOENT));
    EXPECT_EQ(page.StatusMessage(), missing + "\n" + std::strerror(ENOENT));
    EXPECT_TRUE(CallsOf("save").empty());
    EXPECT_TRUE(shared->runs.empty());

    CPageTrackLogPhoto other;
    ASSERT_TRUE(other.Create(static_cast<QWidget*>(nullptr)));
    other.SetPhotoKmlWriter(std::make_unique<RecordingWriter>(shared));
    ZoneRecordingUi second;
    platform::ScopedUi secondScope(second);
    second.QueueFileAnswer(source);
    other.SendCommand(kBrowseSource);
    second.QueueFolderAnswer((folder / "photos").string());
    other.SendCommand(kBrowsePhotoFolder);
    const std::string unopenable = (folder / "no-such-folder" / "out.kml").string();
    second.QueueFileAnswer(unopenable);
    other.SendCommand(kConvert);
    ASSERT_EQ(second.MessageTexts().size(), 1u);
    EXPECT_EQ(second.MessageTexts()[0], unopenable + "\n" + std::strerror(ENOENT));
    EXPECT_EQ(second.Calls().back().caption, "Pellora Update");
    EXPECT_EQ(other.StatusMessage(), second.MessageTexts()[0]);
    EXPECT_TRUE(shared->runs.empty());  // no photo was read for nothing
    EXPECT_FALSE(fs::exists(folder / "no-such-folder"));
}

TEST_F(PhotoPageTest, TheStandInWriterReportsThatItIsNotAvailableAndLeavesNoFile) {
    page.SetPhotoKmlWriter(nullptr);
    ChooseSource(source);
    ChooseFolder((folder / "photos").string());
    const fs::path output = folder / "out.kml";
    ui.QueueFileAnswer(output.string());
    page.SendCommand(kConvert);
    ExpectOneFileBox(UnavailablePhotoKmlWriter::kNotAvailable);
    EXPECT_FALSE(fs::exists(output));
    EXPECT_EQ(fs::directory_iterator(folder / "photos"), fs::directory_iterator());
}

TEST_F(PhotoPageTest, TheCombineDialogsOkSetsZoneAndCalibrationAndCancelLeavesThem) {
    page.zoneHours = 2;
    page.calibrationSeconds = 5;
    auto answer = [](bool ok) {
        QTimer::singleShot(0, [ok] {
            auto* box = qobject_cast<platform::DialogWidget*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            auto* dialog = dynamic_cast<CPhotoCSDlg*>(box->Owner());
            ASSERT_NE(dialog, nullptr);
            dialog->SetDlgItemText(dialog145::kMinutesEdit, "-1");
            dialog->SendCommand(dialog145::kMinutesEdit, platform::notify::kEditChange);
            dialog->SetCurSel(dialog145::kZoneCombo, 5);  // "+8"
            dialog->SendCommand(dialog145::kZoneCombo, platform::notify::kSelChange);
            dialog->SendCommand(ok ? dialog145::kOk : dialog145::kCancel);
        });
    };
    answer(false);
    page.SendCommand(kPhotoCombineSetting);
    EXPECT_EQ(page.zoneHours.load(), 2);
    EXPECT_EQ(page.calibrationSeconds.load(), 5);
    int minutes = 0, unused = 0;
    theUtility.GetCalibration(unused, unused, minutes, unused);
    EXPECT_EQ(minutes, -1);  // typed, so stored, although cancelled

    answer(true);
    page.SendCommand(kPhotoCombineSetting);
    EXPECT_EQ(page.zoneHours.load(), 8);
    EXPECT_EQ(page.calibrationSeconds.load(), -60);
}

TEST_F(PhotoPageTest, DefaultAllResetsTheSettingsButNotThePagesNextConversion) {
    theUtility.SetPhotoTimeZone(4);
    theUtility.SetCalibration(1, 2, 3, 4);
    page.zoneHours = 4;
    page.calibrationSeconds = 93784;
    page.SendMessage(WM_PAGE_COMMAND, PAGECMD_DEFAULT);
    int zone = -1, d = -1, h = -1, m = -1, s = -1;
    theUtility.GetPhotoTimeZone(zone);
    theUtility.GetCalibration(d, h, m, s);
    EXPECT_EQ(zone, 0);
    EXPECT_EQ(d + h + m + s, 0);
    EXPECT_EQ(theUtility.photoZoneReset.load(), 1);

    ChooseSource(source);
    ChooseFolder((folder / "photos").string());
    ui.QueueFileAnswer((folder / "out.kml").string());
    page.SendCommand(kConvert);
    ASSERT_EQ(shared->runs.size(), 1u);
    EXPECT_EQ(shared->zoneSeen[0], 4 * 3600);
    EXPECT_EQ(shared->runs[0].calibrationSeconds, 93784);
    CPageTrackLogPhoto::ClearResetFlag();
    EXPECT_EQ(theUtility.photoZoneReset.load(), 0);
}

// The photo and track tables belong to the writer's state, which grows them
// on the heap; the page holds none of them.
static_assert(sizeof(CPageTrackLogPhoto) < 16 * 1024, "the page holds no photo tables");

TEST_F(PhotoPageTest, CancelledChoosersLeaveThePageAsItWas) {
    ChooseSource(source);
    ChooseFolder((folder / "photos").string());
    ChooseSource("");  // cancelled
    platform::ScriptedUi cancelling;  // answers "cancel" to every chooser
    platform::ScopedUi scope(cancelling);
    page.SendCommand(kBrowsePhotoFolder);
    EXPECT_EQ(page.SourcePath(), source);
    EXPECT_EQ(page.GetDlgItemText(kSourceEdit), source);
    EXPECT_EQ(page.PhotoFolder(), (folder / "photos").string());
    EXPECT_EQ(page.GetDlgItemText(kPhotoFolderEdit), (folder / "photos").string());
}

TEST_F(PhotoPageTest, TheInitialZoneComesFromTheSettings) {
    theUtility.SetPhotoTimeZone(-7);
    CPageTrackLogPhoto other;
    ASSERT_TRUE(other.Create(static_cast<QWidget*>(nullptr)));
    EXPECT_EQ(other.zoneHours.load(), -7);
    EXPECT_EQ(other.calibrationSeconds.load(), 0);
    EXPECT_FALSE(other.batchMode.load());
}

TEST(HexToIntTest, DigitsUpToTheFirstOther) {
    const struct {
        const char* text;
        int value;
    } kCases[] = {{"0xff", 255}, {"FF", 255}, {"12G4", 18}, {"G", 0}, {"", 0},
                  {"0X", 0},     {"0x1a2B", 0x1a2b}, {"7fffffff", 0x7fffffff}, {"ffffffff", -1}, {"x12", 0}};
    for (const auto& c : kCases) {
        EXPECT_EQ(CPageTrackLogPhoto::HexToInt(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST_F(PhotoPageTest, TheBatchEntrySetsBatchModeOnlyWhileItRuns) {
    page.zoneHours = 3;
    page.calibrationSeconds = 30;
    const fs::path output = folder / "batch.kml";
    CStdioFileEx file;
    ASSERT_TRUE(file.Open(output.string(), CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFile::typeText |
                                               CStdioFileEx::modeWriteUnicode));
    EXPECT_FALSE(page.batchMode.load());
    EXPECT_TRUE(page.ConvertWithPhotos(source, &file, (folder / "photos").string()));
    EXPECT_FALSE(page.batchMode.load());
    EXPECT_FALSE(file.IsOpen());
    ASSERT_EQ(shared->runs.size(), 1u);
    EXPECT_TRUE(shared->batchModeSeen[0]);
    EXPECT_TRUE(shared->runs[0].batchMode);
    EXPECT_EQ(shared->runs[0].calibrationSeconds, 30);
    EXPECT_EQ(shared->zoneSeen[0], 3 * 3600);
    EXPECT_EQ(page.SourcePath(), source);
    EXPECT_EQ(page.PhotoFolder(), (folder / "photos").string());
    EXPECT_EQ(ReadBytes(output), Utf16File("<?xml version=\"1.0\"?>\r\n<kml>é</kml>\r\n"));
    EXPECT_EQ(page.GetItemCount(kPhotoList), 0);  // nothing shown on the page

    // A missing source: reported, file closed, batch mode off again.
    CStdioFileEx second;
    ASSERT_TRUE(second.Open((folder / "second.kml").string(),
                            CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFileEx::modeWriteUnicode));
    const std::string missing = (folder / "gone.trl").string();
    EXPECT_FALSE(page.ConvertWithPhotos(missing, &second, (folder / "photos").string()));
    EXPECT_EQ(page.StatusMessage(), missing + "\n" + std::strerror(ENOENT));
    EXPECT_FALSE(second.IsOpen());
    EXPECT_FALSE(page.batchMode.load());
    EXPECT_EQ(shared->runs.size(), 1u);
}

TEST_F(PhotoPageTest, TheBatchEntryAndConvertNeverRunTogether) {
    ChooseSource(source);
    ChooseFolder((folder / "photos").string());
    shared->holdRuns = true;
    CStdioFileEx file;
    ASSERT_TRUE(file.Open((folder / "batch.kml").string(),
                          CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFileEx::modeWriteUnicode));
    bool batchResult = false;
    std::thread worker([&] { batchResult = page.ConvertWithPhotos(source, &file, (folder / "photos").string()); });
    {
        std::unique_lock lock(shared->mutex);
        shared->changed.wait(lock, [&] { return shared->inRun; });
    }
    // Convert while the batch run reads its photos: refused, no save dialog.
    page.SendCommand(kConvert);
    ExpectOneFileBox(CPageTrackLogPhoto::kBusy);
    EXPECT_TRUE(CallsOf("save").empty());
    // A second batch run is refused too, and its file closed.
    CStdioFileEx other;
    ASSERT_TRUE(other.Open((folder / "other.kml").string(),
                           CStdioFile::modeCreate | CStdioFile::modeWrite | CStdioFileEx::modeWriteUnicode));
    EXPECT_FALSE(page.ConvertWithPhotos(source, &other, (folder / "photos").string()));
    EXPECT_FALSE(other.IsOpen());
    {
        std::lock_guard lock(shared->mutex);
        shared->holdRuns = false;
    }
    shared->changed.notify_all();
    worker.join();
    EXPECT_TRUE(batchResult);
    EXPECT_EQ(shared->runs.size(), 1u);

    // Once the batch run has ended, Convert runs.
    ui.QueueFileAnswer((folder / "out.kml").string());
    page.SendCommand(kConvert);
    EXPECT_EQ(shared->runs.size(), 2u);
    EXPECT_TRUE(fs::exists(folder / "out.kml"));
}

}  // namespace
