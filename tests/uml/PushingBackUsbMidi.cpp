// A USB MIDI interface that pushes back, as real ones do, with the simulated device
// behind it: a FunctionFS function whose bulk OUT endpoint is read only as fast as a
// 31250-baud MIDI wire carries bytes, so the rest waits on the bus and the host's driver
// holds its writes. (The kernel's own MIDI gadget drops what its reader does not take
// in time instead.) The bytes go to the device and, as they come, to RECEIVED_FILE; the
// device's replies go back in event packets on the bulk IN endpoint.
//   PushingBackUsbMidi FFS_DIR RECEIVED_FILE DEVICE_OPTIONS...
// with the device options of the console's `device` (--device-expects FILE is needed).
// Prints "ready" once its descriptors are in: then the gadget may be bound. On SIGTERM
// or SIGINT it prints the device's report and exits as `device` does: 0 when what
// arrived is identical to the update, 6 when it differs.
//
// Threads: the main thread waits for the signal; a reader takes the OUT endpoint and
// feeds the device; the device's delivery thread writes its replies to the IN endpoint.

#include "tests/uml/UsbMidiDescriptors.h"
#include "tests/uml/UsbMidiPackets.h"

#include "Console/Commands.h"
#include "Console/DeviceReport.h"
#include "MidiUpdateLib/OS.h"
#include "Simulator/DeviceOptions.h"
#include "Simulator/ServedDevice.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// 31250 baud, ten bits a byte.
const double wireBytesPerSecond = 3125.0;

bool WriteAll(int fd, const std::vector<unsigned char>& bytes) {
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

int Open(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR);
    if (fd < 0)
        std::perror(path.c_str());
    return fd;
}

// Takes the host's packets no faster than the wire would carry their bytes: each read
// waits until the bytes before it would have gone out, counted from when they came.
[[noreturn]] void Receive(int endpoint, FILE* received, SimulatedDevice& device) {
    unsigned char packets[512];
    std::vector<unsigned char> bytes;
    auto due = std::chrono::steady_clock::now();
    for (;;) {
        const ssize_t size = read(endpoint, packets, sizeof packets);
        if (size < 0) { // the host reconfigured; the endpoint comes back
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        due = std::max(due, std::chrono::steady_clock::now());
        bytes.clear();
        usbmidi::AppendMidiBytes(packets, static_cast<std::size_t>(size), bytes);
        std::fwrite(bytes.data(), 1, bytes.size(), received);
        std::fflush(received);
        device.Receive(bytes.data(), bytes.size());
        due += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(bytes.size() / wireBytesPerSecond));
        std::this_thread::sleep_until(due);
    }
}

} // namespace

int main(int argc, char** argv) {
    using namespace midiupdate;
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FFS_DIR RECEIVED_FILE DEVICE_OPTIONS...\n", argv[0]);
        return exitUsage;
    }
    const std::string dir = argv[1];
    DeviceOptions options;
    std::string error;
    if (!ParseDeviceOptions({argv + 3, argv + argc}, options, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return exitUsage;
    }
    // Before any thread starts, so that only the main thread takes them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    SetTraceSink([](const std::string&) {}); // the device's own log would bury its report
    const std::unique_ptr<ServedDevice> served = ServedDevice::Make(
        options, nullptr, DeviceHost{}, std::make_unique<RealTimeScheduler>(), error);
    if (!served) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return exitUsage;
    }
    SimulatedDevice& device = served->Device();

    const int ep0 = Open(dir + "/ep0");
    if (ep0 < 0)
        return exitRejected;
    if (!WriteAll(ep0, usbmidi::FunctionDescriptors()) ||
        !WriteAll(ep0, usbmidi::FunctionStrings())) {
        std::perror("descriptors");
        return exitRejected;
    }
    const int out = Open(dir + "/ep1");
    const int in = Open(dir + "/ep2");
    FILE* received = std::fopen(argv[2], "wb");
    if (out < 0 || in < 0 || !received) {
        std::perror(argv[2]);
        return exitRejected;
    }
    usbmidi::PacketEncoder encoder; // the delivery thread's alone
    device.SetOutput([in, &encoder](const unsigned char* data, std::size_t size) {
        if (!WriteAll(in, encoder.Encode(data, size)))
            std::fprintf(stderr, "a reply was lost: %s\n", std::strerror(errno));
    });
    std::printf("ready\n");
    std::fflush(stdout);

    std::thread(Receive, out, received, std::ref(device)).detach();
    int signal = 0;
    sigwait(&stop, &signal);
    const int status = ReportDevice(device, ArrivalStatistics{}, std::cout);
    std::cout.flush();
    // A read or write on an endpoint cannot be woken: the kernel ends them with the process.
    std::_Exit(status);
}
