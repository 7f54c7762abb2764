#include "MidiUpdateLib/VirtualClock.h"

unsigned int VirtualClock::TimeNow() {
    std::lock_guard<std::mutex> guard(lock);
    return static_cast<unsigned int>(start + elapsed);
}

void VirtualClock::SleepFor(unsigned int milliseconds) {
    std::uint64_t target;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (recordSleeps)
            sleeps.push_back(milliseconds);
        target = elapsed + milliseconds;
    }
    MoveTo(target);
}

void VirtualClock::Advance(unsigned int milliseconds) {
    std::uint64_t target;
    {
        std::lock_guard<std::mutex> guard(lock);
        target = elapsed + milliseconds;
    }
    MoveTo(target);
}

void VirtualClock::MoveTo(std::uint64_t target) {
    for (;;) {
        std::function<void()> action;
        {
            std::lock_guard<std::mutex> guard(lock);
            auto first = due.begin();
            if (first == due.end() || first->first.first > target) {
                if (elapsed < target)
                    elapsed = target;
                return;
            }
            if (elapsed < first->first.first)
                elapsed = first->first.first;
            action = std::move(first->second);
            due.erase(first);
        }
        // Outside the lock: the action may schedule more, or read the time.
        action();
    }
}

void VirtualClock::Schedule(unsigned int delay, std::function<void()> action) {
    std::lock_guard<std::mutex> guard(lock);
    due.emplace(std::make_pair(elapsed + delay, nextSequence++), std::move(action));
}

std::vector<unsigned int> VirtualClock::Sleeps() const {
    std::lock_guard<std::mutex> guard(lock);
    return sleeps;
}

void VirtualClock::RecordSleeps(bool record) {
    std::lock_guard<std::mutex> guard(lock);
    recordSleeps = record;
}

std::uint64_t VirtualClock::Elapsed() const {
    std::lock_guard<std::mutex> guard(lock);
    return elapsed;
}

std::size_t VirtualClock::Pending() const {
    std::lock_guard<std::mutex> guard(lock);
    return due.size();
}
