#pragma once

// The device reached through the ALSA sequencer, the API desktop MIDI programs share,
// so the updater coexists with them. Our client has an output and an input port; the
// device's port is found by name and subscribed both ways, except that a card's
// hardware port is written as its raw MIDI device, which pushes back where the
// sequencer would drop. Threads: the job's thread calls the MidiPort operations; the
// sequencer's reader thread delivers the device's bytes and the announcements that tell
// when its port goes or comes back.

#include "Linux/AlsaRawMidiOutput.h"
#include "Linux/AlsaSequencer.h"
#include "Linux/LinuxMidiPort.h"

#include <atomic>

namespace midiupdate {

class AlsaSequencerPort : public LinuxMidiPort {
public:
    explicit AlsaSequencerPort(LinuxPortSettings settings);
    ~AlsaSequencerPort() override;

    bool IsConnected() override; // searches only when not connected or told of a change
    void Disconnect() override;

protected:
    void Transmit(const unsigned char* data, unsigned long size) override;
    const char* ClassName() const override { return "AlsaSequencerPort"; }

private:
    void Announced(AlsaSequencer::Announcement what, int client, int port);
    bool Find(AlsaPortInfo& destination, AlsaPortInfo& source);
    bool OpenRawOutput(const AlsaPortInfo& port); // false: through the sequencer

    AlsaSequencer sequencer;
    AlsaRawMidiOutput rawOutput; // open: the device's port is a card's hardware port
    bool connected = false;
    AlsaPortInfo destination;
    AlsaPortInfo source; // client < 0: the device's port cannot be listened to
    // The device's port as the reader thread compares announcements against it.
    std::atomic<int> watchedClient{-1};
    std::atomic<int> watchedPort{-1};
    std::atomic<bool> gone{false};
    std::atomic<bool> appeared{true}; // announced since the last search: search again
    bool toldMissing = false;
};

} // namespace midiupdate
