#include "Simulator/SimulatedMidiPort.h"

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/PlatformForm.h"

namespace {

std::string Name(const char* function) {
    return midiupdate::TraceName("SimulatedMidiPort", function);
}

} // namespace

SimulatedMidiPort::SimulatedMidiPort(SimulatedDevice& device, unsigned long idealChunkSize,
                                     unsigned long maxChunkSize)
    : device(device), idealChunkSize(idealChunkSize == 0 ? 1 : idealChunkSize),
      maxChunkSize(maxChunkSize) {
    device.SetOutput([this](const unsigned char* data, std::size_t size) { Deliver(data, size); });
}

SimulatedMidiPort::~SimulatedMidiPort() {
    // After this no delivery is running or will start, so the port may go.
    device.SetOutput(nullptr);
    if (open.exchange(false))
        Trace("%s: Closed '%s'\n", Name("~SimulatedMidiPort").c_str(),
              device.Config().name.c_str());
}

bool SimulatedMidiPort::IsConnected() {
    if (device.IsPresent()) {
        if (!open.exchange(true))
            Trace("%s: Opened simulated device '%s'\n", Name("IsConnected").c_str(),
                  device.Config().name.c_str());
        return true;
    }
    if (open.exchange(false))
        Trace("%s: Simulated device '%s' has gone, closing\n", Name("IsConnected").c_str(),
              device.Config().name.c_str());
    else
        Trace("%s: Simulated device '%s' not present\n", Name("IsConnected").c_str(),
              device.Config().name.c_str());
    return false;
}

void SimulatedMidiPort::Disconnect() {
    if (open.exchange(false))
        Trace("%s: Closed '%s'\n", Name("Disconnect").c_str(), device.Config().name.c_str());
}

void SimulatedMidiPort::Send(const unsigned char* data, unsigned long size) {
    if (!open) {
        Trace("%s: Not connected, %lu bytes dropped\n", Name("Send").c_str(), size);
        Undelivered(size);
        return;
    }
    if (!device.IsPresent()) {
        Trace("%s: Device has gone, %lu bytes dropped\n", Name("Send").c_str(), size);
        Undelivered(size);
        return;
    }
    // The device may go inside the chunk; what it ignored from there on is known here, as
    // a driver that is told of an unplugged device knows what it could not hand over.
    const std::size_t ignoredBefore = device.BytesIgnored();
    device.Receive(data, size);
    const std::size_t ignored = device.BytesIgnored() - ignoredBefore;
    if (ignored > 0) {
        Trace("%s: Device went, %zu bytes dropped\n", Name("Send").c_str(), ignored);
        Undelivered(static_cast<unsigned long>(ignored));
    }
}

void SimulatedMidiPort::Deliver(const unsigned char* data, std::size_t size) {
    if (!open)
        return; // a closed port hears nothing
    CollectReceived(data, size);
}

std::vector<unsigned char> SimulatedMidiPort::ReceiveSysEx(unsigned int timeoutMilliseconds,
                                                           const unsigned char* request,
                                                           unsigned long size) {
    // Short enough that a prompt reply costs little, long enough not to spin.
    static const unsigned int pollInterval = 50;
    const std::string name = Name("ReceiveSysEx");
    std::function<bool()> sendRequest;
    if (request != nullptr && size > 0)
        sendRequest = [this, &name, request, size] {
            if (!device.IsPresent() || !IsConnected())
                return false;
            Trace("%s: Sending %lu-byte request\n", name.c_str(), size);
            Send(request, size);
            return true;
        };
    return AwaitIdentityReply(timeoutMilliseconds, pollInterval, name, sendRequest);
}
