#pragma once

// What the Linux ports share: which names find the device, the pacing they take from
// the update, the identity request that ReceiveSysEx really sends, and the hand-over of
// received bytes. Threads: the job's thread calls the MidiPort operations; a port's
// reader thread calls Received.

#include "MidiUpdateLib/MidiPort.h"

#include <optional>
#include <set>
#include <string>
#include <vector>

class Update;

namespace midiupdate {

struct LinuxPortSettings {
    std::set<std::string> names; // the device: a port name, a client name or "client:port"
    unsigned long idealChunkSize = 1024;
    unsigned long maxChunkSize = 3072;
    unsigned int chunkDelay = 0; // ms after each chunk
    std::string clientName = "midi-updater";
};

// The device is found by the update's Mac port names, or by `port` when given. Pacing is
// the update's Windows one: its author tuned that for devices whose flash is slow.
LinuxPortSettings PortSettingsFor(const Update& update, const std::optional<std::string>& port);

// True when one of `names` is exactly the port's name, its client's, or "client:port".
bool NameMatches(const std::set<std::string>& names, const std::string& client,
                 const std::string& port);

class LinuxMidiPort : public MidiPort {
public:
    unsigned long IdealChunkSize() override;
    unsigned long MaxChunkSize() override;
    // Transmits, then pauses the chunk delay.
    void Send(const unsigned char* data, unsigned long size) override;
    // Sends `request` (connecting first when needed) and waits up to the limit for an
    // identity reply, which it returns; empty for none.
    std::vector<unsigned char> ReceiveSysEx(unsigned int timeoutMilliseconds,
                                            const unsigned char* request,
                                            unsigned long size) override;

protected:
    // `transportLimit`: the most bytes the transport takes in one go, to cap chunks.
    LinuxMidiPort(LinuxPortSettings settings, unsigned long transportLimit);

    // Counts with Undelivered what it knows did not reach the device.
    virtual void Transmit(const unsigned char* data, unsigned long size) = 0;
    // On the reader thread: bytes from the device, in order.
    void Received(const unsigned char* data, std::size_t size);
    virtual const char* ClassName() const = 0;

    const LinuxPortSettings settings;
    const unsigned long transportLimit;
};

} // namespace midiupdate
