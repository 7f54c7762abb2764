#pragma once

// A simulated device served on a JACK server, so a real transfer can be tried without
// hardware: its client has an input port that feeds the device and an output port that
// carries its replies. Threads: the connection's reader thread feeds the device; the
// device's delivery thread queues its replies.

#include "Linux/JackConnection.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

class SimulatedDevice;

namespace midiupdate {

// How fast bytes arrived: a burst is bytes with no gap longer than a pause between
// portions could be, so `active` is the time from a burst's first to its last byte.
struct ArrivalStatistics {
    std::uint64_t bytes = 0;
    unsigned int bursts = 0;
    double activeSeconds = 0;
};

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
    ArrivalStatistics Arrival();

private:
    void Arrived(const unsigned char* data, std::size_t size); // the reader thread

    SimulatedDevice& device;
    std::mutex lock;
    ArrivalStatistics arrival;
    std::chrono::steady_clock::time_point burstStart;
    std::chrono::steady_clock::time_point lastArrival;
    JackConnection connection; // last: its reader thread uses the members above
};

} // namespace midiupdate
