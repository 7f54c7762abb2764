// The fault matrix through the ALSA sequencer port, against the stand-in sequencer.

#include "Linux/AlsaSequencerPort.h"
#include "MidiUpdateLib/Update.h"
#include "Stand-ins/alsa/AlsaStandIn.h"
#include "tests/FaultMatrix.h"

#include <gtest/gtest.h>

namespace {

// A USB device's client exists only while the device is there, so the device is plugged
// and unplugged as it comes and goes, looked at every 100 virtual ms.
class AlsaPortUnderTest : public testsupport::PortUnderTest {
public:
    const char* Name() const override { return "ALSA sequencer port"; }
    bool AsksForIdentity() const override { return true; }
    bool Stages(testsupport::PlatformFault fault) const override {
        return fault == testsupport::PlatformFault::none ||
               fault == testsupport::PlatformFault::sendRefused;
    }
    std::unique_ptr<MidiPort> Attach(SimulatedDevice& device, const Update& update,
                                     VirtualClock& clock) override {
        // The first event of chunk 2: chunk 1 is 1100 bytes, five 256-byte events.
        alsastandin::RefuseOutput(fault == testsupport::PlatformFault::sendRefused ? 6 : 0);
        following = std::make_shared<bool>(true);
        Follow(device, clock, following);
        // The update's own pacing, as the program uses it.
        return std::make_unique<midiupdate::AlsaSequencerPort>(
            midiupdate::PortSettingsFor(update, std::nullopt));
    }
    void Detach(SimulatedDevice&) override {
        *following = false;
        if (client >= 0)
            alsastandin::UnplugDevice(client);
        client = -1;
    }

private:
    void Follow(SimulatedDevice& device, VirtualClock& clock, std::shared_ptr<bool> on) {
        if (!*on)
            return;
        if (device.IsPresent() && client < 0)
            client = alsastandin::PlugDevice("Widget", "Widget MIDI 1", device);
        else if (!device.IsPresent() && client >= 0) {
            alsastandin::UnplugDevice(client);
            client = -1;
        }
        clock.Schedule(100, [this, &device, &clock, on] { Follow(device, clock, on); });
    }

    int client = -1;
    std::shared_ptr<bool> following;
};

} // namespace

TEST(FaultMatrix, AlsaSequencerPort) {
    AlsaPortUnderTest port;
    testsupport::RunFaultMatrix(port);
    EXPECT_EQ(alsastandin::OpenClients(), 0u);
}
