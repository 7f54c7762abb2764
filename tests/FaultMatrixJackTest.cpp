// The fault matrix through the JACK port, against a JACK server of the test's own, in
// real time: one test per scenario, so that ctest runs them side by side, each with its
// own server. Threads: the test's thread runs the transfer; a presence thread serves the
// device on JACK while it is there; JACK's and the device's threads carry the bytes.

#include "Linux/JackMidiPort.h"
#include "MidiUpdateLib/Update.h"
#include "Simulator/Hosting/JackDeviceEndpoint.h"
#include "Simulator/SimulatedDevice.h"
#include "harness/JackServer.h"
#include "tests/FaultMatrix.h"
#include "tests/Presence.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <thread>

namespace {

class JackPortUnderTest : public testsupport::PortUnderTest {
public:
    explicit JackPortUnderTest(testsupport::JackServer* server = nullptr) : server(server) {}
    const char* Name() const override { return "JACK port (real time)"; }
    bool AsksForIdentity() const override { return true; }
    bool RealTime() const override { return true; }
    // Replies come on a thread of their own, as from a device served on JACK.
    void Adjust(SimulatedDeviceConfig& config) const override { config.ownDeliveryThread = true; }
    std::unique_ptr<MidiPort> Attach(SimulatedDevice& device, const Update& update,
                                     VirtualClock&) override {
        presence = std::make_unique<testsupport::Presence<midiupdate::JackDeviceEndpoint>>(
            device, "Widget");
        return std::make_unique<midiupdate::JackMidiPort>(
            midiupdate::PortSettingsFor(update, std::nullopt));
    }
    void Detach(SimulatedDevice&) override { presence.reset(); }
    void Abandon() override {
        if (server)
            server->Stop();
    }

private:
    testsupport::JackServer* const server;
    std::unique_ptr<testsupport::Presence<midiupdate::JackDeviceEndpoint>> presence;
};

class JackFaultMatrix : public ::testing::TestWithParam<std::string> {};

} // namespace

TEST_P(JackFaultMatrix, Scenario) {
    testsupport::JackServer server;
    ASSERT_TRUE(server.Ready()) << "jackd did not start:\n" << server.Log();
    JackPortUnderTest port(&server);
    testsupport::RunFaultMatrixRow(port, GetParam());
}

const auto byName = [](const ::testing::TestParamInfo<std::string>& info) {
    return testsupport::FaultMatrixTestName(info.param);
};
// Rows that take minutes of real time get a longer ctest timeout.
INSTANTIATE_TEST_SUITE_P(Seconds, JackFaultMatrix,
                         ::testing::ValuesIn(testsupport::FaultMatrixLabels(JackPortUnderTest(),
                                                                            false)),
                         byName);
INSTANTIATE_TEST_SUITE_P(Minutes, JackFaultMatrix,
                         ::testing::ValuesIn(testsupport::FaultMatrixLabels(JackPortUnderTest(),
                                                                            true)),
                         byName);
