// The fault matrix through the Mac port, against the CoreMIDI stand-in.

#include "Application/CoreMidiPort.h"
#include "MidiUpdateLib/Update.h"
#include "Stand-ins/CoreMIDI/Simulation.h"
#include "tests/FaultMatrix.h"

#include <gtest/gtest.h>

namespace {

class CoreMidiPortUnderTest : public testsupport::PortUnderTest {
public:
    const char* Name() const override { return "Mac port (CoreMIDI)"; }
    bool AsksForIdentity() const override { return false; }
    bool Stages(testsupport::PlatformFault fault) const override {
        using testsupport::PlatformFault;
        return fault == PlatformFault::none || fault == PlatformFault::unreadableNameFirst ||
               fault == PlatformFault::offlineTwinFirst || fault == PlatformFault::sendRefused;
    }
    std::unique_ptr<MidiPort> Attach(SimulatedDevice& device, const Update& update,
                                     VirtualClock&) override {
        coremidistandin::Reset();
        coremidistandin::EndpointSpec spec;
        spec.name = "Widget";
        if (fault == testsupport::PlatformFault::sendRefused) {
            spec.refusedSend = 2;
        } else if (fault != testsupport::PlatformFault::none) {
            // Both ends of a device listed before the real one.
            coremidistandin::EndpointSpec other = spec;
            other.displayNameReadable = fault != testsupport::PlatformFault::unreadableNameFirst;
            other.offline = fault == testsupport::PlatformFault::offlineTwinFirst;
            coremidistandin::AddDestination(other);
            coremidistandin::AddSource(other);
        }
        coremidistandin::AttachDevice(device, spec);
        return std::make_unique<CoreMidiPort>(update.macPortNames);
    }
    void Detach(SimulatedDevice&) override { coremidistandin::Reset(); }
};

} // namespace

TEST(FaultMatrix, MacPort) {
    CoreMidiPortUnderTest port;
    testsupport::RunFaultMatrix(port);
}
