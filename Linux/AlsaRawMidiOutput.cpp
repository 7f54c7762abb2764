#include "Linux/AlsaRawMidiOutput.h"

#include "MidiUpdateLib/OS.h"

#include <alsa/asoundlib.h>

namespace midiupdate {

std::string RawMidiDeviceOf(const AlsaPortInfo& port) {
    if (!port.hardware || port.card < 0)
        return {};
    // The kernel numbers a card's hardware ports device * 32 + subdevice (seq_midi.c:
    // 256 ports over its 8 raw MIDI devices).
    return "hw:" + std::to_string(port.card) + "," + std::to_string(port.port / 32) + "," +
           std::to_string(port.port % 32);
}

AlsaRawMidiOutput::~AlsaRawMidiOutput() {
    Close();
}

bool AlsaRawMidiOutput::Open(const std::string& device, std::string& error) {
    Close();
    const int result = snd_rawmidi_open(nullptr, &output, device.c_str(), 0);
    if (result < 0) {
        output = nullptr;
        error = "cannot open " + device + ": " + snd_strerror(result);
        return false;
    }
    name = device;
    return true;
}

void AlsaRawMidiOutput::Close() {
    if (!output)
        return;
    snd_rawmidi_close(output);
    output = nullptr;
}

unsigned long AlsaRawMidiOutput::Write(const unsigned char* data, unsigned long size) {
    if (!output)
        return 0;
    unsigned long written = 0;
    while (written < size) {
        const ssize_t result = snd_rawmidi_write(output, data + written, size - written);
        if (result == -EINTR || result == -EAGAIN)
            continue;
        if (result < 0) {
            Trace("AlsaRawMidiOutput::Write %s: %s after %lu of %lu bytes\n", name.c_str(),
                  snd_strerror(static_cast<int>(result)), written, size);
            return written;
        }
        written += static_cast<unsigned long>(result);
    }
    // Only what the driver has sent has left the computer.
    const int result = snd_rawmidi_drain(output);
    if (result < 0) {
        Trace("AlsaRawMidiOutput::Write %s: %s while draining\n", name.c_str(),
              snd_strerror(result));
        return 0;
    }
    return written;
}

} // namespace midiupdate
