// The recorded sessions of tests/data/sessions/: each file is played against
// the main window, its update page and the program's serial port, with the
// file standing in for the device. What the program sends, what it reads and
// the page's final texts must come out exactly as written in the file.
//
// With PELLORA_RECORD_SESSIONS=1 the files are recorded instead: the device
// simulator plays the device the header describes, on a pseudo-terminal, and
// every file is rewritten from what went over the line (its comment lines
// and header stay). A recording is reviewed by eye before it is checked in.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPixmap>
#include <QWidget>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "DeviceScript.h"
#include "PtyTestEnv.h"
#include "SessionScript.h"
#include "UiTestUtil.h"
#include "device/PageDeviceSetting.h"
#include "device/PageDownloadFW.h"
#include "platform/Clock.h"
#include "flashlib/FlashFiles.h"
#include "platform/Ui.h"
#include "shell/OrvikUtilityDlg.h"
#include "sim/Behaviours.h"
#include "sim/DeviceSimulator.h"
#include "sim/FlashTarget.h"
#include "sim/SerialUpdateTarget.h"
#include "support/UtilityManager.h"

namespace fs = std::filesystem;
namespace session = testsupport::session;
using namespace std::chrono_literals;

namespace {

// The page's controls whose final texts a session keeps: status, model,
// firmware, hardware, file verdict, update state, percentage, warning line.
const int kTextControls[] = {1003, 1011, 1013, 1199, 1228, 1233, 1234, 1237};
const int kProgressBar = 1093;
// The steps' controls of the page, the main window's buttons and its banner.
const int kPageSteps[] = {1005, 1116, 1002, 1192, 1239, 1224};
const int kWindowButtons[] = {1, 2, 1001, 1002, 1095};
const int kBanner = 1046;
const int kFirmwareDownload = 1006;
const int kPortCombo = 1116;

struct SessionCase {
    std::string path;
    std::string name;
};

void PrintTo(const SessionCase& c, std::ostream* out) { *out << c.name; }

std::vector<SessionCase> FindSessions() {
    std::vector<SessionCase> cases;
    const fs::path dir = fs::path(PELLORA_TEST_DATA_DIR) / "sessions";
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        if (entry.path().extension() != ".session") continue;
        std::string name;
        for (char c : entry.path().stem().string()) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        cases.push_back({entry.path().string(), name});
    }
    std::sort(cases.begin(), cases.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    return cases;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// What the simulator plays: the line faults, and those of the flash and
// serial-update targets.
struct DeviceFaults {
    sim::FaultOptions line;
    sim::FlashTargetOptions flash;
    sim::SerialUpdateOptions update;
};

// "wrong-checksum, split=2/100, echo, delay=50, noise, noise=\x00$, flash-silent,
// flash-refuse-block=1, flash-bad-end-crc, refuse-key=0, refuse-chunk=1" or
// "none".
bool ParseFaults(const std::string& text, DeviceFaults& faults) {
    std::istringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) {
        item.erase(0, item.find_first_not_of(' '));
        const auto eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        const int number = std::atoi(value.c_str());
        if (key == "none" || key.empty()) continue;
        if (key == "wrong-checksum") {
            faults.line.wrongChecksum = true;
        } else if (key == "echo") {
            faults.line.echo = true;
        } else if (key == "silent") {
            faults.line.silent = true;
        } else if (key == "split") {  // "split=N" or "split=N/MS" (the pause between pieces)
            faults.line.splitParts = number;
            if (const auto slash = value.find('/'); slash != std::string::npos) {
                faults.line.splitPauseMs = std::atoi(value.c_str() + slash + 1);
            }
        } else if (key == "delay") {
            faults.line.delayMs = number;
        } else if (key == "noise") {
            faults.line.lineNoise = true;
            if (!session::Unescape(value, faults.line.noiseBytes)) return false;
        } else if (key == "flash-silent") {
            faults.flash.silent = true;
        } else if (key == "flash-refuse-block") {
            faults.flash.refuseImageBlock = number;
        } else if (key == "flash-bad-end-crc") {
            faults.flash.corruptEndCrc = true;
        } else if (key == "refuse-key") {
            faults.update = {.refuseKey = true, .keyRefusalValue = number};
        } else if (key == "refuse-chunk") {
            faults.update = {.refuseChunk = number, .refuseChunkTimes = 9};
        } else {
            return false;
        }
    }
    return true;
}

class SessionRunner : public ::testing::TestWithParam<SessionCase> {
protected:
    void TearDown() override {
        window.reset();
        backendScope.reset();
        clockScope.reset();
        if (device) device->Stop();
        SerialLink::SetDefaultPortLister(nullptr);
        portLinked = 0;
        theUtility.modelType = 0;
        for (const auto& folder : folders) fs::remove_all(folder);
    }

    // Runs the steps of the header; the wire goes to `log`.
    void Play(const session::SessionFile& file, bool record);
    void StartDevice(const session::SessionFile& file);
    std::vector<std::string> FinalTexts() const;

    platform::ScriptedUi ui;
    platform::ScopedUi uiScope{ui};
    // Recording: the simulator, at a pace a real device keeps up with.
    // Playing: the file answers at once, on virtual time.
    platform::FakeClock fakeClock;
    platform::ScaledClock scaledClock{4};
    std::optional<platform::ScopedClock> clockScope;
    session::WireLog log;
    std::optional<session::TapBackend> tap;
    std::optional<session::PlaybackBackend> playback;
    std::optional<platform::ScopedSerialBackend> backendScope;
    std::optional<testsupport::PtyPortDir> portDir;
    std::unique_ptr<sim::DeviceSimulator> device;
    std::unique_ptr<sim::FlashTarget> flashTarget;
    std::shared_ptr<sim::SerialUpdateTarget> serialTarget;
    std::unique_ptr<COrvikUtilityDlg> window;
    CPageDeviceSetting* page = nullptr;
    std::vector<std::string> folders;
    testsupport::TraceCapture traces;
    std::string autoDetectText;
};

void SessionRunner::StartDevice(const session::SessionFile& file) {
    portDir.emplace();
    sim::SimOptions options;
    options.port = file.Value("port");
    options.portDir = portDir->Path();
    options.model = file.Value("model");
    DeviceFaults faults;
    ASSERT_TRUE(ParseFaults(file.Value("faults"), faults)) << file.Value("faults");
    options.faults = faults.line;
    device = std::make_unique<sim::DeviceSimulator>(options);
    sim::DeviceProfile profile = sim::ProfileForModel(file.Value("model"));
    if (!file.Value("firmware").empty()) profile.firmware = file.Value("firmware");
    if (!file.Value("hardware").empty()) profile.hardware = file.Value("hardware");
    sim::InstallDevice(*device, profile);
    if (file.Value("steps").find("execute") != std::string::npos) {
        flashTarget = std::make_unique<sim::FlashTarget>(*device, faults.flash);
        if (profile.modelName == "TK517") serialTarget = sim::InstallSerialUpdateTarget(*device, faults.update);
    }
    std::string error;
    ASSERT_TRUE(device->Start(&error)) << error;
}

void SessionRunner::Play(const session::SessionFile& file, bool record) {
    // The device's bridge is the one port of the machine.
    const std::string port = file.Value("port");
    SerialLink::SetDefaultPortLister([port](std::vector<ComPortInfo>& out, bool) {
        ComPortInfo info;
        info.portName = port;
        info.friendlyName = "CP210x USB to UART Bridge Controller (" + port + ")";
        info.description = "CP210x USB to UART Bridge Controller";
        info.isUsbDevice = 1;
        out = {info};
    });
    clockScope.emplace(record ? static_cast<platform::Clock&>(scaledClock) : fakeClock);
    if (record) {
        StartDevice(file);
        if (HasFatalFailure()) return;
        tap.emplace(platform::GetSerialBackend(), log);
        backendScope.emplace(*tap);
    } else {
        playback.emplace(file.wire, log);
        backendScope.emplace(*playback);
    }

    window = std::make_unique<COrvikUtilityDlg>();
    ASSERT_TRUE(window->Create(static_cast<QWidget*>(nullptr)));
    window->ShowWindow(true);
    page = window->DevicePage();
    const std::string steps = file.Value("steps");
    if (steps.find("execute") != std::string::npos) {
        folders = {testsupport::MakeTempFolder("pellora-session"), testsupport::MakeTempFolder("pellora-program")};
        ASSERT_TRUE(platform::flashfiles::WriteFlashFiles(folders[1], false, nullptr, nullptr));
        page->Flash().SetProgramFolder(folders[1]);
    }
    page->SendCommand(1005);  // Auto Detect
    autoDetectText = page->GetDlgItemText(1003);
    page->SendCommand(1002);  // Connect
    window->SetTickThread(false);
    if (steps.find("execute") == std::string::npos) return;

    // "update-file: TK517 V3.10 V04" (product, version, hardware versions),
    // "payload: 300 bytes, seed 9".
    testsupport::ZepHeader header;
    std::istringstream words(file.Value("update-file"));
    header.hardware.clear();
    words >> header.product >> header.version;
    for (std::string hw; words >> hw;) header.hardware.push_back(hw);
    std::size_t size = 0;
    unsigned seed = 0;
    ASSERT_EQ(std::sscanf(file.Value("payload").c_str(), "%zu bytes, seed %u", &size, &seed), 2);
    const std::vector<std::uint8_t> payload = testsupport::SamplePayload(size, seed);
    ui.QueueFileAnswer(testsupport::WriteZep(folders[0], "update_QVR.zep", header, payload));
    page->SendCommand(1192);  // Select File
    if (!page->IsDlgItemEnabled(1224)) return;
    platform::ScaledClock fast(10);
    platform::ScopedClock fastScope(record ? static_cast<platform::Clock&>(fast) : fakeClock);
    page->SendCommand(1224);  // Execute
    ASSERT_TRUE(testsupport::WaitUntil([this] { return !page->IsWorkerRunning(); }, 120s));
    page->JoinWorker();
    QApplication::processEvents();
    // A recording of a finished update holds what the device stored: the
    // payload of the update file, byte for byte.
    if (record && flashTarget->Completed()) {
        EXPECT_EQ(flashTarget->StoredImage(), payload);
    }
    if (record && serialTarget && serialTarget->Complete()) {
        EXPECT_EQ(serialTarget->Payload(), payload);
    }
}

std::vector<std::string> SessionRunner::FinalTexts() const {
    std::vector<std::string> texts;
    // The update state texts in the order shown, repeats of one text once.
    std::string states = "= states:";
    int last = 0;
    for (const auto& line : traces.Lines()) {
        int id = 0;
        if (std::sscanf(line.c_str(), "Update state %d", &id) == 1 && id != last) states += " " + std::to_string(id);
        if (id != 0) last = id;
    }
    texts.push_back("= 1003 after Auto Detect " + session::Escape(autoDetectText, true));
    texts.push_back(states);
    texts.push_back("= port combo " + page->GetItemText(kPortCombo, page->GetCurSel(kPortCombo)));
    texts.push_back("= connection picture " + std::to_string(page->ConnectionPicture()));
    for (int id : kTextControls) {
        texts.push_back("= " + std::to_string(id) + " " + session::Escape(page->GetDlgItemText(id), true));
    }
    texts.push_back("= " + std::to_string(kProgressBar) + " " + std::to_string(page->GetProgressPos(kProgressBar)));
    std::string enabled = "= page enabled:";
    for (int id : kPageSteps) {
        if (page->IsDlgItemEnabled(id)) enabled += " " + std::to_string(id);
    }
    texts.push_back(enabled);
    enabled = "= window enabled:";
    for (int id : kWindowButtons) {
        if (window->IsDlgItemEnabled(id)) enabled += " " + std::to_string(id);
    }
    texts.push_back(enabled);
    texts.push_back("= banner " + std::to_string(window->GetDlgItemBitmap(kBanner)));
    texts.push_back(std::string("= tab 0 ") + (window->tabControl.IsItemEnabled(0) ? "enabled" : "disabled"));
    texts.push_back(std::string("= firmware page download ") +
                    (window->FirmwarePage()->IsDlgItemEnabled(kFirmwareDownload) ? "enabled" : "disabled"));
    texts.push_back("= model code " + std::to_string(theUtility.modelType));
    if (!folders.empty()) {
        const bool kept = fs::exists(fs::path(folders[0]) / "Orvik_FW_Temp.bin");
        texts.push_back(std::string("= Orvik_FW_Temp.bin ") + (kept ? "kept" : "deleted"));
    }
    for (const auto& text : ui.MessageTexts()) texts.push_back("= box " + session::Escape(text, true));
    return texts;
}

// The first line where two texts differ, with its neighbours.
std::string FirstDifference(const std::string& want, const std::string& got) {
    std::istringstream a(want), b(got);
    std::string la, lb;
    for (int line = 1;; ++line) {
        const bool moreA = static_cast<bool>(std::getline(a, la));
        const bool moreB = static_cast<bool>(std::getline(b, lb));
        if (!moreA && !moreB) return "no difference";
        if (!moreA || !moreB || la != lb) {
            return "line " + std::to_string(line) + "\n  file:    " + (moreA ? la : "(end)") +
                   "\n  program: " + (moreB ? lb : "(end)");
        }
    }
}

}  // namespace

TEST_P(SessionRunner, PlaysAsRecorded) {
    const std::string text = ReadText(GetParam().path);
    session::SessionFile file;
    std::string error;
    ASSERT_TRUE(session::ParseSessionFile(text, file, &error)) << error;
    const char* recordEnv = std::getenv("PELLORA_RECORD_SESSIONS");
    const bool record = recordEnv && std::string(recordEnv) == "1";

    Play(file, record);
    if (HasFatalFailure()) return;
    session::SessionFile result = file;
    result.wire = log.Lines();
    result.texts = FinalTexts();
    QApplication::processEvents();
    window->GetWidget()->grab().save(
        QString::fromStdString(testsupport::ArtifactDir() + "/session_" + GetParam().name + ".png"));
    const std::string got = session::RenderSessionFile(result);
    if (record) {
        if (!HasFailure()) std::ofstream(GetParam().path, std::ios::binary) << got;
        return;
    }
    EXPECT_TRUE(got == text) << "The program's session differs from " << GetParam().path << " at "
                         << FirstDifference(text, got);
}

INSTANTIATE_TEST_SUITE_P(Sessions, SessionRunner, ::testing::ValuesIn(FindSessions()),
                         [](const ::testing::TestParamInfo<SessionCase>& info) { return info.param.name; });
