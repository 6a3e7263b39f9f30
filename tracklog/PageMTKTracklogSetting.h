// The logger settings page. Its object is also the program's device command
// engine: every page sends its sentences through it.
#pragma once

#include <atomic>

#include "device/CommandEngine.h"
#include "shell/Page.h"
#include "tracklog/LogDecoder.h"

class CPageMTKTracklogSetting : public CPage, public CommandEngine {
public:
    CPageMTKTracklogSetting();

    bool OnInitDialog() override;

    // Flags of the log upload: end its receive loop; a block timed out.
    std::atomic<int> stopReceive{0};
    std::atomic<int> blockTimedOut{0};

    // The log memory decoder of the upload and its .trl files.
    LogDecoder logDecoder;
};
