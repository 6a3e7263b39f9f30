#include "tracklog/StepByStepDlg.h"

#include <QWidget>
#include <chrono>
#include <future>
#include <memory>

#include "platform/Ui.h"
#include "platform/UiThread.h"
#include "support/UtilityManager.h"
#include "ui/StringTable.h"
#include "ui/templates/Template144.h"

using namespace dialog144;

namespace {

// A caption from the string table; a control whose string is missing keeps
// the text it has.
void LoadCaption(platform::Dialog& dialog, int control, int stringId) {
    if (res::HasString(stringId)) dialog.SetDlgItemText(control, res::LoadString(stringId));
}

// Asked when OK finds no track-log folder and the string table has no text.
constexpr const char* kNoFolderText = "Please select the track log file directory.";

}  // namespace

CStepByStepDlg::CStepByStepDlg() : Dialog(res::Template144()) {
    OnNotify(kBrowseText, platform::notify::kClicked, [this] { OnButtonBrowseText(); });
    OnNotify(kBrowseKml, platform::notify::kClicked, [this] { OnButtonBrowseKml(); });
    OnNotify(kBrowsePhoto, platform::notify::kClicked, [this] { OnButtonBrowsePhotoFolder(); });
    OnNotify(kBrowseTrackLog, platform::notify::kClicked, [this] { OnButtonBrowseTrackLogFolder(); });
    OnNotify(kCombineJpg, platform::notify::kClicked, [this] { OnCheckCombineJpg(); });
    OnNotify(kTextFile, platform::notify::kClicked, [this] { OnCheckTextFile(); });
    OnNotify(kKmlFile, platform::notify::kClicked, [this] { OnCheckKmlFile(); });
    OnNotify(kWriteTotal, platform::notify::kClicked, [this] { OnCheckWriteTotal(); });
}

bool CStepByStepDlg::OnInitDialog() {
    Dialog::OnInitDialog();
    EnableDialogTheme(GetWidget());
    LoadCaptions();
    Reset();
    return true;
}

void CStepByStepDlg::LoadCaptions() {
    SetWindowText(res::HasString(347) ? res::LoadString(347) : "Transform to File");
    LoadCaption(*this, kPrompt, 348);
    LoadCaption(*this, kTrackLogLabel, 349);
    LoadCaption(*this, kCombineJpg, 350);
    LoadCaption(*this, kWriteTotal, 351);
    SetDlgItemText(kOk, res::LoadString(301));
    SetDlgItemText(kCancel, res::LoadString(302));
    // The choosers show "..." only; a screen reader hears what they choose.
    SetDlgItemAccessibleName(kBrowseTrackLog, GetDlgItemText(kTrackLogLabel));
    SetDlgItemAccessibleName(kBrowsePhoto, GetDlgItemText(kCombineJpg));
    SetDlgItemAccessibleName(kTrackLogFolder, GetDlgItemText(kTrackLogLabel));
    SetDlgItemAccessibleName(kPhotoFolder, GetDlgItemText(kCombineJpg));
    SetDlgItemAccessibleName(kBrowseText, GetDlgItemText(kTextFile));
    SetDlgItemAccessibleName(kBrowseKml, GetDlgItemText(kKmlFile));
}

void CStepByStepDlg::ShowPath(int id, const std::string& path) {
    SetDlgItemText(id, path);
    if (QWidget* w = GetDlgItem(id)) w->setToolTip(QString::fromStdString(path));
}

void CStepByStepDlg::OnButtonBrowseTrackLogFolder() {
    trackLogDirectoryChosen = 0;
    std::string folder;
    if (!platform::Ui().BrowseFolder(this, "", folder)) return;
    if (!folder.empty()) trackLogDirectoryChosen = 1;
    trackLogDirectory = folder;
    ShowPath(kTrackLogFolder, trackLogDirectory);
}

void CStepByStepDlg::OnButtonBrowsePhotoFolder() {
    combinePhoto = 0;
    if (!IsDlgButtonChecked(kCombineJpg)) return;
    std::string folder;
    if (!platform::Ui().BrowseFolder(this, "", folder)) return;
    if (!folder.empty()) combinePhoto = 1;
    photoDirectory = folder;
    ShowPath(kPhotoFolder, photoDirectory);
}

void CStepByStepDlg::OnButtonBrowseText() {
    textFileHandle = 0;
    textFileStream = nullptr;
    if (!IsDlgButtonChecked(kTextFile)) return;
    platform::FileDialogRequest request;
    request.save = true;
    request.defaultExtension = "txt";
    request.fileName = "*.txt";
    request.filter = res::LoadString(110);
    request.hideReadOnly = true;
    request.overwritePrompt = true;
    std::string path;
    if (platform::Ui().ChooseFile(this, request, path)) {
        textFilePath = path;
        ShowPath(kTextPath, textFilePath);
    }
}

void CStepByStepDlg::OnButtonBrowseKml() {
    kmlFileHandle = 0;
    kmlFileStream = nullptr;
    if (!IsDlgButtonChecked(kKmlFile)) return;
    platform::FileDialogRequest request;
    request.save = true;
    request.defaultExtension = "kml";
    request.fileName = "*.kml";
    request.filter = res::LoadString(111);
    request.hideReadOnly = true;
    request.overwritePrompt = true;
    std::string path;
    if (platform::Ui().ChooseFile(this, request, path)) {
        kmlFilePath = path;
        ShowPath(kKmlPath, kmlFilePath);
    }
}

void CStepByStepDlg::OnCheckTextFile() {
    if (IsDlgButtonChecked(kTextFile)) return;
    textFilePath.clear();
    ShowPath(kTextPath, "");
    CheckDlgButton(kTextFile, false);
}

void CStepByStepDlg::OnCheckKmlFile() {
    if (IsDlgButtonChecked(kKmlFile)) return;
    kmlFilePath.clear();
    ShowPath(kKmlPath, "");
    CheckDlgButton(kKmlFile, false);
}

void CStepByStepDlg::OnCheckCombineJpg() {
    if (!IsDlgButtonChecked(kCombineJpg) && combinePhoto) {
        combinePhoto = 0;
        photoDirectory.clear();
        ShowPath(kPhotoFolder, "");
    }
}

void CStepByStepDlg::OnCheckWriteTotal() { writeTotalTrackLog = IsDlgButtonChecked(kWriteTotal) ? 1 : 0; }

void CStepByStepDlg::OnOK() {
    if (trackLogDirectoryChosen == 0) {
        const std::string text = res::HasString(391) ? res::LoadString(391) : kNoFolderText;
        platform::Ui().MessageBox(this, text, res::LoadString(300), platform::mb::kIconStop);
        return;
    }
    OpenOutputs(IsDlgButtonChecked(kTextFile), IsDlgButtonChecked(kKmlFile));
    EndDialog(platform::kIdOk);
}

int CStepByStepDlg::ShowFromWorker(TransformChoices& choices, const std::atomic<bool>* abandon) {
    // The window belongs to the UI thread: it is made, run and destroyed
    // there, and the choices come back through this shared state.
    struct Shared {
        std::promise<int> answer;
        TransformChoices choices;
    };
    auto shared = std::make_shared<Shared>();
    auto run = [shared] {
        CStepByStepDlg dialog;
        const int result = dialog.DoModal(nullptr);
        if (result == platform::kIdOk) shared->choices = std::move(static_cast<TransformChoices&>(dialog));
        shared->answer.set_value(result);
    };
    std::future<int> result = shared->answer.get_future();
    if (platform::IsUiThread()) {
        run();
    } else {
        platform::RunOnUiThread(run);
        while (result.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
            if (abandon && abandon->load()) return platform::kIdCancel;
        }
    }
    const int answer = result.get();
    if (answer == platform::kIdOk) choices = std::move(shared->choices);
    return answer;
}
