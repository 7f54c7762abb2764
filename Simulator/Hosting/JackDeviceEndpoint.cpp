#include "Simulator/Hosting/JackDeviceEndpoint.h"

#include "Simulator/SimulatedDevice.h"

namespace midiupdate {
namespace {

// Longer than any gap inside a transfer (a JACK cycle is at most tens of milliseconds),
// shorter than the pause between two portions.
const auto burstGap = std::chrono::milliseconds(100);

} // namespace

JackDeviceEndpoint::JackDeviceEndpoint(SimulatedDevice& device)
    : device(device),
      connection([this](const unsigned char* data, std::size_t size) { Arrived(data, size); }) {}

JackDeviceEndpoint::~JackDeviceEndpoint() {
    device.SetOutput(nullptr);
}

bool JackDeviceEndpoint::Open(const std::string& name, std::string& error) {
    if (!connection.Open(name, "out", "in", error))
        return false;
    // Each call is one message as the device sends it; a real device's bytes go out even
    // when the message never ends.
    device.SetOutput(
        [this](const unsigned char* data, std::size_t size) { connection.QueueWhole(data, size); });
    return true;
}

void JackDeviceEndpoint::Arrived(const unsigned char* data, std::size_t size) {
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> guard(lock);
        if (arrival.bytes == 0 || now - lastArrival > burstGap) {
            if (arrival.bytes != 0)
                arrival.activeSeconds +=
                    std::chrono::duration<double>(lastArrival - burstStart).count();
            ++arrival.bursts;
            burstStart = now;
        }
        lastArrival = now;
        arrival.bytes += size;
    }
    device.Receive(data, size);
}

ArrivalStatistics JackDeviceEndpoint::Arrival() {
    std::lock_guard<std::mutex> guard(lock);
    ArrivalStatistics statistics = arrival;
    if (statistics.bytes != 0)
        statistics.activeSeconds += std::chrono::duration<double>(lastArrival - burstStart).count();
    return statistics;
}

} // namespace midiupdate
