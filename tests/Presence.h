#pragma once

// The simulated device served on a real port (JACK or the ALSA sequencer) only while it
// is present, as a USB device's client is there only while it is plugged in. Threads:
// a thread of its own follows the device every 20 ms, as the console's device command
// does, well within the sender's one-second connection checks.

#include "Simulator/SimulatedDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace testsupport {

template <class Endpoint> class Presence {
public:
    Presence(SimulatedDevice& device, std::string name) : device(device), name(std::move(name)) {
        // Before the transfer begins, so a present device is there at once.
        Follow();
        while (!served && failedOpens > 0 && failedOpens < openAttempts) {
            std::this_thread::sleep_for(poll);
            Follow();
        }
        thread = std::thread([this] {
            while (!stopping) {
                std::this_thread::sleep_for(poll);
                Follow();
            }
        });
    }
    ~Presence() {
        stopping = true;
        thread.join();
    }
    Presence(const Presence&) = delete;
    Presence& operator=(const Presence&) = delete;

private:
    // Now and then a client cannot attach to its server (JACK's status 0x21) when another
    // server starts at the same moment. Refused for a whole second, the device fails the
    // test.
    static constexpr unsigned int openAttempts = 50;
    static constexpr std::chrono::milliseconds poll{20};

    void Follow() {
        const bool present = device.IsPresent();
        if (present && !served) {
            auto endpoint = std::make_unique<Endpoint>(device);
            std::string error;
            if (endpoint->Open(name, error)) {
                served = std::move(endpoint);
                failedOpens = 0;
            } else if (++failedOpens == openAttempts) {
                ADD_FAILURE() << "the device cannot be served: " << error;
            }
        } else if (!present && served) {
            served.reset();
        }
    }

    SimulatedDevice& device;
    const std::string name;
    std::unique_ptr<Endpoint> served;
    unsigned int failedOpens = 0; // in a row
    std::atomic<bool> stopping{false};
    std::thread thread; // last: starts once the members above exist
};

} // namespace testsupport
