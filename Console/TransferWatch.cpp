#include "Console/TransferWatch.h"

#include <chrono>
#include <string>

namespace midiupdate {

GaveUp::GaveUp(unsigned int milliseconds)
    : std::runtime_error("Gave up waiting for the device after " + std::to_string(milliseconds) +
                         " ms.") {}

void TransferWatch::Interrupt(int by) {
    {
        std::lock_guard<std::mutex> guard(lock);
        signal = by;
        interrupted = true;
    }
    wake.notify_all();
}

void TransferWatch::Check() const {
    if (interrupted)
        throw Interrupted();
}

void TransferWatch::DeviceSeen(bool connected) {
    if (connected) {
        missingSince.reset();
        return;
    }
    const unsigned int now = ::TimeNow();
    if (!missingSince)
        missingSince = now;
    if (giveUpAfter && now - *missingSince >= *giveUpAfter) {
        gaveUp = true;
        throw GaveUp(now - *missingSince);
    }
}

unsigned int TransferWatch::Clock::TimeNow() {
    return inner ? inner->TimeNow() : SystemClock().TimeNow();
}

void TransferWatch::Clock::SleepFor(unsigned int milliseconds) {
    // Only the job's thread sleeps on this clock, and only it touches missingSince.
    std::optional<unsigned int> left;
    if (watch.giveUpAfter && watch.missingSince) {
        const unsigned int waited = TimeNow() - *watch.missingSince;
        left = waited < *watch.giveUpAfter ? *watch.giveUpAfter - waited : 0;
    }
    const bool givingUp = left && *left <= milliseconds;
    const unsigned int sleep = givingUp ? *left : milliseconds;
    if (inner) {
        inner->SleepFor(sleep);
    } else {
        std::unique_lock<std::mutex> guard(watch.lock);
        watch.wake.wait_for(guard, std::chrono::milliseconds(sleep),
                            [this] { return watch.interrupted.load(); });
    }
    watch.Check();
    if (givingUp)
        watch.DeviceSeen(false);
}

} // namespace midiupdate
