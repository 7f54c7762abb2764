#include "Console/SysExContent.h"

#include "MidiUpdateLib/OS.h"

namespace midiupdate {

SysExContent InspectSysEx(const unsigned char* data, std::size_t size) {
    SysExContent content;
    bool inside = false;            // in a message begun at `start`
    std::size_t start = 0;          //
    std::size_t realTimeInside = 0; // real-time bytes inside it, not counted as stray
    const auto stray = [&](std::size_t at, const std::string& why) {
        if (!content.firstStray) {
            content.firstStray = at;
            content.problem = why;
        }
    };
    // The message ends unfinished at `at`: all of it is stray; `where` is the bad byte.
    const auto abandon = [&](std::size_t at, std::size_t where, const std::string& why) {
        stray(where, why);
        content.strayBytes += at - start - realTimeInside;
        inside = false;
    };
    const auto begin = [&](std::size_t at) {
        inside = true;
        start = at;
        realTimeInside = 0;
    };
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char byte = data[i];
        if (byte >= 0xF8) {
            realTimeInside += inside ? 1 : 0;
        } else if (byte == 0xF0 && !inside) {
            begin(i);
        } else if (byte == 0xF7 && inside) {
            if (content.messages++ == 0 && i > start + 1) {
                const bool three = data[start + 1] == 0x00 && i > start + 3;
                content.manufacturer.assign(data + start + 1, data + start + (three ? 4 : 2));
            }
            inside = false;
        } else if (inside && byte >= 0x80) {
            abandon(i, i,
                    Format("status byte 0x%02X inside the message at offset %zu", byte, start));
            if (byte == 0xF0)
                begin(i);
            else
                ++content.strayBytes;
        } else if (!inside) {
            stray(i, Format("byte 0x%02X outside a message", byte));
            ++content.strayBytes;
        }
    }
    if (inside)
        abandon(size, start, Format("the message at offset %zu has no F7", start));
    return content;
}

std::string ManufacturerText(const std::vector<unsigned char>& id) {
    if (id.empty())
        return "none";
    std::string text;
    for (unsigned char byte : id)
        text += Format(text.empty() ? "%02X" : " %02X", static_cast<unsigned>(byte));
    return text;
}

} // namespace midiupdate
