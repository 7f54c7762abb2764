#pragma once

// What a served simulated device received, told as the console's `device` command tells
// it, for every program that serves one (the command, the tests' USB MIDI interface).

#include "Simulator/Hosting/JackDeviceEndpoint.h"
#include "Simulator/SimulatedDevice.h"

#include <iosfwd>

namespace midiupdate {

// Its portions, identity requests and integrity check.
void TellTransfer(const SimulatedDevice::TransferReport& transfer, std::ostream& out);

// The last transfer and, when one was measured, the arrival. exitCorrupted when any
// transfer's bytes differed from the update's, else exitOk.
int ReportDevice(const SimulatedDevice& device, const ArrivalStatistics& arrival,
                 std::ostream& out);

} // namespace midiupdate
