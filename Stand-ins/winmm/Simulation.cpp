#include "Stand-ins/winmm/Simulation.h"

#include "MidiUpdateLib/Update.h"
#include "Simulator/DeviceOptions.h"
#include "Simulator/ServedDevice.h"
#include "Stand-ins/winmm/StandIn.h"

#include <mutex>

namespace winmmstandin {
namespace {

std::mutex lock;
std::unique_ptr<ServedDevice> current;

bool Start(const DeviceOptions& options, const Update& update,
           std::unique_ptr<ReplyScheduler> scheduler, std::string& error) {
    DeviceHost host;
    if (!update.windowsParameters.names.empty())
        host.defaultName = *update.windowsParameters.names.begin();
    // The device counts portions as the Windows port sends them: chunked and framed.
    host.shape = [&update](const Update& expected) {
        return FramedPortions(expected.sysExPortions, update.windowsParameters);
    };
    std::unique_ptr<ServedDevice> served =
        ServedDevice::Make(options, &update, host, std::move(scheduler), error);
    if (!served)
        return false;

    Port device;
    device.name = served->Config().name;
    device.device = &served->Device();
    Install({WavetableSynth(), MidiMapper(), device});
    std::lock_guard<std::mutex> guard(lock);
    current = std::move(served);
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
    return current->Device().Integrity();
}

void EndSimulation() {
    Install({});
    std::unique_ptr<ServedDevice> ended;
    {
        std::lock_guard<std::mutex> guard(lock);
        ended = std::move(current);
    }
}

} // namespace winmmstandin
