#pragma once

// When a simulated device's replies go out. Two clocks: the virtual one, where a reply
// is due when a sleeper passes its time, and real time, with a thread of its own.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

class VirtualClock;

class ReplyScheduler {
public:
    virtual ~ReplyScheduler() = default;
    // Runs `action` once, `delay` ms from now, on the scheduler's thread (which may be
    // any thread but the caller's own in the middle of this call). Any thread may call,
    // also from inside an action.
    virtual void Schedule(unsigned int delay, std::function<void()> action) = 0;
};

// Actions run on the thread whose SleepFor passes their time, before that SleepFor returns.
// The clock must outlive the scheduler; actions still pending when the scheduler goes
// stay on the clock, so they must keep alive whatever they touch.
class VirtualClockScheduler : public ReplyScheduler {
public:
    explicit VirtualClockScheduler(VirtualClock& clock) : clock(clock) {}
    void Schedule(unsigned int delay, std::function<void()> action) override;

private:
    VirtualClock& clock;
};

// Actions run on the scheduler's own thread, in time order, by the steady clock.
// Destruction waits for a running action and drops the pending ones.
class RealTimeScheduler : public ReplyScheduler {
public:
    RealTimeScheduler();
    ~RealTimeScheduler() override;
    RealTimeScheduler(const RealTimeScheduler&) = delete;
    RealTimeScheduler& operator=(const RealTimeScheduler&) = delete;

    void Schedule(unsigned int delay, std::function<void()> action) override;

private:
    using Due = std::pair<std::chrono::steady_clock::time_point, std::uint64_t>;

    void Run();

    std::mutex lock;
    std::condition_variable changed;
    std::map<Due, std::function<void()>> due; // by time, then by order of scheduling
    std::uint64_t nextSequence = 0;
    bool stopping = false;
    std::thread thread; // last: starts once everything above exists
};
