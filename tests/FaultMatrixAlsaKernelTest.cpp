// The fault matrix through the ALSA port and the kernel's own sequencer, in real time:
// run inside the user-mode Linux kernel (tests/uml/run.sh). Threads: the test's thread
// runs the transfer; a presence thread serves the device on the sequencer while it is
// there; the sequencer's reader threads and the device's carry the bytes.

#include "Linux/AlsaSequencerPort.h"
#include "MidiUpdateLib/Update.h"
#include "Simulator/Hosting/AlsaDeviceEndpoint.h"
#include "Simulator/SimulatedDevice.h"
#include "tests/FaultMatrix.h"
#include "tests/Presence.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <thread>
#include <unistd.h>

namespace {

class AlsaKernelPortUnderTest : public testsupport::PortUnderTest {
public:
    const char* Name() const override { return "ALSA port, kernel sequencer"; }
    bool AsksForIdentity() const override { return true; }
    bool RealTime() const override { return true; }
    void Adjust(SimulatedDeviceConfig& config) const override { config.ownDeliveryThread = true; }
    std::unique_ptr<MidiPort> Attach(SimulatedDevice& device, const Update& update,
                                     VirtualClock&) override {
        presence = std::make_unique<testsupport::Presence<midiupdate::AlsaDeviceEndpoint>>(
            device, "Widget");
        return std::make_unique<midiupdate::AlsaSequencerPort>(
            midiupdate::PortSettingsFor(update, std::nullopt));
    }
    void Detach(SimulatedDevice&) override { presence.reset(); }

private:
    std::unique_ptr<testsupport::Presence<midiupdate::AlsaDeviceEndpoint>> presence;
};

class AlsaKernelFaultMatrix : public ::testing::TestWithParam<std::string> {};

} // namespace

TEST_P(AlsaKernelFaultMatrix, Scenario) {
    ASSERT_EQ(access("/dev/snd/seq", R_OK | W_OK), 0)
        << "no sequencer: run inside the kernel (tests/uml/run.sh)";
    AlsaKernelPortUnderTest port;
    testsupport::RunFaultMatrixRow(port, GetParam());
}

// Rows of minutes are left to the JACK column: the kernel's sequencer would only repeat
// the same waits.
INSTANTIATE_TEST_SUITE_P(
    Seconds, AlsaKernelFaultMatrix,
    ::testing::ValuesIn(testsupport::FaultMatrixLabels(AlsaKernelPortUnderTest(), false)),
    [](const ::testing::TestParamInfo<std::string>& info) {
        return testsupport::FaultMatrixTestName(info.param);
    });
