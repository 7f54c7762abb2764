// The fault matrix through the ALSA sequencer port, against the stand-in sequencer.

#include "Linux/AlsaSequencerPort.h"
#include "MidiUpdateLib/Update.h"
#include "Stand-ins/alsa/AlsaStandIn.h"
#include "tests/FaultMatrix.h"

#include <gtest/gtest.h>

namespace {

class AlsaPortUnderTest : public testsupport::PortUnderTest {
public:
    const char* Name() const override { return "ALSA sequencer port"; }
    bool AsksForIdentity() const override { return true; }
    // A plugged device client stays there while its simulated device is absent.
    bool FollowsPresence() const override { return false; }
    std::unique_ptr<MidiPort> Attach(SimulatedDevice& device, const Update& update) override {
        client = alsastandin::PlugDevice("Widget", "Widget MIDI 1", device);
        // The update's own pacing, as the program uses it.
        return std::make_unique<midiupdate::AlsaSequencerPort>(
            midiupdate::PortSettingsFor(update, std::nullopt));
    }
    void Detach(SimulatedDevice&) override { alsastandin::UnplugDevice(client); }

private:
    int client = -1;
};

} // namespace

TEST(FaultMatrix, AlsaSequencerPort) {
    AlsaPortUnderTest port;
    testsupport::RunFaultMatrix(port);
    EXPECT_EQ(alsastandin::OpenClients(), 0u);
}
