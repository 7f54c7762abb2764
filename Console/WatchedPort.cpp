#include "Console/WatchedPort.h"

#include "MidiUpdateLib/OS.h"

namespace midiupdate {

WatchedPort::WatchedPort(std::unique_ptr<MidiPort> inner, std::set<std::string> acceptedNames,
                         std::string deviceName, TransferWatch& watch)
    : inner(std::move(inner)),
      recognised(acceptedNames.empty() || acceptedNames.count(deviceName) != 0),
      deviceName(std::move(deviceName)), watch(watch) {}

bool WatchedPort::IsConnected() {
    watch.Check();
    bool connected = false;
    if (recognised) {
        connected = inner->IsConnected();
    } else if (!toldNotRecognised) {
        Trace("IsConnected: device '%s' not recognised by the update's port names\n",
              deviceName.c_str());
        toldNotRecognised = true;
    }
    watch.DeviceSeen(connected);
    return connected;
}

void WatchedPort::PermitOtherPorts() {
    watch.Check();
    inner->PermitOtherPorts();
}

void WatchedPort::Disconnect() {
    watch.Check();
    inner->Disconnect();
    CountUndelivered();
}

void WatchedPort::Send(const unsigned char* data, unsigned long size) {
    watch.Check();
    inner->Send(data, size);
    watch.MarkChunkSent();
    CountUndelivered();
}

void WatchedPort::CountUndelivered() {
    const unsigned long long now = inner->UndeliveredBytes();
    if (now > innerUndelivered)
        Undelivered(static_cast<unsigned long>(now - innerUndelivered));
    innerUndelivered = now;
}

std::vector<unsigned char> WatchedPort::ReceiveSysEx(unsigned int timeoutMilliseconds,
                                                     const unsigned char* request,
                                                     unsigned long size) {
    watch.Check();
    if (!recognised)
        return {}; // a device the update does not name is not asked either
    std::vector<unsigned char> reply = inner->ReceiveSysEx(timeoutMilliseconds, request, size);
    // The inner port never counts its request: whatever it counted now is the update's.
    CountUndelivered();
    return reply;
}

std::vector<unsigned char> WatchedPort::LastSysEx() {
    watch.Check();
    return inner->LastSysEx();
}

void WatchedPort::ClearLastSysEx() {
    watch.Check();
    inner->ClearLastSysEx();
}

} // namespace midiupdate
