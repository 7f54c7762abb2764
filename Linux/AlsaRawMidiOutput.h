#pragma once

// The output of a card's hardware MIDI port written as its raw MIDI device, as amidi
// does. Through the sequencer such a port drops whatever does not fit the driver's
// buffer (the kernel only logs "MIDI output buffer overrun"); a blocking raw write
// instead waits while the interface pushes back, so nothing is lost on our side.
// Threads: one caller at a time.

#include "Linux/AlsaSequencer.h"

#include <string>

typedef struct _snd_rawmidi snd_rawmidi_t;

namespace midiupdate {

// The raw MIDI device ("hw:CARD,DEVICE,SUBDEVICE") behind a card's hardware sequencer
// port; empty for a software port (snd-virmidi's, a program's), which has no wire.
std::string RawMidiDeviceOf(const AlsaPortInfo& port);

class AlsaRawMidiOutput {
public:
    AlsaRawMidiOutput() = default;
    ~AlsaRawMidiOutput();
    AlsaRawMidiOutput(const AlsaRawMidiOutput&) = delete;
    AlsaRawMidiOutput& operator=(const AlsaRawMidiOutput&) = delete;

    bool Open(const std::string& device, std::string& error);
    bool IsOpen() const { return output != nullptr; }
    void Close();
    // Writes all of `data` and waits until the driver has sent it; returns how many
    // bytes left for the device (fewer only when the device went away or failed).
    unsigned long Write(const unsigned char* data, unsigned long size);

private:
    snd_rawmidi_t* output = nullptr;
    std::string name;
};

} // namespace midiupdate
