#pragma once

// The one way every host makes the simulated device (the console's `send --simulate` and
// `device`, the winmm and CoreMIDI stand-ins): from the device's options and the update
// being sent, the device named by --device-name or else by the host's own name for it,
// expecting the portions of --device-expects or of the update sent, as the host's port
// will send them, and kept together with everything it refers to.
//
// Threads: made and ended on one thread; the device itself is described in
// SimulatedDevice.h.

#include "Simulator/DeviceOptions.h"
#include "Simulator/ReplyScheduler.h"
#include "Simulator/SimulatedDevice.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class Update;

using Portions = std::vector<std::vector<unsigned char>>;

// What the host says about the device it serves.
struct DeviceHost {
    // The name when --device-name is not given; empty keeps the device's default.
    std::string defaultName;
    // The portions as the host's port sends them, when it changes them (framed chunks);
    // none: as they are in the update.
    std::function<Portions(const Update&)> shape;
    // The device outlives the update sent (a stand-in's device, kept between jobs): it
    // keeps a copy of that update's portions instead of referring to them.
    bool copyPortions = false;
    // Replies come on a thread of the device's own, as a driver's would.
    bool ownDeliveryThread = true;
};

class ServedDevice {
public:
    // `sent` is the update being sent (null for none: --device-expects is then needed).
    // `expects`, when given, is --device-expects already loaded, and must outlive the
    // device. Null with a reason when the expected update cannot be read, none is known,
    // or the device cannot present itself as configured.
    static std::unique_ptr<ServedDevice> Make(const DeviceOptions& options, const Update* sent,
                                              const DeviceHost& host,
                                              std::unique_ptr<ReplyScheduler> scheduler,
                                              std::string& error, const Update* expects = nullptr);
    ~ServedDevice();
    ServedDevice(const ServedDevice&) = delete;
    ServedDevice& operator=(const ServedDevice&) = delete;

    SimulatedDevice& Device() { return *device; }
    const SimulatedDeviceConfig& Config() const { return device->Config(); }
    const Update& Expected() const { return *expected; } // the update whose portions it expects

private:
    ServedDevice() = default;

    std::unique_ptr<Update> loaded; // --device-expects, when loaded here
    const Update* expected = nullptr;
    Portions portions;                       // shaped or copied portions
    std::unique_ptr<SimulatedDevice> device; // last: refers to the above
};
