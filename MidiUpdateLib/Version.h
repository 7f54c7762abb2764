#pragma once

#include <string>

// A firmware version.
struct Version {
    unsigned short major = 0;
    unsigned short minor = 0;

    std::string ToString() const; // "%u.%02u": 1.05, 1.123, 0.00
};

// The library's own version, shown in the About boxes.
extern const std::string MidiUpdateLib_Version;
extern const std::string MidiUpdateLib_Build;
