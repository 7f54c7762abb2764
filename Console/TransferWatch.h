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

    // Any thread; wakes an interruptible sleep. `signal` is what asked (exit 128 + it).
    void Interrupt(int signal = 2);
    bool WasInterrupted() const { return interrupted.load(); }
    int Signal() const { return signal.load(); }
    bool GaveUpWaiting() const { return gaveUp.load(); }

    // Once the first chunk has gone to the device, stopping would leave half a firmware.
    void MarkChunkSent() { chunkSent = true; }
    bool ChunkSent() const { return chunkSent.load(); }

    // Throws Interrupted once interrupted.
    void Check() const;
    // Told after every connection check; throws GaveUp when the device has been missing
    // for longer than allowed.
    void DeviceSeen(bool connected);

    // The clock the job runs on: real time, or a virtual clock. Real sleeps end early,
    // by Interrupted, when the user interrupts; any sleep while the device is missing
    // ends, by GaveUp, exactly when the time allowed runs out.
    class Clock : public ::Clock {
    public:
        // A null `inner` is the system clock.
        Clock(TransferWatch& watch, ::Clock* inner) : watch(watch), inner(inner) {}
        unsigned int TimeNow() override;
        void SleepFor(unsigned int milliseconds) override;

    private:
        TransferWatch& watch;
        ::Clock* const inner;
    };

private:
    const std::optional<unsigned int> giveUpAfter;
    std::atomic<bool> interrupted{false};
    std::atomic<int> signal{0};
    std::atomic<bool> chunkSent{false};
    std::atomic<bool> gaveUp{false};
    std::optional<unsigned int> missingSince; // job thread only

    std::mutex lock;
    std::condition_variable wake;
};

} // namespace midiupdate
