#include "Linux/JackMidiPort.h"

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"

#include <algorithm>

namespace midiupdate {
namespace {

// Send waits for room rather than failing, so a chunk may be of any size; this keeps a
// chunk within the ring, so one Send never waits on more than a few cycles.
const unsigned long jackChunkLimit = 256 * 1024;
// Long enough for a ring's worth of events at the slowest cycle a server runs.
const unsigned int drainLimit = 5000;
// A connection takes effect within a cycle or two; a loaded machine may take far longer.
const unsigned int connectLimit = 2000;

} // namespace

JackMidiPort::JackMidiPort(LinuxPortSettings settings)
    : LinuxMidiPort(std::move(settings), jackChunkLimit), connection(NewConnection()) {}

std::unique_ptr<JackConnection> JackMidiPort::NewConnection() {
    return std::make_unique<JackConnection>(
        [this](const unsigned char* data, std::size_t size) { Received(data, size); },
        [this](std::size_t size) { Undelivered(static_cast<unsigned long>(size)); });
}

JackMidiPort::~JackMidiPort() {
    Disconnect();
}

bool JackMidiPort::Open(std::string& error) {
    if (connection->IsOpen())
        return true;
    return connection->Open(settings.clientName, "out", "in", error);
}

bool JackMidiPort::CanCarry(const Update& update, std::string& error) {
    if (!Open(error))
        return false;
    const std::size_t largest = LargestEvent(update);
    const std::size_t limit = connection->MaxEventSize();
    if (limit == 0) {
        error = "the JACK server ran no process cycle, so the largest event it carries is unknown";
        return false;
    }
    if (largest > limit) {
        error = Format("the update holds a MIDI message of %zu bytes, but the JACK server "
                       "carries at most %zu bytes in one event; nothing was sent",
                       largest, limit);
        return false;
    }
    return true;
}

void JackMidiPort::FollowConnection() {
    const bool changed = connection->GraphChanged();
    if (connection->ServerGone() || (changed && !connection->Exists(destination))) {
        Trace("JackMidiPort::IsConnected: %s has gone\n", destination.c_str());
        connected = false;
        searched = false;
    } else if (changed) {
        // Ports that went and came back between two calls lost their connections. (Their
        // state cannot be read back: the server publishes new connections a cycle late.)
        connection->Connect(connection->OutputName(), destination);
        if (!source.empty())
            connection->Connect(source, connection->InputName());
    }
}

bool JackMidiPort::ReadyToSearch() {
    std::string error;
    if (connection->ServerGone()) {
        // A server that was stopped may be started again: a new client will tell.
        Trace("JackMidiPort::IsConnected: the JACK server has gone; trying a new client\n");
        connection = NewConnection();
        searched = false;
    }
    if (!Open(error)) {
        if (!toldMissing)
            Trace("JackMidiPort::IsConnected: %s\n", error.c_str());
        toldMissing = true;
        return false;
    }
    // Searched again only once the server has told of ports or clients coming or going.
    return !searched || connection->GraphChanged();
}

bool JackMidiPort::ConnectTo(const JackPortName& to, const std::vector<JackPortName>& ports) {
    source.clear();
    for (const JackPortName& port : ports)
        if (!port.input && port.client == to.client) {
            source = port.full;
            break;
        }
    if (!connection->Connect(connection->OutputName(), to.full)) {
        searched = false;
        return false;
    }
    destination = to.full;
    if (source.empty())
        Trace("JackMidiPort::IsConnected: %s has no output port; no replies will arrive\n",
              to.client.c_str());
    else
        connection->Connect(source, connection->InputName());
    if (!connection->WaitUntilConnected(connection->OutputName(), destination, connectLimit) ||
        (!source.empty() &&
         !connection->WaitUntilConnected(connection->InputName(), source, connectLimit))) {
        Trace("JackMidiPort::IsConnected: the server did not connect %s within %u ms\n",
              destination.c_str(), connectLimit);
        searched = false;
        return false;
    }
    return true;
}

bool JackMidiPort::IsConnected() {
    if (connected)
        FollowConnection();
    if (connected)
        return true;
    if (!ReadyToSearch())
        return false;
    searched = true;
    const std::vector<JackPortName> ports = connection->Ports();
    const auto to = std::find_if(ports.begin(), ports.end(), [this](const JackPortName& port) {
        return port.input && NameMatches(settings.names, port.client, port.port);
    });
    if (to == ports.end()) {
        if (!toldMissing)
            Trace("JackMidiPort::IsConnected: no port named as the update names the device\n");
        toldMissing = true;
        return false;
    }
    if (!ConnectTo(*to, ports))
        return false;
    connected = true;
    toldMissing = false;
    Trace("JackMidiPort::IsConnected: Connected to %s\n", destination.c_str());
    return true;
}

void JackMidiPort::Disconnect() {
    searched = false; // the device is looked for afresh next time
    if (!connected)
        return;
    if (!connection->Drain(drainLimit))
        Trace("JackMidiPort::Disconnect: queued bytes did not go out within %u ms\n", drainLimit);
    connected = false;
    connection->Disconnect(connection->OutputName(), destination);
    if (!source.empty())
        connection->Disconnect(source, connection->InputName());
    Trace("JackMidiPort::Disconnect: %s\n", destination.c_str());
}

void JackMidiPort::Transmit(const unsigned char* data, unsigned long size) {
    if (!connected) {
        Trace("JackMidiPort::Send: Not connected, %lu bytes not sent\n", size);
        Undelivered(size);
        return;
    }
    if (!connection->Queue(data, size, !SendingRequest())) {
        Trace("JackMidiPort::Send: the JACK server has gone, %lu bytes not sent\n", size);
        Undelivered(size);
    }
}

} // namespace midiupdate
