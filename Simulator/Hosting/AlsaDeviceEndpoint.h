#pragma once

// A simulated device served on the ALSA sequencer: a client with one port, named as
// the device, that takes the update and gives the replies. Threads: the sequencer's
// reader thread feeds the device; the device's delivery thread sends its replies.

#include "Linux/AlsaSequencer.h"

#include <string>

class SimulatedDevice;

namespace midiupdate {

class AlsaDeviceEndpoint {
public:
    explicit AlsaDeviceEndpoint(SimulatedDevice& device); // the device must outlive it
    ~AlsaDeviceEndpoint();
    AlsaDeviceEndpoint(const AlsaDeviceEndpoint&) = delete;
    AlsaDeviceEndpoint& operator=(const AlsaDeviceEndpoint&) = delete;

    bool Open(const std::string& name, std::string& error);

private:
    SimulatedDevice& device;
    AlsaSequencer sequencer;
};

} // namespace midiupdate
