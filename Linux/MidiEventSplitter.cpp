#include "Linux/MidiEventSplitter.h"

#include "MidiUpdateLib/Update.h"

#include <algorithm>
#include <cstring>

namespace midiupdate {

void MidiEventSplitter::Hold(const unsigned char* data, std::size_t size, const Emit& emit) {
    while (size) {
        if (held.size() == maxEvent) {
            if (!countedHeld)
                ++oversized;
            countedHeld = true;
            emit(held.data(), held.size());
            held.clear();
        }
        const std::size_t take = std::min(maxEvent - held.size(), size);
        held.insert(held.end(), data, data + take);
        data += take;
        size -= take;
    }
}

void MidiEventSplitter::Add(const unsigned char* data, std::size_t size, const Emit& emit) {
    const unsigned char* const end = data + size;
    const auto findF7 = [end](const unsigned char* from) {
        return static_cast<const unsigned char*>(std::memchr(from, 0xF7, end - from));
    };
    while (data != end) {
        if (inMessage) {
            // The rest of a message an earlier chunk began.
            const unsigned char* f7 = findF7(data);
            const unsigned char* last = f7 ? f7 + 1 : end;
            Hold(data, last - data, emit);
            data = last;
            if (f7)
                Flush(emit);
        } else if (*data == 0xF0) {
            const unsigned char* f7 = findF7(data + 1);
            if (!f7) {
                inMessage = true;
                Hold(data, end - data, emit);
                return;
            }
            const std::size_t length = f7 + 1 - data;
            if (length > maxEvent)
                ++oversized;
            for (std::size_t at = 0; at < length; at += maxEvent)
                emit(data + at,
                     std::min(maxEvent, length - at)); // straight from the caller's bytes
            data = f7 + 1;
        } else {
            const unsigned char* f0 =
                static_cast<const unsigned char*>(std::memchr(data, 0xF0, end - data));
            const unsigned char* runEnd = f0 ? f0 : end;
            while (data != runEnd) {
                const std::size_t length = std::min<std::size_t>(runEnd - data, maxEvent);
                emit(data, length);
                data += length;
            }
        }
    }
}

void MidiEventSplitter::Flush(const Emit& emit) {
    if (!held.empty())
        emit(held.data(), held.size());
    held.clear();
    inMessage = false;
    countedHeld = false;
}

std::size_t LargestEvent(const Update& update) {
    std::size_t largest = 0;
    const auto measure = [&largest](const unsigned char*, std::size_t size) {
        largest = std::max(largest, size);
    };
    for (const Update::SysExPortion& portion : update.sysExPortions) {
        MidiEventSplitter splitter(static_cast<std::size_t>(-1));
        splitter.Add(portion.sysEx.data(), portion.sysEx.size(), measure);
        splitter.Flush(measure);
    }
    return largest;
}

} // namespace midiupdate
