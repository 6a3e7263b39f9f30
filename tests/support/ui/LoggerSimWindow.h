// The main window against the simulated track logger on a pseudo-terminal:
// what the logger page's tests share. The logger's remembered values, the
// free record count, the end address and the upload's speed flag start and
// end at zero; `out` is a fresh private folder, removed afterwards. Also a
// scripted answer to a modal dialog the UI thread runs.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>

#include "SimWindow.h"
#include "TempDir.h"
#include "device/PageDeviceSetting.h"
#include "platform/Controls.h"
#include "shell/OrvikUtilityDlg.h"
#include "support/UtilityManager.h"
#include "tracklog/PageMTKTracklogSetting.h"
#include "UiTestUtil.h"
#include "ui/templates/Template102.h"
#include "ui/templates/Template133.h"
#include "ui/templates/Template143.h"

namespace testsupport {

// Runs `act` once on the first modal dialog of type D that comes up while
// the returned timer lives.
template <class D>
std::unique_ptr<QTimer> AnswerModal(std::function<void(D&)> act) {
    auto timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout, [t = timer.get(), act] {
        auto* widget = qobject_cast<platform::DialogWidget*>(QApplication::activeModalWidget());
        if (auto* dlg = widget ? dynamic_cast<D*>(widget->Owner()) : nullptr) {
            t->stop();
            act(*dlg);
        }
    });
    timer->start(5);
    return timer;
}

class LoggerSimWindow : public SimWindow {
public:
    using Change = std::function<void(sim::DeviceProfile&)>;

    explicit LoggerSimWindow(unsigned speed) : SimWindow(speed) { ResetUtility(); }
    ~LoggerSimWindow() { ResetUtility(); }

    // An L-731 (erases take 0.2 s, then `change`) and the window, no port linked.
    void StartUnlinked(const Change& change = {}) {
        ASSERT_TRUE(StartDevice("L-731"));
        state->Update([&](sim::DeviceProfile& p) {
            p.eraseDelayMs = 200;
            if (change) change(p);
        });
        StartWindow();
        logger = window->LoggerPage();
    }
    // The same, linked the way the update page links it; the transcript
    // starts after the link.
    void ConnectLogger(const Change& change = {}) {
        ASSERT_NO_FATAL_FAILURE(StartUnlinked(change));
        page->SendCommand(dialog133::kAutoDetect);
        page->notConnected = 1;
        page->ToggleConnection();
        window->SetTickThread(false);
        ASSERT_TRUE(page->IsPortOpen());
        device->ClearTranscript();
    }

    // Upload, to its end; `during` is polled while it runs.
    void RunUpload(const std::function<void()>& during = [] {}) {
        logger->SendCommand(dialog143::kUpload);
        ASSERT_TRUE(WaitUntil(
            [&] {
                during();
                return !logger->IsWorkerRunning();
            },
            std::chrono::seconds(90)));
        QApplication::processEvents();
    }
    // What the upload and Clear lock is unlocked, the speed flag down.
    void ExpectUnlocked() const {
        EXPECT_EQ(theUtility.highSpeedLink, 0);
        for (int id : {dialog143::kUpload, dialog143::kClear}) EXPECT_TRUE(logger->IsDlgItemEnabled(id)) << id;
        for (int id : {dialog102::kOk, dialog102::kApplyAll}) EXPECT_TRUE(window->IsDlgItemEnabled(id)) << id;
        EXPECT_TRUE(page->IsDlgItemEnabled(dialog133::kConnect));
        EXPECT_FALSE(logger->IsTimerRunning(CPageMTKTracklogSetting::watchdogTimerId));
    }

    // Sentences whose body starts with a key get its replies; the logger
    // answers the rest itself.
    void Answer(std::map<std::string, sim::Replies> byPrefix) {
        device->SetBehaviour("PMTK182", [live = state, byPrefix](const sim::Sentence& s, sim::SimContext&) {
            for (const auto& [prefix, replies] : byPrefix) {
                if (s.body.rfind(prefix, 0) == 0) return replies;
            }
            return live->Answer(s);
        });
    }
    // Bodies the logger received that start with `prefix`, in order.
    std::vector<std::string> Sent(const std::string& prefix = "") const {
        std::vector<std::string> bodies;
        for (const auto& s : device->Received()) {
            if (s.body.rfind(prefix, 0) == 0) bodies.push_back(s.body);
        }
        return bodies;
    }
    long SentCount(const std::string& body) const {
        const auto bodies = Sent();
        return std::count(bodies.begin(), bodies.end(), body);
    }

    TempDir temp;
    const std::filesystem::path& out = temp.path;
    CPageMTKTracklogSetting* logger = nullptr;

private:
    static void ResetUtility() {
        theUtility.logIntervalSent = 0;
        theUtility.logDistanceSent = 0;
        theUtility.recordModeSent = 0;
        theUtility.freeRecordCount = 0;
        theUtility.logEndAddress = 0;
        theUtility.highSpeedLink = 0;
    }
};

}  // namespace testsupport
