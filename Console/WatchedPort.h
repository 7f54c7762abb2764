#pragma once

// The console's port in front of the real one: it finds the device only under a name
// the update accepts, as a platform port would, and lets the user's interrupt or a
// give-up time end the transfer.

#include "Console/TransferWatch.h"
#include "MidiUpdateLib/MidiPort.h"

#include <memory>
#include <set>
#include <string>

namespace midiupdate {

class WatchedPort : public MidiPort {
public:
    // An empty set of names accepts any device.
    WatchedPort(std::unique_ptr<MidiPort> inner, std::set<std::string> acceptedNames,
                std::string deviceName, TransferWatch& watch);

    unsigned long IdealChunkSize() override { return inner->IdealChunkSize(); }
    unsigned long MaxChunkSize() override { return inner->MaxChunkSize(); }
    bool IsConnected() override;
    void PermitOtherPorts() override;
    void Disconnect() override;
    void Send(const unsigned char* data, unsigned long size) override;
    std::vector<unsigned char> ReceiveSysEx(unsigned int timeoutMilliseconds,
                                            const unsigned char* request,
                                            unsigned long size) override;
    std::vector<unsigned char> LastSysEx() override;
    void ClearLastSysEx() override;

private:
    // Takes over what the inner port has counted as undelivered since the last look.
    void CountUndelivered();

    std::unique_ptr<MidiPort> inner;
    unsigned long long innerUndelivered = 0;
    const bool recognised;
    const std::string deviceName;
    TransferWatch& watch;
    bool toldNotRecognised = false;
};

} // namespace midiupdate
