// The UI thread's message pump and the hand-off of work to it.
#pragma once

#include <functional>

namespace platform {

// Dispatches every queued event of the UI thread until the queue is empty.
void PumpMessages();
// True on the thread that runs the user interface.
bool IsUiThread();
// Runs fn on the UI thread (at once when already there, else queued).
void RunOnUiThread(std::function<void()> fn);

}  // namespace platform
