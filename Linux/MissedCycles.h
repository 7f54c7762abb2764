#pragma once

// Which events PipeWire's JACK layer dropped without a word. It passes a client's events
// on only when its process callback ends within the cycle and the next cycle runs it
// again: a cycle that ends late, or is followed by one the client was not run for, loses
// all its events, and no xrun callback tells. Measured under load at 128 frames: every
// loss was exactly the events of such cycles, and no other cycle lost any. JACK 2 moves
// its frame time on by more than a period far more often, losing nothing, so its port
// does not keep this account. Threads: JACK's process thread only.

#include <cstddef>
#include <cstdint>

namespace midiupdate {

class MissedCycles {
public:
    // At the end of each process callback: the cycle's first frame and length, the frames
    // since its start now, and the counted bytes it passed on. Returns the bytes known
    // lost by now: this cycle's when it ended late, the previous one's when this cycle
    // does not follow it directly.
    std::size_t Cycle(std::uint32_t firstFrame, std::uint32_t frames,
                      std::uint32_t framesSinceStart, std::size_t counted);

private:
    bool started = false;
    std::uint32_t nextFrame = 0; // where the next cycle starts when none is skipped
    std::size_t pending = 0;     // bytes of the last cycle, lost if the next is skipped
};

} // namespace midiupdate
