#pragma once

// One table of faults a device can throw at a transfer, run through every kind of port
// we have on the virtual clock: each must end in the designed verdict, within the
// design's waits, with every portion sent while connected received exactly.

#include "MidiUpdateLib/MidiPort.h"
#include "MidiUpdateLib/VirtualClock.h"
#include "Simulator/SimulatedDevice.h"

#include <memory>

class Update;

namespace testsupport {

// Puts a simulated device behind one kind of port and makes the port that reaches it.
class PortUnderTest {
public:
    virtual ~PortUnderTest() = default;
    virtual const char* Name() const = 0;
    // Whether the port's ReceiveSysEx asks the device for its identity (the platform
    // ports of the design only look at what came, so a silent device stays unconfirmed).
    virtual bool AsksForIdentity() const = 0;
    virtual void Adjust(SimulatedDeviceConfig&) const {}
    // The device is named "Widget", as the update's port names are. `clock` is the
    // installed one, for platforms that must follow the device's coming and going.
    virtual std::unique_ptr<MidiPort> Attach(SimulatedDevice& device, const Update& update,
                                             VirtualClock& clock) = 0;
    // After the port is gone: takes the device away from the platform again.
    virtual void Detach(SimulatedDevice&) {}
};

// Runs every scenario through the port, with gtest expectations, and prints one line per
// scenario: verdict, virtual time, bytes verified.
void RunFaultMatrix(PortUnderTest& port);

} // namespace testsupport
