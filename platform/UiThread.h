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

#include "platform/Clock.h"

namespace platform {

// A clock that keeps the window alive: a sleep on the UI thread dispatches
// pending events while it waits; sleeps on other threads are the inner
// clock's own. Install it (ScopedClock) around long polls on the UI thread.
class PumpingClock final : public Clock {
public:
    explicit PumpingClock(Clock& inner) : inner_(inner) {}
    std::uint64_t NowMs() override { return inner_.NowMs(); }
    void SleepMs(std::uint32_t ms) override;

private:
    Clock& inner_;
};

}  // namespace platform
