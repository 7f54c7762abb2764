#pragma once

// What a block of SysEx data holds, judged as a MIDI receiver would: a message is F0,
// data bytes 00-7F, then F7; real-time bytes F8-FF may come anywhere; every other byte
// (a status byte inside a message, a byte between messages, a message cut off without
// its F7) is a stray byte. Plain functions on the caller's thread.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace midiupdate {

struct SysExContent {
    std::size_t messages = 0;   // complete messages
    std::size_t strayBytes = 0; // bytes outside any complete message (real-time ones aside)
    std::vector<unsigned char> manufacturer; // of the first message: one byte, or 00 xx yy
    // The first byte that breaks the rule, and why; none when the block is clean.
    std::optional<std::size_t> firstStray;
    std::string problem; // "byte 0x41 outside a message", ...
};

SysExContent InspectSysEx(const unsigned char* data, std::size_t size);

// "7D", "00 20 33"; "none" for no message.
std::string ManufacturerText(const std::vector<unsigned char>& id);

} // namespace midiupdate
