#pragma once

// What stands behind the CoreMIDI stand-in's endpoints: simulated devices, and extra
// endpoints of the kinds a Mac shows (offline ones, ones whose display name cannot be
// read). Set up by tests and by test builds of the Mac program; any thread.

#include <CoreMIDI/CoreMIDI.h>

#include <cstddef>
#include <string>
#include <vector>

class SimulatedDevice;
class Update;

namespace coremidistandin {

struct EndpointSpec {
    std::string name;
    std::string manufacturer;
    std::string displayName;         // empty: the same as the name
    bool displayNameReadable = true; // false: reading it fails with kMIDIUnknownProperty
    SInt32 offline = 0;
    // A destination whose driver fails now and then: send number `refusedSend` (from 1;
    // 0 for none) answers kMIDIMessageSendErr and goes nowhere.
    unsigned int refusedSend = 0;
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
// Removes the device's endpoints and lets go of its output; the device may then go.
void DetachDevice(SimulatedDevice& device);
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

// The device that the environment variable MIDI_UPDATER_SIMULATE describes, with the
// words of `midi-updater-cli send --simulate`, put behind the stand-in for `update`: a
// test build of the Mac program calls this as each job creates its port. It replaces
// the device of the previous call and replies in real time. Without --device-name it
// takes the update's first Mac port name; without --device-expects it expects the
// update's own portions (of which it keeps a copy, as it outlives the job). True when
// the variable is unset or empty (nothing is set up), or when the device is in place;
// false with a message for the user on bad words or an unreadable expected update.
bool SimulateFromEnvironment(const Update& update, std::string& error);
// The environment's device's integrity line ("device received 2 portions, 8.5KB,
// identical to the update file"); empty when there is no such device.
std::string EnvironmentDeviceIntegrity();

} // namespace coremidistandin
