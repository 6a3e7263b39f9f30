#include "platform/Clock.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace platform {
namespace {
RealClock g_real;
std::atomic<Clock*> g_clock{&g_real};
std::mutex g_fakeMutex;
}  // namespace

Clock& GetClock() { return *g_clock.load(std::memory_order_acquire); }

Clock* SetClock(Clock* clock) {
    Clock* previous = g_clock.exchange(clock ? clock : &g_real, std::memory_order_acq_rel);
    return previous == &g_real ? nullptr : previous;
}

std::uint64_t RealClock::NowMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void RealClock::SleepMs(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

namespace {
std::uint64_t SteadyMicroseconds() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}
}  // namespace

ScaledClock::ScaledClock(unsigned factor) : factor_(factor ? factor : 1), startUs_(SteadyMicroseconds()) {}

std::uint64_t ScaledClock::NowMs() { return (SteadyMicroseconds() - startUs_) * factor_ / 1000; }

void ScaledClock::SleepMs(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<std::uint64_t>(ms) * 1000 / factor_));
}

std::uint64_t FakeClock::NowMs() {
    std::lock_guard lock(g_fakeMutex);
    return now_;
}

void FakeClock::SleepMs(std::uint32_t ms) {
    {
        std::lock_guard lock(g_fakeMutex);
        now_ += ms;
        slept_ += ms;
        ++count_;
    }
    // Let other threads run, as a real sleep would.
    std::this_thread::yield();
}

std::uint64_t FakeClock::TotalSleptMs() const {
    std::lock_guard lock(g_fakeMutex);
    return slept_;
}

unsigned FakeClock::SleepCount() const {
    std::lock_guard lock(g_fakeMutex);
    return count_;
}

void FakeClock::Advance(std::uint64_t ms) {
    std::lock_guard lock(g_fakeMutex);
    now_ += ms;
}

}  // namespace platform
