#include "Simulator/SimulatedMidiPort.h"

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/PlatformForm.h"
#include "MidiUpdateLib/SendUpdate.h"

namespace {

std::string Name(const char* function) {
    return midiupdate::TraceName("SimulatedMidiPort", function);
}

bool IsIdentityReply(const std::vector<unsigned char>& message) {
    // Any device identifier (the third byte) answers a request to all.
    return message.size() >= 5 && message[0] == identityReplyHeader[0] &&
           message[1] == identityReplyHeader[1] && message[3] == identityReplyHeader[3] &&
           message[4] == identityReplyHeader[4];
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
        return;
    }
    if (!device.IsPresent()) {
        Trace("%s: Device has gone, %lu bytes dropped\n", Name("Send").c_str(), size);
        return;
    }
    device.Receive(data, size);
}

void SimulatedMidiPort::Deliver(const unsigned char* data, std::size_t size) {
    if (!open)
        return; // a closed port hears nothing
    for (std::size_t i = 0; i < size; ++i) {
        sysExCollector.Add(data[i]);
        if (data[i] == 0xF7 && sysExCollector.HasSysEx() &&
            IsIdentityReply(sysExCollector.message)) {
            std::lock_guard<std::mutex> guard(identityLock);
            identityReply = sysExCollector.message;
        }
    }
}

std::vector<unsigned char> SimulatedMidiPort::ReceiveSysEx(unsigned int timeoutMilliseconds,
                                                           const unsigned char* request,
                                                           unsigned long size) {
    static const unsigned int pollInterval = 50;
    const unsigned int start = TimeNow();
    ClearLastSysEx();
    {
        std::lock_guard<std::mutex> guard(identityLock);
        identityReply.clear();
    }
    // The transfer has closed the port by now; a device that is still away (restarting
    // after its update, say) gets until the limit to come back.
    bool sent = request == nullptr || size == 0;
    for (;;) {
        if (!sent && device.IsPresent() && IsConnected()) {
            Trace("%s: Sending %lu-byte request\n", Name("ReceiveSysEx").c_str(), size);
            Send(request, size);
            sent = true;
        }
        {
            std::lock_guard<std::mutex> guard(identityLock);
            if (!identityReply.empty()) {
                std::vector<unsigned char> reply;
                reply.swap(identityReply);
                Trace("%s: Reply after %u ms\n", Name("ReceiveSysEx").c_str(), TimeNow() - start);
                return reply;
            }
        }
        const unsigned int elapsed = TimeNow() - start; // unsigned: survives the wrap
        if (elapsed >= timeoutMilliseconds)
            break;
        const unsigned int left = timeoutMilliseconds - elapsed;
        SleepFor(left < pollInterval ? left : pollInterval);
    }
    Trace("%s: No reply within %u ms\n", Name("ReceiveSysEx").c_str(), timeoutMilliseconds);
    return {};
}
