// What tests of the pages with a worker thread share: a private folder that
// goes with everything in it, and a page's commands run with a file chosen in
// the next file dialog, up to the worker's end.
#pragma once

#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <string>

#include "DeviceScript.h"
#include "UiTestUtil.h"
#include "platform/Ui.h"
#include "platform/UiThread.h"

namespace testsupport {

struct TempFolder {
    explicit TempFolder(const std::string& prefix) : path(MakeTempFolder(prefix)) {}
    ~TempFolder() { std::filesystem::remove_all(path); }
    std::string operator/(const std::string& name) const { return path + "/" + name; }
    const std::string path;
};

// Waits (a minute at most) for the page's worker to end, joins it and takes
// on the UI thread all it handed over. False when it never ended.
template <class Page>
bool FinishWorker(Page& page) {
    if (!WaitUntil([&] { return !page.IsWorkerRunning(); }, std::chrono::minutes(1))) return false;
    page.JoinWorker();
    platform::PumpMessages();
    return true;
}

// Queues `file` as the next file dialog's answer, sends `commands` to the
// page and, with `wait`, finishes its worker.
template <class Page>
bool RunWithFile(Page& page, platform::ScriptedUi& ui, const std::string& file, std::initializer_list<int> commands,
                 bool wait = true) {
    ui.QueueFileAnswer(file);
    for (int id : commands) page.SendCommand(id);
    return !wait || FinishWorker(page);
}

}  // namespace testsupport
