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
}

void WatchedPort::Send(const unsigned char* data, unsigned long size) {
    watch.Check();
    inner->Send(data, size);
    watch.MarkChunkSent();
}

std::vector<unsigned char> WatchedPort::ReceiveSysEx(unsigned int timeoutMilliseconds,
                                                     const unsigned char* request,
                                                     unsigned long size) {
    watch.Check();
    if (!recognised)
        return {}; // a device the update does not name is not asked either
    return inner->ReceiveSysEx(timeoutMilliseconds, request, size);
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
