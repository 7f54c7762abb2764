#include "Linux/JackDeviceEndpoint.h"

#include "Simulator/SimulatedDevice.h"

namespace midiupdate {

JackDeviceEndpoint::JackDeviceEndpoint(SimulatedDevice& device)
    : device(device), connection([&device](const unsigned char* data, std::size_t size) {
          device.Receive(data, size);
      }) {}

JackDeviceEndpoint::~JackDeviceEndpoint() {
    device.SetOutput(nullptr);
}

bool JackDeviceEndpoint::Open(const std::string& name, std::string& error) {
    if (!connection.Open(name, "out", "in", error))
        return false;
    device.SetOutput(
        [this](const unsigned char* data, std::size_t size) { connection.Queue(data, size); });
    return true;
}

} // namespace midiupdate
