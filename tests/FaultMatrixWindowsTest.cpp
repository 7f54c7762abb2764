// The fault matrix through the Windows port, against the winmm stand-in.

#include "MidiUpdateLib/Update.h"
#include "Stand-ins/user32/MessageBoxStandIn.h"
#include "Stand-ins/winmm/WinmmStandIn.h"
#include "Windows/WindowsMidiPort.h"
#include "tests/FaultMatrix.h"

#include <gtest/gtest.h>

namespace {

class WindowsPortUnderTest : public testsupport::PortUnderTest {
public:
    const char* Name() const override { return "Windows port (winmm)"; }
    bool AsksForIdentity() const override { return false; }
    bool Stages(testsupport::PlatformFault fault) const override {
        return fault != testsupport::PlatformFault::offlineTwinFirst;
    }
    // Replies come on a thread of their own, as winmm's input callback does.
    void Adjust(SimulatedDeviceConfig& config) const override { config.ownDeliveryThread = true; }
    std::unique_ptr<MidiPort> Attach(SimulatedDevice& device, const Update& update,
                                     VirtualClock&) override {
        user32standin::SetAnswers({}); // no other device is taken instead
        winmmstandin::Port widget;
        widget.name = "Widget";
        widget.device = &device;
        using testsupport::PlatformFault;
        if (fault == PlatformFault::driverHoldsAMessage) {
            widget.heldMessage = 2;
            widget.heldFor = 600000;
        }
        if (fault == PlatformFault::opensFail)
            widget.failingOpens = 12;
        if (fault == PlatformFault::preparesFail)
            widget.failingPrepares = 3;
        if (fault == PlatformFault::sendRefused)
            widget.refusedMessage = 2;
        std::vector<winmmstandin::Port> ports{winmmstandin::MidiMapper(), widget};
        if (fault == PlatformFault::unreadableNameFirst) {
            winmmstandin::Port unreadable;
            unreadable.name = "Widget";
            unreadable.nameUnreadable = true;
            ports.insert(ports.begin() + 1, unreadable);
        }
        winmmstandin::Install(ports);
        return std::make_unique<WindowsMidiPort>(update.windowsParameters);
    }
    void Detach(SimulatedDevice&) override {
        EXPECT_EQ(winmmstandin::OpenHandles(), 0u);
        EXPECT_EQ(winmmstandin::BytesLost(), 0u);
        winmmstandin::Install({});
    }
};

} // namespace

TEST(FaultMatrix, WindowsPort) {
    WindowsPortUnderTest port;
    testsupport::RunFaultMatrix(port);
}
