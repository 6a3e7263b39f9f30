// Injectable time source and sleeper. Production code sleeps for real;
// tests install a fake that advances a virtual clock instead.
#pragma once

#include <cstdint>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic milliseconds.
    virtual std::uint64_t NowMs() = 0;
    virtual void SleepMs(std::uint32_t ms) = 0;
};

// The clock in force for the whole process.
Clock& GetClock();
// Installs another clock; nullptr restores the real one. Returns the previous.
Clock* SetClock(Clock* clock);

inline void Sleep(std::uint32_t ms) { GetClock().SleepMs(ms); }
inline std::uint64_t NowMs() { return GetClock().NowMs(); }

class RealClock final : public Clock {
public:
    std::uint64_t NowMs() override;
    void SleepMs(std::uint32_t ms) override;
};

// Virtual time: SleepMs returns at once and advances the clock. Thread-safe.
class FakeClock final : public Clock {
public:
    std::uint64_t NowMs() override;
    void SleepMs(std::uint32_t ms) override;
    std::uint64_t TotalSleptMs() const;
    unsigned SleepCount() const;
    void Advance(std::uint64_t ms);

private:
    mutable std::uint64_t now_ = 0;
    mutable std::uint64_t slept_ = 0;
    mutable unsigned count_ = 0;
};

// Real time run faster: every sleep takes 1/factor of its length, and the
// clock reads real elapsed time times factor. Waits keep their proportions
// against a real device while a test runs factor times faster.
class ScaledClock final : public Clock {
public:
    explicit ScaledClock(unsigned factor);
    std::uint64_t NowMs() override;
    void SleepMs(std::uint32_t ms) override;

private:
    unsigned factor_;
    std::uint64_t startUs_;
};

// Installs a clock for the lifetime of the guard.
class ScopedClock {
public:
    explicit ScopedClock(Clock& c) : previous_(SetClock(&c)) {}
    ~ScopedClock() { SetClock(previous_); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    Clock* previous_;
};

}  // namespace platform
