#include "export/PageTrackLogPhoto.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "device/Sentence.h"
#include "export/PhotoCSDlg.h"
#include "export/PhotoKml.h"
#include "export/TimeZoneRule.h"
#include "platform/Controls.h"
#include "platform/Ui.h"
#include "support/AtomicFile.h"
#include "support/ProcessZone.h"
#include "support/SourceFile.h"
#include "support/StdioFileEx.h"
#include "support/UtilityManager.h"
#include "ui/StringTable.h"
#include "ui/templates/Template135.h"

using namespace dialog135;

namespace {

constexpr int kCaptionFiles = 300;
constexpr unsigned kStopBox = platform::mb::kOk | platform::mb::kIconStop;

std::string FileFailure(const std::string& path, int error) { return path + "\n" + SourceErrorText(error); }

// Holds the busy flag for one conversion; a second one finds it taken.
class BusyScope {
public:
    explicit BusyScope(std::atomic<bool>& flag) : flag_(flag), taken_(!flag.exchange(true)) {}
    ~BusyScope() {
        if (taken_) flag_ = false;
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    bool Taken() const { return taken_; }

private:
    std::atomic<bool>& flag_;
    bool taken_;
};

// batchMode is true exactly while the batch entry runs, whichever way it ends.
class BatchModeScope {
public:
    explicit BatchModeScope(std::atomic<bool>& flag) : flag_(flag) { flag_ = true; }
    ~BatchModeScope() { flag_ = false; }
    BatchModeScope(const BatchModeScope&) = delete;
    BatchModeScope& operator=(const BatchModeScope&) = delete;

private:
    std::atomic<bool>& flag_;
};

}  // namespace

namespace {

// The program's photo logic: track and photo tables, capture times,
// matching, GPS copies and the document.
class PhotoLogicKmlWriter : public PhotoKmlWriter {
public:
    PhotoKmlResult WritePhotoKml(const PhotoKmlRun& run) override {
        state_ = PhotoLinkState{};
        state_.photoFolder = run.photoFolder;
        state_.calibrationSeconds = run.calibrationSeconds;
        state_.batchMode = run.batchMode;
        PhotoKmlResult result;
        result.document = BuildPhotoKml(state_, run.sourcePath, run.writeGpsInPhoto);
        result.written = true;
        result.listLines = std::move(state_.photoList);
        result.summary = std::move(state_.summaryText);
        return result;
    }

private:
    PhotoLinkState state_;
};

}  // namespace

PhotoKmlResult UnavailablePhotoKmlWriter::WritePhotoKml(const PhotoKmlRun&) {
    PhotoKmlResult result;
    result.failure = kNotAvailable;
    return result;
}

CPageTrackLogPhoto::CPageTrackLogPhoto()
    : CPage(res::Template135()), writer_(std::make_unique<PhotoLogicKmlWriter>()) {
    using platform::notify::kClicked;
    OnNotify(kBrowsePhotoFolder, kClicked, [this] { OnButtonBrowsePhotoFolder(); });
    OnNotify(kConvert, kClicked, [this] { OnButtonConvert(); });
    OnNotify(kBrowseSource, kClicked, [this] { OnButtonBrowseSource(); });
    OnNotify(kPhotoList, platform::notify::kSelChange, [this] { OnSelchangeListPhotos(); });
    OnNotify(kPhotoCombineSetting, kClicked, [this] { OnButtonPhotoCombineSetting(); });
}

CPageTrackLogPhoto::~CPageTrackLogPhoto() = default;

void CPageTrackLogPhoto::SetPhotoKmlWriter(std::unique_ptr<PhotoKmlWriter> writer) {
    writer_ = writer ? std::move(writer) : std::make_unique<UnavailablePhotoKmlWriter>();
}

bool CPageTrackLogPhoto::OnInitDialog() {
    CPage::OnInitDialog();
    photoList.Attach(Item<platform::ListBoxWidget>(kPhotoList));
    LoadCaptions();
    int zone = 0;
    theUtility.GetPhotoTimeZone(zone);
    zoneHours = zone;
    return true;
}

void CPageTrackLogPhoto::LoadCaptions() {
    SetDlgItemText(kGroupFrame, res::LoadString(363));
    SetDlgItemText(kSourceLabel, res::LoadString(354));
    SetDlgItemText(kPhotoFolderLabel, res::LoadString(364));
    SetDlgItemText(kStatusText, res::LoadString(359));
    SetDlgItemText(kConvert, res::LoadString(358));
    SetDlgItemText(kPhotoCombineSetting, res::LoadString(365));
    NameSilentControls();
}

void CPageTrackLogPhoto::NameSilentControls() {
    // A field and its browse button are named by their label's template caption.
    NameEmptyByTemplateCaption({kGroupFrame, kSourceLabel, kPhotoFolderLabel, kStatusText, kConvert, kPhotoCombineSetting});
    SetDlgItemAccessibleName(kSourceEdit, TemplateCaption(kSourceLabel));
    SetDlgItemAccessibleName(kPhotoFolderEdit, TemplateCaption(kPhotoFolderLabel));
    SetDlgItemAccessibleName(kBrowseSource, TemplateCaption(kSourceLabel));
    SetDlgItemAccessibleName(kBrowsePhotoFolder, TemplateCaption(kPhotoFolderLabel));
    SetDlgItemAccessibleName(kSummaryText, "Photos read and matched");
    SetDlgItemAccessibleName(kPhotoList, "Photos");
}

void CPageTrackLogPhoto::DefaultAll() {
    theUtility.SetPhotoTimeZone(0);
    theUtility.SetCalibration(0, 0, 0, 0);
    theUtility.photoZoneReset = 1;
}

void CPageTrackLogPhoto::ClearResetFlag() { theUtility.photoZoneReset = 0; }

int CPageTrackLogPhoto::HexToInt(const std::string& text) {
    return static_cast<int>(sentence::HexToInt(std::string_view(text)));
}

std::string CPageTrackLogPhoto::SourcePath() const {
    std::lock_guard lock(textsMutex_);
    return sourcePath_;
}

std::string CPageTrackLogPhoto::PhotoFolder() const {
    std::lock_guard lock(textsMutex_);
    return photoFolder_;
}

std::string CPageTrackLogPhoto::OutputPath() const {
    std::lock_guard lock(textsMutex_);
    return outputPath_;
}

std::string CPageTrackLogPhoto::StatusMessage() const {
    std::lock_guard lock(textsMutex_);
    return statusMessage_;
}

void CPageTrackLogPhoto::SetStatusMessage(const std::string& text) {
    std::lock_guard lock(textsMutex_);
    statusMessage_ = text;
}

void CPageTrackLogPhoto::ReportFailure(const std::string& text) {
    SetStatusMessage(text);
    platform::Ui().MessageBox(this, text, res::LoadString(kCaptionFiles), kStopBox);
}

void CPageTrackLogPhoto::OnButtonBrowseSource() {
    platform::FileDialogRequest request;
    request.save = false;
    request.defaultExtension = "TRL";
    request.fileName = "*.trl";
    request.filter = res::LoadString(108);
    std::string path;
    if (!platform::Ui().ChooseFile(nullptr, request, path)) return;
    UpdateWindow();
    {
        std::lock_guard lock(textsMutex_);
        sourcePath_ = path;
    }
    SetDlgItemText(kSourceEdit, path);
}

void CPageTrackLogPhoto::OnButtonBrowsePhotoFolder() {
    std::string folder;
    if (!platform::Ui().BrowseFolder(this, "", folder)) return;
    {
        std::lock_guard lock(textsMutex_);
        photoFolder_ = folder;
    }
    SetDlgItemText(kPhotoFolderEdit, folder);
}

void CPageTrackLogPhoto::OnButtonPhotoCombineSetting() {
    CPhotoCSDlg dialog;
    if (dialog.DoModal(nullptr) != platform::kIdOk) return;
    int zone = 0;
    int seconds = 0;
    dialog.GetZoneOffset(zone);
    dialog.GetCalibrationSeconds(seconds);
    zoneHours = zone;
    calibrationSeconds = seconds;
}

PhotoKmlRun CPageTrackLogPhoto::MakeRun(bool batch) const {
    PhotoKmlRun run;
    run.sourcePath = SourcePath();
    run.photoFolder = PhotoFolder();
    run.calibrationSeconds = calibrationSeconds;
    run.batchMode = batch;
    theUtility.GetWriteGpsInPhoto(run.writeGpsInPhoto);
    return run;
}

bool CPageTrackLogPhoto::SourceReadable(const std::string& path, std::string& failure) {
    int error = 0;
    std::FILE* file = OpenSourceStream(path, &error);
    if (!file) {
        failure = FileFailure(path, error);
        return false;
    }
    std::fclose(file);
    return true;
}

bool CPageTrackLogPhoto::WriteUtf16File(AtomicFile& file, const std::string& document, std::string& failure) {
    std::string bytes;
    if (!CStdioFileEx::Utf16FileBytes(document, -1, bytes)) {
        failure = FileFailure(file.TargetPath(), EILSEQ);
        return false;
    }
    errno = 0;
    if (!file.Write(bytes) || !file.Commit()) {
        failure = FileFailure(file.TargetPath(), errno ? errno : EIO);
        return false;
    }
    return true;
}

void CPageTrackLogPhoto::RunTickThread(bool run, bool onUiThread) {
    // On a high-speed link the main window's tick runs while the photos are
    // read; the batch entry's thread hands the call to the UI thread.
    if (!theUtility.highSpeedLink.load()) return;
    if (onUiThread) {
        if (host) host->SetTickThread(run);
    } else {
        PostToUi([this, run] {
            if (host) host->SetTickThread(run);
        });
    }
}

void CPageTrackLogPhoto::ShowListLines(const std::vector<std::string>& lines) {
    photoList.ResetContent();
    photoList.AddStrings(lines);
}

void CPageTrackLogPhoto::ShowRunOnPage(const PhotoKmlResult& result) {
    ShowListLines(result.listLines);
    SetDlgItemText(kSummaryText, result.summary);
}

void CPageTrackLogPhoto::OnButtonConvert() {
    const std::string source = SourcePath();
    if (source.empty()) {
        ReportFailure(res::LoadString(380));
        return;
    }
    if (PhotoFolder().empty()) {
        ReportFailure(res::LoadString(381));
        return;
    }
    BusyScope busy(busy_);
    if (!busy.Taken()) {
        ReportFailure(kBusy);
        return;
    }
    std::string failure;
    if (!SourceReadable(source, failure)) {
        ReportFailure(failure);
        return;
    }
    zone_rule::ApplyZone(zoneHours);

    platform::FileDialogRequest request;
    request.save = true;
    request.defaultExtension = "kml";
    request.fileName = "*.kml";
    request.filter = res::LoadString(111);
    request.hideReadOnly = true;
    request.overwritePrompt = true;
    std::string path;
    if (!platform::Ui().ChooseFile(nullptr, request, path)) return;
    UpdateWindow();
    {
        std::lock_guard lock(textsMutex_);
        outputPath_ = path;
    }
    SetStatusMessage(res::LoadString(360));
    SetDlgItemText(kStatusText, res::LoadString(360));

    // The folder must take the new file before the photos are read; the
    // file is put in place only when the whole document is in it.
    AtomicFile output;
    int error = 0;
    if (!output.Open(path, &error)) {
        ReportFailure(FileFailure(path, error));
        return;
    }
    RunTickThread(true, true);
    const PhotoKmlResult result = writer_->WritePhotoKml(MakeRun(false));
    RunTickThread(false, true);
    ShowRunOnPage(result);
    if (!result.written) {
        ReportFailure(result.failure);
        return;
    }
    if (!WriteUtf16File(output, result.document, failure)) {
        ReportFailure(failure);
        return;
    }
    SetStatusMessage(res::LoadString(361));
    SetDlgItemText(kStatusText, res::LoadString(361));
}

bool CPageTrackLogPhoto::ConvertWithPhotos(const std::string& source, CStdioFileEx* file, const std::string& folder) {
    BusyScope busy(busy_);
    // A run that writes nothing leaves no file behind.
    auto abandonFile = [file] {
        if (file) file->Abandon();
    };
    if (!busy.Taken()) {
        SetStatusMessage(kBusy);
        abandonFile();
        return false;
    }
    {
        std::lock_guard lock(textsMutex_);
        sourcePath_ = source;
        outputFile_ = file;
        photoFolder_ = folder;
    }
    BatchModeScope batch(batchMode);
    zone_rule::ApplyZone(zoneHours);

    std::string failure;
    bool written = false;
    if (!file || !file->IsOpen()) {
        failure = "The photo KML file is not open.";
    } else if (SourceReadable(source, failure)) {
        RunTickThread(true, false);
        const PhotoKmlResult result = writer_->WritePhotoKml(MakeRun(true));
        RunTickThread(false, false);
        // The run's lines (GPS copies not made) replace the list's; the
        // summary is left as it is.
        PostToUi([this, lines = result.listLines] { ShowListLines(lines); });
        failure = result.failure;
        if (result.written) {
            try {
                file->WriteString(result.document);
                file->Close();
                written = !file->ConversionFailed();
                if (!written) failure = FileFailure(file->GetFilePath(), EILSEQ);
            } catch (const CFileException& error) {
                failure = FileFailure(error.fileName, error.osError);
            }
        }
    }
    abandonFile();  // closed already when written
    {
        std::lock_guard lock(textsMutex_);
        outputFile_ = nullptr;
        statusMessage_ = written ? std::string() : failure;
    }
    return written;
}
