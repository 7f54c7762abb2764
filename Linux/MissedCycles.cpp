#include "Linux/MissedCycles.h"

namespace midiupdate {

std::size_t MissedCycles::Cycle(std::uint32_t firstFrame, std::uint32_t frames,
                                std::uint32_t framesSinceStart, std::size_t counted) {
    std::size_t lost = 0;
    // Later than the next cycle's start: one or more cycles ran without us.
    if (started && static_cast<std::int32_t>(firstFrame - nextFrame) > 0)
        lost += pending;
    pending = counted;
    if (framesSinceStart > frames) {
        lost += pending;
        pending = 0;
    }
    started = true;
    nextFrame = firstFrame + frames; // wraps as the server's frame counter does
    return lost;
}

} // namespace midiupdate
