#pragma once

// Whether the device received exactly what the update file holds, portion by portion.

#include <string>
#include <vector>

namespace midiupdate {

using Portions = std::vector<std::vector<unsigned char>>;

struct IntegrityReport {
    bool identical = false;
    std::string text; // "device received 3 portions, 1.0MB, identical to the update file"
};

IntegrityReport CheckIntegrity(const Portions& expected, const Portions& received);

} // namespace midiupdate
