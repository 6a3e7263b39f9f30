// Helpers for tests of windows: trace capture, waiting with the event loop
// running, and saving what a window shows.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Trace.h"

namespace testsupport {

// Collects the program's debug traces while it lives.
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    std::vector<std::string> Lines() const;
    int Count(const std::string& text) const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    platform::TraceSink previous_;
};

// Runs the UI event loop until the condition holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);

// Folder for files the tests leave for people to look at.
std::string ArtifactDir();

}  // namespace testsupport
