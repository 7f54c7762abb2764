#include "MidiUpdateLib/MidiPort.h"

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/PlatformForm.h"

#include <cassert>

MidiPort::MidiPort() {
    sysExCollector.onComplete = &MidiPort::GotSysExFn;
    sysExCollector.context = this;
}

MidiPort::~MidiPort() = default;

void MidiPort::PermitOtherPorts() {}

void MidiPort::Synchronise() {}

std::vector<unsigned char> MidiPort::ReceiveSysEx(unsigned int, const unsigned char*,
                                                  unsigned long) {
    return {};
}

std::vector<unsigned char> MidiPort::LastSysEx() {
    std::lock_guard<std::mutex> guard(lastSysExLock);
    return lastSysEx;
}

void MidiPort::ClearLastSysEx() {
    std::lock_guard<std::mutex> guard(lastSysExLock);
    lastSysEx.clear();
}

void MidiPort::GotSysExFn(void* context) {
    static_cast<MidiPort*>(context)->GotSysEx();
}

void MidiPort::GotSysEx() {
    assert(sysExCollector.HasSysEx());
    const std::vector<unsigned char>& message = sysExCollector.message;
    {
        // Copy before taking the lock so the job's thread waits no longer than a swap.
        std::vector<unsigned char> copy = message;
        std::lock_guard<std::mutex> guard(lastSysExLock);
        lastSysEx.swap(copy);
    }
    Trace("%s: %u bytes %s\n", midiupdate::TraceName("MidiPort", "GotSysEx").c_str(),
          static_cast<unsigned>(message.size()), ToString(message).c_str());
}

std::string ToString(const std::vector<unsigned char>& bytes) {
    // Twenty bytes tell which message it is; the rest would only flood the log.
    const std::size_t shown = bytes.size() < 20 ? bytes.size() : 20;
    std::string text = "{";
    for (std::size_t i = 0; i < shown; ++i)
        text += Format(" 0x%02x", static_cast<unsigned>(bytes[i]));
    text += " }";
    return text;
}
