#include "MidiUpdateLib/SysExCollector.h"

void SysExCollector::Add(unsigned char byte) {
    if (inMessage) {
        message.push_back(byte);
        if (byte == 0xF7) {
            inMessage = false;
            if (onComplete)
                onComplete(context);
        }
        return;
    }
    if (byte == 0xF0) {
        message.clear();
        message.push_back(byte);
        inMessage = true;
    }
}

bool SysExCollector::HasSysEx() const {
    return !inMessage && !message.empty() && message.back() == 0xF7;
}
