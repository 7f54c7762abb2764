#pragma once

#include <set>
#include <string>

// How the Windows port finds and paces the device.
struct MidiPortWindowsParameters {
    std::set<std::string> names;
    int ideal = 1024;      // ideal chunk size, bytes
    int max = 3072;        // maximum chunk size, bytes
    int delay = 200;       // pause after each chunk handed to the system, ms
    int unprepDelay = 100; // pause after a sent chunk's buffer is released, ms
    bool chunks = true;    // frame every chunk as a complete SysEx message
};

extern const MidiPortWindowsParameters defaultMidiPortWindowsParameters;

// Applies a text "win:<ignored>:key:value:..." to `parameters`; what the text does not
// mention keeps its value, and text that does not fit is ignored.
void ParseMidiPortWindowsParameters(MidiPortWindowsParameters& parameters, const std::string& text);
