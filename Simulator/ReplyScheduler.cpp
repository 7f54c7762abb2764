#include "Simulator/ReplyScheduler.h"

#include "MidiUpdateLib/VirtualClock.h"

void VirtualClockScheduler::Schedule(unsigned int delay, std::function<void()> action) {
    clock.Schedule(delay, std::move(action));
}

RealTimeScheduler::RealTimeScheduler() : thread([this] { Run(); }) {}

RealTimeScheduler::~RealTimeScheduler() {
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    changed.notify_all();
    thread.join();
}

void RealTimeScheduler::Schedule(unsigned int delay, std::function<void()> action) {
    const auto when = std::chrono::steady_clock::now() + std::chrono::milliseconds(delay);
    {
        std::lock_guard<std::mutex> guard(lock);
        due.emplace(Due(when, nextSequence++), std::move(action));
    }
    changed.notify_all();
}

void RealTimeScheduler::Run() {
    std::unique_lock<std::mutex> guard(lock);
    while (!stopping) {
        if (due.empty()) {
            changed.wait(guard);
            continue;
        }
        const auto when = due.begin()->first.first;
        if (std::chrono::steady_clock::now() < when) {
            // Wakes early for an earlier action, a stop, or spuriously; all go round again.
            changed.wait_until(guard, when);
            continue;
        }
        std::function<void()> action = std::move(due.begin()->second);
        due.erase(due.begin());
        guard.unlock();
        action(); // unlocked: it may schedule more
        action = nullptr;
        guard.lock();
    }
}
