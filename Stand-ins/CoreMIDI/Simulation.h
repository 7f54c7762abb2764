#pragma once

// What stands behind the CoreMIDI stand-in's endpoints: simulated devices, and extra
// endpoints of the kinds a Mac shows (offline ones, ones whose display name cannot be
// read). Set up by tests and by test builds of the Mac program; any thread.

#include <CoreMIDI/CoreMIDI.h>

#include <cstddef>
#include <string>
#include <vector>

class SimulatedDevice;

namespace coremidistandin {

struct EndpointSpec {
    std::string name;
    std::string manufacturer;
    std::string displayName;         // empty: the same as the name
    bool displayNameReadable = true; // false: reading it fails with kMIDIUnknownProperty
    SInt32 offline = 0;
};

struct DeviceEndpoints {
    MIDIEndpointRef destination = 0;
    MIDIEndpointRef source = 0;
};

// Drops every endpoint, device, client and port, and lets go of the devices' outputs.
// Waits for a delivery in progress.
void Reset();

// A MIDI device with one entity: what is sent to its destination goes to `device`, and
// the device's messages come from its source. Both are offline while the simulated
// device is absent. The device's output is taken over; it must live until Reset.
DeviceEndpoints AttachDevice(SimulatedDevice& device, const EndpointSpec& spec);
// Endpoints with nothing behind them: sends are counted and dropped, a source sends
// only what Emit gives it.
MIDIEndpointRef AddDestination(const EndpointSpec& spec);
MIDIEndpointRef AddSource(const EndpointSpec& spec);
void SetOffline(MIDIEndpointRef endpoint, SInt32 offline);

// `bytes` sent by `source`: cut into packets and packet lists as SetSlicing says and
// handed to every input port connected to it, on the stand-in's delivery thread.
// Returns once they have been delivered.
void Emit(MIDIEndpointRef source, const std::vector<unsigned char>& bytes);
// At most `packetSize` bytes per packet and `packetsPerList` packets per list (by
// default 100 and 2, so a 300-byte reply comes as three packets in two lists).
void SetSlicing(std::size_t packetSize, std::size_t packetsPerList);

// The length of every packet sent to `destination`, in order.
std::vector<std::size_t> PacketSizes(MIDIEndpointRef destination);

} // namespace coremidistandin
