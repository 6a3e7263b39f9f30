// The logger settings page. Its object is also the program's device command
// engine: every page sends its sentences through it.
#pragma once

#include <atomic>

#include "device/CommandEngine.h"
#include "tracklog/LogDecoder.h"
#include "ui/Page.h"

class CPageMTKTracklogSetting : public CPage, public CommandEngine {
public:
    // The main window links the engine to the update page's port when it
    // creates the pages.
    CPageMTKTracklogSetting();

    // Flags of the log upload: end its receive loop; a block timed out.
    std::atomic<int> stopReceive{0};
    std::atomic<int> blockTimedOut{0};

    // The log memory decoder of the upload and its .trl files.
    LogDecoder logDecoder;
};
