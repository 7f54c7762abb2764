#include "Simulator/Hosting/AlsaDeviceEndpoint.h"

#include "Simulator/SimulatedDevice.h"

namespace midiupdate {

AlsaDeviceEndpoint::AlsaDeviceEndpoint(SimulatedDevice& device)
    : device(device), sequencer([&device](const unsigned char* data,
                                          std::size_t size) { device.Receive(data, size); },
                                [](AlsaSequencer::Announcement, int, int) {}) {}

AlsaDeviceEndpoint::~AlsaDeviceEndpoint() {
    device.SetOutput(nullptr);
}

bool AlsaDeviceEndpoint::Open(const std::string& name, std::string& error) {
    if (!sequencer.Open(name, name, name, error))
        return false;
    device.SetOutput(
        [this](const unsigned char* data, std::size_t size) { sequencer.Send(data, size); });
    return true;
}

} // namespace midiupdate
