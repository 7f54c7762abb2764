#pragma once

// USB MIDI event packets (four bytes: cable and code index number, then up to three MIDI
// bytes) to and from the MIDI bytes they carry.

#include <cstddef>
#include <vector>

namespace usbmidi {

// Appends the MIDI bytes of whole packets, in order, whatever their cable.
void AppendMidiBytes(const unsigned char* packets, std::size_t size,
                     std::vector<unsigned char>& bytes);

// Cuts a byte stream into packets on cable 0. SysEx goes three bytes a packet and ends
// in a packet of one, two or three bytes; one or two bytes of a message that goes on
// wait for the next bytes, since no packet carries them. Anything else goes byte by
// byte: the device sends nothing but SysEx, and real-time bytes may cut into it.
// Not thread-safe: one stream, one writer.
class PacketEncoder {
public:
    std::vector<unsigned char> Encode(const unsigned char* data, std::size_t size);

private:
    void Release(std::vector<unsigned char>& packets); // held bytes, one by one

    bool inSysEx = false;
    unsigned char held[3] = {};
    std::size_t heldCount = 0;
};

} // namespace usbmidi
