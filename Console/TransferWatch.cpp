#include "Console/TransferWatch.h"

#include <chrono>
#include <string>

namespace midiupdate {

GaveUp::GaveUp(unsigned int milliseconds)
    : std::runtime_error("Gave up waiting for the device after " + std::to_string(milliseconds) +
                         " ms.") {}

void TransferWatch::Interrupt() {
    {
        std::lock_guard<std::mutex> guard(lock);
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
        throw GaveUp(*giveUpAfter);
    }
}

void TransferWatch::Clock::SleepFor(unsigned int milliseconds) {
    std::unique_lock<std::mutex> guard(watch.lock);
    watch.wake.wait_for(guard, std::chrono::milliseconds(milliseconds),
                        [this] { return watch.interrupted.load(); });
    if (watch.interrupted)
        throw Interrupted();
}

} // namespace midiupdate
