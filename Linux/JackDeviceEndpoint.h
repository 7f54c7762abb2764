#pragma once

// A simulated device served on a JACK server, so a real transfer can be tried without
// hardware: its client has an input port that feeds the device and an output port that
// carries its replies. Threads: the connection's reader thread feeds the device; the
// device's delivery thread queues its replies.

#include "Linux/JackConnection.h"

#include <string>

class SimulatedDevice;

namespace midiupdate {

class JackDeviceEndpoint {
public:
    explicit JackDeviceEndpoint(SimulatedDevice& device); // the device must outlive it
    ~JackDeviceEndpoint();
    JackDeviceEndpoint(const JackDeviceEndpoint&) = delete;
    JackDeviceEndpoint& operator=(const JackDeviceEndpoint&) = delete;

    // Client `name` with ports "in" and "out". False and a reason when it cannot.
    bool Open(const std::string& name, std::string& error);
    std::string ClientName() const { return connection.ClientName(); }
    bool ServerGone() const { return connection.ServerGone(); }

private:
    SimulatedDevice& device;
    JackConnection connection;
};

} // namespace midiupdate
