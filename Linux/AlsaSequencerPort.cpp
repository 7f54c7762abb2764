#include "Linux/AlsaSequencerPort.h"

#include "MidiUpdateLib/OS.h"

namespace midiupdate {

// The sequencer takes any amount in one Send (it is cut into pieces on the way); this
// only keeps one chunk's pieces within the client's output buffer.
static const unsigned long alsaChunkLimit = 64 * 1024;

AlsaSequencerPort::AlsaSequencerPort(LinuxPortSettings settings)
    : LinuxMidiPort(std::move(settings), alsaChunkLimit),
      sequencer([this](const unsigned char* data, std::size_t size) { Received(data, size); },
                [this](AlsaSequencer::Announcement what, int client, int port) {
                    Announced(what, client, port);
                }) {}

AlsaSequencerPort::~AlsaSequencerPort() {
    Disconnect();
}

void AlsaSequencerPort::Announced(AlsaSequencer::Announcement what, int client, int port) {
    if (what == AlsaSequencer::Announcement::Started)
        appeared = true;
    if (what == AlsaSequencer::Announcement::Ended) {
        // Only our device's going matters; anything else that leaves is not ours.
        if (client == watchedClient && (port < 0 || port == watchedPort))
            gone = true;
    }
}

bool AlsaSequencerPort::Find(AlsaPortInfo& to, AlsaPortInfo& from) {
    const std::vector<AlsaPortInfo> ports = sequencer.Ports();
    for (const AlsaPortInfo& port : ports) {
        if (!port.writable || !NameMatches(settings.names, port.clientName, port.portName))
            continue;
        to = port;
        from = AlsaPortInfo{};
        // The device answers on the same port if it can, else on another of its client.
        if (port.readable) {
            from = port;
        } else {
            for (const AlsaPortInfo& other : ports)
                if (other.client == port.client && other.readable) {
                    from = other;
                    break;
                }
        }
        return true;
    }
    return false;
}

bool AlsaSequencerPort::IsConnected() {
    if (connected && gone.exchange(false)) {
        Trace("AlsaSequencerPort::IsConnected: %s:%s has gone\n", destination.clientName.c_str(),
              destination.portName.c_str());
        Disconnect();
    }
    if (connected)
        return true;
    if (!sequencer.IsOpen()) {
        std::string error;
        if (!sequencer.Open(settings.clientName, "out", "in", error)) {
            if (!toldMissing)
                Trace("AlsaSequencerPort::IsConnected: %s\n", error.c_str());
            toldMissing = true;
            return false;
        }
    }
    // Searched again only once a port or client has been announced since the last search.
    if (sequencer.Announces() && !appeared.exchange(false))
        return false;
    AlsaPortInfo to;
    AlsaPortInfo from;
    gone = false;
    if (!Find(to, from)) {
        if (!toldMissing)
            Trace("AlsaSequencerPort::IsConnected: no port named as the update names the device\n");
        toldMissing = true;
        return false;
    }
    destination = to;
    source = from;
    watchedPort = to.port;
    watchedClient = to.client;
    if (!OpenRawOutput(to) && !sequencer.ConnectTo(to.client, to.port)) {
        appeared = true;
        return false;
    }
    if (from.client >= 0)
        sequencer.ConnectFrom(from.client, from.port);
    else
        Trace("AlsaSequencerPort::IsConnected: %s:%s cannot be listened to; no replies will "
              "arrive\n",
              to.clientName.c_str(), to.portName.c_str());
    connected = true;
    toldMissing = false;
    Trace("AlsaSequencerPort::IsConnected: Connected to %s:%s (%d:%d)\n", to.clientName.c_str(),
          to.portName.c_str(), to.client, to.port);
    return true;
}

bool AlsaSequencerPort::OpenRawOutput(const AlsaPortInfo& port) {
    const std::string device = RawMidiDeviceOf(port);
    if (device.empty())
        return false; // a software port: only the sequencer reaches it
    std::string error;
    if (!rawOutput.Open(device, error)) {
        // Held by a program subscribed through the sequencer: shared there, unpaced.
        Trace("AlsaSequencerPort::IsConnected: %s; sending through the sequencer\n", error.c_str());
        return false;
    }
    Trace("AlsaSequencerPort::IsConnected: writing to %s raw\n", device.c_str());
    return true;
}

void AlsaSequencerPort::Disconnect() {
    appeared = true; // the device is looked for afresh next time
    if (!connected)
        return;
    connected = false;
    watchedClient = -1;
    if (rawOutput.IsOpen())
        rawOutput.Close();
    else
        sequencer.DisconnectTo(destination.client, destination.port);
    if (source.client >= 0)
        sequencer.DisconnectFrom(source.client, source.port);
    Trace("AlsaSequencerPort::Disconnect: %s:%s\n", destination.clientName.c_str(),
          destination.portName.c_str());
}

void AlsaSequencerPort::Transmit(const unsigned char* data, unsigned long size) {
    if (!connected) {
        Trace("AlsaSequencerPort::Send: Not connected, %lu bytes not sent\n", size);
        Undelivered(size);
        return;
    }
    if (gone) {
        // Events for a client that has left go nowhere; the sequencer says nothing of it.
        Trace("AlsaSequencerPort::Send: %s:%s has gone, %lu bytes not sent\n",
              destination.clientName.c_str(), destination.portName.c_str(), size);
        Undelivered(size);
        return;
    }
    if (rawOutput.IsOpen()) {
        const unsigned long written = rawOutput.Write(data, size);
        if (written < size)
            Undelivered(size - written);
        return;
    }
    if (!sequencer.Send(data, size)) {
        Trace("AlsaSequencerPort::Send: %lu bytes not delivered\n", size);
        Undelivered(size);
    }
}

} // namespace midiupdate
