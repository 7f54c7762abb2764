#include "Stand-ins/winmm/Simulation.h"

#include "MidiUpdateLib/Update.h"
#include "Simulator/DeviceOptions.h"
#include "Simulator/SimulatedDevice.h"
#include "Stand-ins/winmm/StandIn.h"

#include <mutex>

namespace winmmstandin {
namespace {

// The device refers to `framed`, which refers to nothing: end the device first.
struct Simulation {
    std::vector<std::vector<unsigned char>> framed;
    std::unique_ptr<SimulatedDevice> device;
};

std::mutex lock;
std::unique_ptr<Simulation> current;

} // namespace

namespace {

bool Start(const DeviceOptions& options, const Update& update,
           std::unique_ptr<ReplyScheduler> scheduler, std::string& error) {
    std::unique_ptr<Update> expects;
    if (!options.expectsPath.empty()) {
        expects = LoadExpectedUpdate(options.expectsPath, error);
        if (!expects)
            return false;
    }

    auto simulation = std::make_unique<Simulation>();
    simulation->framed =
        FramedPortions((expects ? *expects : update).sysExPortions, update.windowsParameters);
    SimulatedDeviceConfig config = options.device;
    if (!options.nameGiven && !update.windowsParameters.names.empty())
        config.name = *update.windowsParameters.names.begin();
    for (const std::vector<unsigned char>& portion : simulation->framed)
        config.expected.push_back({portion.data(), portion.size()});
    config.keepReceived = false;
    // Replies come on a thread of the device's own, as a driver's would.
    config.ownDeliveryThread = true;
    simulation->device = std::make_unique<SimulatedDevice>(config, std::move(scheduler));

    Port device;
    device.name = config.name;
    device.device = simulation->device.get();
    Install({WavetableSynth(), MidiMapper(), device});
    std::lock_guard<std::mutex> guard(lock);
    current = std::move(simulation);
    return true;
}

} // namespace

bool Simulate(const std::string& words, const Update& update,
              std::unique_ptr<ReplyScheduler> scheduler, std::string& error) {
    DeviceOptions options;
    return ParseSimulateVariable(words.c_str(), options, error) &&
           Start(options, update, std::move(scheduler), error);
}

bool SimulateFromEnvironment(const Update& update, std::string& error) {
    DeviceOptions options;
    return DeviceOptionsFromEnvironment(options, error) &&
           Start(options, update, std::make_unique<RealTimeScheduler>(), error);
}

std::optional<IntegrityReport> SimulatedIntegrity() {
    std::lock_guard<std::mutex> guard(lock);
    if (!current)
        return std::nullopt;
    return current->device->Integrity();
}

void EndSimulation() {
    Install({});
    std::unique_ptr<Simulation> ended;
    {
        std::lock_guard<std::mutex> guard(lock);
        ended = std::move(current);
    }
    if (ended)
        ended->device.reset();
}

} // namespace winmmstandin
