#pragma once

// The device reached through a JACK server (or PipeWire's JACK layer). Our client's
// output and input ports are connected to the device's ports, found by name. Each
// complete SysEx message goes out as one JACK MIDI event, so no byte is ever dropped,
// a message larger than the server carries in one event is refused before anything is
// sent (CanCarry). Threads: the job's thread calls the MidiPort operations; JACK's
// threads and the connection's reader thread are described in JackConnection.

#include "Linux/JackConnection.h"
#include "Linux/LinuxMidiPort.h"

#include <memory>
#include <string>

class Update;

namespace midiupdate {

class JackMidiPort : public LinuxMidiPort {
public:
    explicit JackMidiPort(LinuxPortSettings settings);
    ~JackMidiPort() override;

    // Opens the client now, so that CanCarry can ask the server. False and a reason
    // when no server answers.
    bool Open(std::string& error);
    // Whether every message of the update fits in one event; else why not.
    bool CanCarry(const Update& update, std::string& error);

    bool IsConnected() override;
    void Disconnect() override; // waits, bounded, until every queued byte has gone out

protected:
    void Transmit(const unsigned char* data, unsigned long size) override;
    const char* ClassName() const override { return "JackMidiPort"; }

private:
    std::unique_ptr<JackConnection> NewConnection();
    // While connected: notices the device's port going, and reconnects ports that came back.
    void FollowConnection();
    // Whether to search for the device now: a client is open and something changed.
    bool ReadyToSearch();
    bool ConnectTo(const JackPortName& to, const std::vector<JackPortName>& ports);

    std::unique_ptr<JackConnection> connection; // replaced when the server has gone
    bool connected = false;
    std::string destination; // the device's input port, full name
    std::string source;      // its output port; empty: it cannot be listened to
    bool toldMissing = false;
    bool searched = false;
};

} // namespace midiupdate
