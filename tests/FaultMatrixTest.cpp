// The fault matrix through the console's simulated port.

#include "tests/FaultMatrix.h"
#include "Simulator/SimulatedMidiPort.h"

#include <gtest/gtest.h>

namespace {

class SimulatedPortUnderTest : public testsupport::PortUnderTest {
public:
    const char* Name() const override { return "console simulated port"; }
    bool AsksForIdentity() const override { return true; }
    std::unique_ptr<MidiPort> Attach(SimulatedDevice& device, const Update&,
                                     VirtualClock&) override {
        return std::make_unique<SimulatedMidiPort>(device);
    }
};

} // namespace

TEST(FaultMatrix, ConsoleSimulatedPort) {
    SimulatedPortUnderTest port;
    testsupport::RunFaultMatrix(port);
}
