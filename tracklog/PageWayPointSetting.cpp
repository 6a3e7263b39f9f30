#include "tracklog/PageWayPointSetting.h"

#include "device/SerialLink.h"
#include "platform/Ui.h"
#include "support/UtilityManager.h"
#include "tracklog/WaypointDownload.h"
#include "ui/StringTable.h"
#include "ui/templates/Template134.h"

using namespace dialog134;

namespace {
// What a screen reader calls the status line while it shows nothing, and
// the progress bar, which shows no text.
constexpr const char* kStatusName = "Download Status Message";
constexpr const char* kProgressName = "Download progress";
}  // namespace

CPageWayPointSetting::CPageWayPointSetting() : CPage(res::Template134()) {
    OnNotify(kDownload, platform::notify::kClicked, [this] { OnButtonDownload(); });
}

CPageWayPointSetting::~CPageWayPointSetting() {
    // The window never closes while the worker runs; should the page go
    // anyway, the transfer ends at its next wait and the worker is waited for.
    if (engine_) engine_->RequestStop();
    JoinWorker();
}

void CPageWayPointSetting::JoinWorker() {
    if (worker_.joinable()) worker_.join();
}

bool CPageWayPointSetting::OnInitDialog() {
    CPage::OnInitDialog();
    SetDlgItemText(kName, waypoint::kDefaultFileName);
    SetDlgItemText(kVersion, waypoint::kDefaultFileVersion);
    SetDlgItemText(kDate, waypoint::kDefaultFileDate);
    SetProgressRange(kProgress, 0, 100);
    SetProgressPos(kProgress, 0);
    SetDlgItemAccessibleName(kProgress, kProgressName);
    SetDlgItemText(kPercent, "0%");
    SetStatusText("");
    return true;
}

void CPageWayPointSetting::SetStatusText(const std::string& text) {
    SetDlgItemText(kStatus, text);
    // An empty accessible name lets the reader take the text itself.
    SetDlgItemAccessibleName(kStatus, text.empty() ? kStatusName : "");
}

void CPageWayPointSetting::OnButtonDownload() {
    if (downloading_) {
        return;  // the running transfer goes on alone
    }
    SerialLink* port = host ? host->DevicePort() : nullptr;
    if (!port) {
        return;
    }
    platform::FileDialogRequest request;
    request.defaultExtension = "mpt";
    request.fileName = "*.mpt";
    request.filter = res::LoadString(102);
    request.hideReadOnly = true;
    request.overwritePrompt = true;
    std::string path;
    if (!platform::Ui().ChooseFile(this, request, path)) {
        return;
    }

    const waypoint::WaypointFileInfo info = waypoint::ReadWaypointFileInfo(path);
    const std::size_t slash = path.find_last_of('/');
    fileName = slash == std::string::npos ? path : path.substr(slash + 1);
    SetDlgItemText(kName, fileName);
    SetDlgItemText(kVersion, info.version);
    SetDlgItemText(kDate, info.date);
    SetProgressPos(kProgress, 0);
    SetDlgItemText(kPercent, "0%");

    JoinWorker();  // the last worker has ended; its thread is taken back
    if (!engine_) {
        engine_ = std::make_unique<BlockTransfer>(*port, BlockTransfer::WaypointDownload());
    }
    theUtility.sendPmtkFirst = 1;
    downloading_ = true;
    worker_ = std::thread([this, path] { SelectAndDownloadFile(path); });
}

void CPageWayPointSetting::SelectAndDownloadFile(const std::string& path) {
    BlockTransferCallbacks callbacks;
    callbacks.status = [this](const std::string& text) { PostToUi([this, text] { SetStatusText(text); }); };
    callbacks.progress = [this](int percent, const std::string& label) {
        PostToUi([this, percent, label] {
            SetProgressPos(kProgress, percent);
            SetDlgItemText(kPercent, label);
        });
    };
    const BlockTransferResult result = waypoint::DownloadWaypointFile(*engine_, path, callbacks);
    if (!result.ok() && result.status != BlockTransferStatus::kStopped) {
        // Shown on the UI thread; the worker does not wait for the box.
        const unsigned type = result.stopIcon ? platform::mb::kIconStop : platform::mb::kOk;
        PostToUi([this, text = result.text, type] {
            platform::Ui().MessageBox(this, text, res::LoadString(300), type);
        });
    }
    downloading_ = false;
}
