// The firmware download page: a second front end for the flash download.
// The main window uses it for its busy flag.
#pragma once

#include <atomic>

#include "ui/Page.h"

class CPageDownloadFW : public CPage {
public:
    CPageDownloadFW();
    ~CPageDownloadFW() override;

    bool OnInitDialog() override;
    // This page does not take page commands.
    platform::LResult OnMessage(unsigned, platform::WParam, platform::LParam) override { return 0; }
    bool IsWorkerRunning() const override { return downloadBusy.load() != 0; }

    // 1 from the start of a download until its worker ends.
    std::atomic<int> downloadBusy{0};
};
