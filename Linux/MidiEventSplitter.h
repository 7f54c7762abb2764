#pragma once

// Cuts a byte stream into the events a message-based MIDI API carries: each complete
// SysEx message as one event, and each run of bytes outside messages as an event of its
// own. A chunk may end inside a message; its bytes are held until a later Add completes
// it. Used on the thread that sends.

#include <cstddef>
#include <functional>
#include <vector>

class Update;

namespace midiupdate {

class MidiEventSplitter {
public:
    using Emit = std::function<void(const unsigned char* data, std::size_t size)>;

    // Events never exceed `maxEvent` bytes: a longer message goes out in pieces (and is
    // counted), so no byte is lost; callers refuse such data before they start.
    explicit MidiEventSplitter(std::size_t maxEvent) : maxEvent(maxEvent ? maxEvent : 1) {}

    void Add(const unsigned char* data, std::size_t size, const Emit& emit);
    void Flush(const Emit& emit); // the held part of a message, as it is
    bool Holding() const { return !held.empty(); }
    std::size_t OversizedMessages() const { return oversized; }

private:
    void Hold(const unsigned char* data, std::size_t size, const Emit& emit);

    const std::size_t maxEvent;
    std::vector<unsigned char> held;
    bool inMessage = false;
    bool countedHeld = false;
    std::size_t oversized = 0;
};

// The longest event the update's portions make, as MidiEventSplitter cuts them.
std::size_t LargestEvent(const Update& update);

} // namespace midiupdate
