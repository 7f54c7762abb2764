#include "MidiUpdateLib/Version.h"

#include "MidiUpdateLib/OS.h"

const std::string MidiUpdateLib_Version = "1.05";
const std::string MidiUpdateLib_Build = "alpha";

std::string Version::ToString() const {
    return Format("%u.%02u", static_cast<unsigned>(major), static_cast<unsigned>(minor));
}
