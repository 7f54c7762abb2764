#include "MidiUpdateLib/SysExCollector.h"

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/PlatformForm.h"

void SysExCollector::Add(unsigned char byte) {
    if (inMessage) {
        message.push_back(byte);
        if (byte == 0xF7) {
            inMessage = false;
            if (onComplete)
                onComplete(context);
        } else if (message.size() >= maxMessageSize) {
            Trace("%s: dropped a message of %u bytes without its F7\n",
                  midiupdate::TraceName("SysExCollector", "Add").c_str(),
                  static_cast<unsigned>(maxMessageSize));
            inMessage = false;
            message.clear();
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
