#pragma once

// The console's ways out of a transfer that the library itself never abandons: the
// user's Ctrl-C, and giving up on a device that does not appear. Both end the job by
// an exception from the port or from a sleep, so the job unwinds as it does for any
// failure and the port is closed on the way.

#include "MidiUpdateLib/OS.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace midiupdate {

struct Interrupted : std::runtime_error {
    Interrupted() : std::runtime_error("Interrupted.") {}
};

struct GaveUp : std::runtime_error {
    explicit GaveUp(unsigned int milliseconds);
};

class TransferWatch {
public:
    explicit TransferWatch(std::optional<unsigned int> giveUpAfter) : giveUpAfter(giveUpAfter) {}

    // Any thread; wakes an interruptible sleep.
    void Interrupt();
    bool WasInterrupted() const { return interrupted.load(); }
    bool GaveUpWaiting() const { return gaveUp.load(); }

    // Throws Interrupted once interrupted.
    void Check() const;
    // Told after every connection check; throws GaveUp when the device has been missing
    // for longer than allowed.
    void DeviceSeen(bool connected);

    // Sleeps that end early, by Interrupted, when the user interrupts.
    class Clock : public ::Clock {
    public:
        explicit Clock(TransferWatch& watch) : watch(watch) {}
        unsigned int TimeNow() override { return SystemClock().TimeNow(); }
        void SleepFor(unsigned int milliseconds) override;

    private:
        TransferWatch& watch;
    };

private:
    const std::optional<unsigned int> giveUpAfter;
    std::atomic<bool> interrupted{false};
    std::atomic<bool> gaveUp{false};
    std::optional<unsigned int> missingSince; // job thread only

    std::mutex lock;
    std::condition_variable wake;
};

} // namespace midiupdate
