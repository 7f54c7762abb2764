#include "MidiUpdateLib/MidiPort.h"

#include "MidiUpdateLib/OS.h"

std::string ToString(const std::vector<unsigned char>& bytes) {
    // Twenty bytes tell which message it is; the rest would only flood the log.
    const std::size_t shown = bytes.size() < 20 ? bytes.size() : 20;
    std::string text = "{";
    for (std::size_t i = 0; i < shown; ++i)
        text += Format(" 0x%02x", static_cast<unsigned>(bytes[i]));
    text += " }";
    return text;
}
