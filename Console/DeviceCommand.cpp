#include "Console/Commands.h"

#include "Linux/AlsaDeviceEndpoint.h"
#include "Linux/JackDeviceEndpoint.h"
#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/Update.h"
#include "Simulator/DeviceOptions.h"
#include "Simulator/SimulatedDevice.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <ctime>
#include <memory>
#include <ostream>
#include <pthread.h>
#include <type_traits>

namespace midiupdate {
namespace {

// How often the device's coming and going is followed: well within the sender's
// one-second connection checks.
const long presencePollNanoseconds = 20 * 1000 * 1000;

struct DeviceRequest {
    std::optional<std::string> jack;
    std::optional<std::string> alsa;
    std::vector<std::string> deviceWords;
};

// The device on a real port, present only while the simulated device is.
class Served {
public:
    virtual ~Served() = default;
    virtual void AddArrival(ArrivalStatistics&) {}
};

template <class Endpoint> class ServedOn : public Served {
public:
    explicit ServedOn(SimulatedDevice& device) : endpoint(device) {}
    void AddArrival(ArrivalStatistics& total) override {
        if constexpr (std::is_same_v<Endpoint, JackDeviceEndpoint>) {
            const ArrivalStatistics mine = endpoint.Arrival();
            total.bytes += mine.bytes;
            total.bursts += mine.bursts;
            total.activeSeconds += mine.activeSeconds;
        }
    }
    Endpoint endpoint;
};

int ServeDevice(const DeviceRequest& request, std::ostream& out, std::ostream& err) {
    DeviceOptions options;
    std::string error;
    if (!ParseDeviceOptions(request.deviceWords, options, error)) {
        err << "device: " << error << '\n';
        return exitUsage;
    }
    if (options.expectsPath.empty()) {
        // Only the update tells the device where one portion ends and the next begins.
        err << "device: --device-expects FILE is needed: the update the device expects\n";
        return exitUsage;
    }
    const std::unique_ptr<Update> expects = LoadExpectedUpdate(options.expectsPath, error);
    if (!expects) {
        err << "device: " << error << '\n';
        return exitUsage;
    }
    if (!request.jack && !request.alsa) {
        err << "device: say where to serve it: --jack NAME or --alsa NAME\n";
        return exitUsage;
    }
    const bool jack = request.jack.has_value();
    const std::string name = jack ? *request.jack : *request.alsa;
    SimulatedDeviceConfig config = options.device;
    if (!options.nameGiven)
        config.name = name;
    config.expected = PortionViews(*expects);
    config.keepReceived = false;
    config.ownDeliveryThread = true;
    const std::string problem = ConfigProblem(config);
    if (!problem.empty()) {
        err << "device: " << problem << '\n';
        return exitUsage;
    }

    // Blocked before any thread starts, so only this thread takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &signals, &previous);
    SetTraceSink([](const std::string&) {}); // the device's own log would bury its report

    int status = exitOk;
    {
        SimulatedDevice device(config, std::make_unique<RealTimeScheduler>());
        std::unique_ptr<Served> served;
        ArrivalStatistics arrival;
        const char* api = jack ? "JACK" : "the ALSA sequencer";
        out << "Device '" << config.name << "' expects " << expects->sysExPortions.size()
            << " portions (" << BytesToHuman(expects->TotalSysExSize()) << "); Ctrl-C ends.\n"
            << std::flush;
        for (;;) {
            const bool present = device.IsPresent();
            if (present && !served) {
                std::unique_ptr<Served> made;
                bool opened;
                if (jack) {
                    auto endpoint = std::make_unique<ServedOn<JackDeviceEndpoint>>(device);
                    opened = endpoint->endpoint.Open(name, error);
                    made = std::move(endpoint);
                } else {
                    auto endpoint = std::make_unique<ServedOn<AlsaDeviceEndpoint>>(device);
                    opened = endpoint->endpoint.Open(name, error);
                    made = std::move(endpoint);
                }
                if (!opened) {
                    err << "device: cannot serve on " << api << ": " << error << '\n';
                    status = exitRejected;
                    break;
                }
                served = std::move(made);
                out << "Serving '" << name << "' on " << api << ".\n" << std::flush;
            } else if (!present && served) {
                served->AddArrival(arrival);
                served.reset();
                out << "The device has vanished.\n" << std::flush;
            }
            const timespec poll{0, presencePollNanoseconds};
            if (sigtimedwait(&signals, nullptr, &poll) > 0)
                break;
        }
        if (served)
            served->AddArrival(arrival);
        served.reset();
        if (status == exitOk) {
            const std::optional<IntegrityReport> integrity = device.Integrity();
            const std::size_t portions = device.CompletedPortions();
            const std::size_t requests = device.IdentityRequests();
            out << Format("Received %zu complete portion%s and %zu identity request%s.\n", portions,
                          portions == 1 ? "" : "s", requests, requests == 1 ? "" : "s");
            if (integrity) {
                out << integrity->text << '\n';
                if (!integrity->identical)
                    status = exitCorrupted;
            }
            if (arrival.bytes && arrival.activeSeconds > 0)
                out << Format("Arrival: %s in %u bursts, %.1f ms from first to last byte of "
                              "each: %.2f MB/s\n",
                              BytesToHuman(static_cast<unsigned int>(arrival.bytes)).c_str(),
                              arrival.bursts, arrival.activeSeconds * 1000.0,
                              arrival.bytes / arrival.activeSeconds / 1e6);
        }
    }
    SetTraceSink(nullptr);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return status;
}

} // namespace

Command AddDeviceCommand(CLI::App& program) {
    auto request = std::make_shared<DeviceRequest>();
    CLI::App* device = program.add_subcommand(
        "device", "Serve a simulated device on a real MIDI port until Ctrl-C, then report what "
                  "it received.");
    CLI::Option* jack =
        device->add_option("--jack", request->jack, "Serve it on JACK as client NAME.")
            ->type_name("NAME");
    device->add_option("--alsa", request->alsa, "Serve it on the ALSA sequencer as port NAME.")
        ->type_name("NAME")
        ->excludes(jack);
    const auto word = [&](const std::string& name, const std::string& placeholder,
                          const std::string& help) {
        device
            ->add_option_function<std::string>(
                name,
                [request, name](const std::string& value) {
                    request->deviceWords.insert(request->deviceWords.end(), {name, value});
                },
                help)
            ->type_name(placeholder)
            ->group("Simulated device");
    };
    word("--device-expects", "FILE", "The update the device expects (needed).");
    word("--device-name", "NAME", "The name in its identity reply (default: the port's).");
    word("--device-status", "SCRIPT",
         "Replies per portion, the last repeating: accept, error, busy:N, busy, silent, garbage "
         "(default accept).");
    word("--device-version", "MAJOR.MINOR",
         "The version it answers the identity request with (default: it does not answer).");
    word("--device-appears-after", "MS", "Milliseconds before its port is there.");
    word("--device-vanishes-after-portion", "N:MS",
         "After portion N its port is away for MS milliseconds.");
    return {device, [request](std::ostream& out, std::ostream& err) {
                return ServeDevice(*request, out, err);
            }};
}

} // namespace midiupdate
