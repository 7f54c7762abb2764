#pragma once

// A clock that only moves when someone sleeps on it, so transfers that would take
// minutes run at once and repeatably.
//
// Things due at a virtual time (a simulated device's reply, a driver finishing a
// buffer) are scheduled on the clock. A SleepFor that passes their time runs them on
// the sleeping thread, in time order, before it returns; an action that hands work to
// another thread waits for that work itself, so the sleeper still returns only after
// it has happened. One thread drives time; any thread may schedule.

#include "MidiUpdateLib/OS.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

class VirtualClock : public Clock {
public:
    explicit VirtualClock(unsigned int start = 0) : start(start) {}

    unsigned int TimeNow() override;
    void SleepFor(unsigned int milliseconds) override; // recorded in Sleeps()

    // Moves time forward like SleepFor, without recording a sleep.
    void Advance(unsigned int milliseconds);

    // Runs `action` once virtual time has moved `delay` milliseconds past now.
    void Schedule(unsigned int delay, std::function<void()> action);

    std::vector<unsigned int> Sleeps() const;
    // A clock that runs for long, as in the console, need not keep every sleep.
    void RecordSleeps(bool record);
    std::uint64_t Elapsed() const; // virtual milliseconds since construction, unwrapped
    std::size_t Pending() const;

private:
    void MoveTo(std::uint64_t target);

    const unsigned int start;
    mutable std::mutex lock;
    std::uint64_t elapsed = 0;
    std::uint64_t nextSequence = 0;
    // Ordered by due time, then by order of scheduling.
    std::map<std::pair<std::uint64_t, std::uint64_t>, std::function<void()>> due;
    std::vector<unsigned int> sleeps;
    bool recordSleeps = true;
};

// Installs a clock for one scope and restores the system clock after it.
class ScopedClock {
public:
    explicit ScopedClock(Clock& clock) { SetClock(&clock); }
    ~ScopedClock() { SetClock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};
