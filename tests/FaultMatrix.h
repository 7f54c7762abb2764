#pragma once

// One table of faults a device can throw at a transfer, run through every kind of port
// we have on the virtual clock (or, for a port through a real server, in real time
// bounded by the wall clock): each must end in the designed verdict, within the
// design's waits, with every portion sent while connected received exactly, and with
// the bytes the device missed counted by the port, and no others.

#include "MidiUpdateLib/MidiPort.h"
#include "MidiUpdateLib/VirtualClock.h"
#include "Simulator/SimulatedDevice.h"

#include <memory>
#include <string>
#include <vector>

class Update;

namespace testsupport {

// Faults between the port and the device that only some platforms can stage.
enum class PlatformFault {
    none,
    driverHoldsAMessage, // the driver hands the second long message back 10 min late
    opensFail,           // another program holds the device for its next twelve opens
    preparesFail,        // the driver is short of memory for three header preparations
    unreadableNameFirst, // a device whose name cannot be read is listed before it
    offlineTwinFirst,    // an offline device of the same name is listed before it
    sendRefused,         // the system refuses the second chunk of portion 1
};

// Puts a simulated device behind one kind of port and makes the port that reaches it.
class PortUnderTest {
public:
    virtual ~PortUnderTest() = default;
    virtual const char* Name() const = 0;
    // Scenarios with a fault the port cannot stage are left out.
    virtual bool Stages(PlatformFault fault) const { return fault == PlatformFault::none; }
    // The scenario's, for Attach.
    PlatformFault fault = PlatformFault::none;
    // Whether the port's ReceiveSysEx asks the device for its identity (the platform
    // ports of the design only look at what came, so a silent device stays unconfirmed).
    virtual bool AsksForIdentity() const = 0;
    virtual void Adjust(SimulatedDeviceConfig&) const {}
    // A port through a real server cannot follow the virtual clock: its scenarios run in
    // real time, the device's replies on a real-time scheduler, each bounded by the wall
    // clock.
    virtual bool RealTime() const { return false; }
    // The device is named "Widget", as the update's port names are. `clock` is the
    // installed one (installed only when not RealTime), for platforms that must follow
    // the device's coming and going.
    virtual std::unique_ptr<MidiPort> Attach(SimulatedDevice& device, const Update& update,
                                             VirtualClock& clock) = 0;
    // After the port is gone: takes the device away from the platform again.
    virtual void Detach(SimulatedDevice&) {}
    // A real-time scenario outran its wall-clock bound and the process ends at once:
    // stop what would outlive it.
    virtual void Abandon() {}
};

struct FaultMatrixRow {
    std::string label;
    unsigned int maxExtraSeconds; // beyond an accepting device's transfer
};

// The scenarios the port stages, in the table's order.
std::vector<FaultMatrixRow> FaultMatrixRows(const PortUnderTest& port);
// For ports in real time, one test per scenario: the labels of the rows that take
// seconds, or those that take minutes (of real time, and a longer ctest timeout).
std::vector<std::string> FaultMatrixLabels(const PortUnderTest& port, bool minutes);
// A label as a test's name: "busy three times, then accepts" ->
// "busy_three_times_then_accepts".
std::string FaultMatrixTestName(const std::string& label);

// Runs every scenario through the port, with gtest expectations, and prints one line per
// scenario: verdict, virtual time, bytes verified.
void RunFaultMatrix(PortUnderTest& port);
// The same for the one scenario `label`, after the accepting one for the baseline.
void RunFaultMatrixRow(PortUnderTest& port, const std::string& label);

} // namespace testsupport
