#include "Simulator/ServedDevice.h"

#include "MidiUpdateLib/Update.h"

std::unique_ptr<ServedDevice> ServedDevice::Make(const DeviceOptions& options, const Update* sent,
                                                 const DeviceHost& host,
                                                 std::unique_ptr<ReplyScheduler> scheduler,
                                                 std::string& error, const Update* expects) {
    std::unique_ptr<ServedDevice> served(new ServedDevice);
    if (!expects && !options.expectsPath.empty()) {
        served->loaded = LoadExpectedUpdate(options.expectsPath, error);
        if (!served->loaded)
            return nullptr;
        expects = served->loaded.get();
    }
    served->expected = expects ? expects : sent;
    if (!served->expected) {
        // Only an update tells the device where one portion ends and the next begins.
        error = "--device-expects FILE is needed: the update the device expects";
        return nullptr;
    }

    SimulatedDeviceConfig config = options.device;
    if (!options.nameGiven && !host.defaultName.empty())
        config.name = host.defaultName;
    const std::string problem = ConfigProblem(config);
    if (!problem.empty()) {
        error = problem;
        return nullptr;
    }
    const bool copy = !host.shape && host.copyPortions && served->expected == sent;
    if (host.shape)
        served->portions = host.shape(*served->expected);
    else if (copy)
        for (const Update::SysExPortion& portion : sent->sysExPortions)
            served->portions.push_back(portion.sysEx);
    if (host.shape || copy) {
        for (const std::vector<unsigned char>& portion : served->portions)
            config.expected.push_back(ByteView{portion.data(), portion.size()});
    } else {
        // The device compares against the update's own bytes as they arrive: no copies.
        config.expected = PortionViews(*served->expected);
    }
    config.keepReceived = false;
    config.ownDeliveryThread = host.ownDeliveryThread;
    served->device = std::make_unique<SimulatedDevice>(config, std::move(scheduler));
    return served;
}

ServedDevice::~ServedDevice() = default;
