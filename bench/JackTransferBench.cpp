// The transfer benchmark's scenario over a real JACK server: a private `jackd -d dummy`,
// `midi-updater-cli device --jack` answering at once in a process of its own, and this
// process sending a 1 MiB update in four portions with 250 ms pauses, the file's chunk
// pacing set to 0. Prints how much of the wall time is not the pauses the design
// mandates (portion pauses and status polling), the sending process's processor time
// against the wall, and the device's first-to-last-byte rate; the targets are 5 % each.
// Run under `pw-jack`, the same goes through PipeWire's JACK layer and a private
// `pipewire` with the same period. An argument sets the period in frames.

#include "Linux/JackMidiPort.h"
#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/SendUpdate.h"
#include "MidiUpdateLib/Update.h"
#include "harness/JackServer.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

const unsigned int PORTIONS = 4;
const unsigned int PORTION_SIZE = 256 * 1024;
const unsigned int MESSAGE_SIZE = 256;
const unsigned int DELAY = 250; // ms after each portion
// 128 frames at 48 kHz: a cycle every 2.7 ms, each carrying up to 32 KiB of MIDI.
const unsigned int PERIOD = 128;

std::vector<unsigned char> MakeFile() {
    std::vector<unsigned char> file;
    CreateUpdateFileHeader(file, "Bench", Version{1, 5}, "", 0, 0, 0);
    AddMacPortName(file, "Bench Device");
    AddWindowsPortParameters(file, "win:0:ideal:2048:max:16384:delay:0");
    for (unsigned int p = 0; p < PORTIONS; ++p) {
        std::vector<unsigned char> portion;
        while (portion.size() < PORTION_SIZE) {
            portion.push_back(0xF0);
            for (unsigned int i = 2; i < MESSAGE_SIZE; ++i)
                portion.push_back(static_cast<unsigned char>((portion.size() * 7 + p) & 0x7F));
            portion.push_back(0xF7);
        }
        AddSysExPortion(file, portion, DELAY);
    }
    return file;
}

// The system clock, noting how long the sender's sleeps really took: those are the
// pauses the design mandates, and the machine's oversleeping is not the transfer's time.
class TimedSleepClock : public Clock {
public:
    unsigned int TimeNow() override { return SystemClock().TimeNow(); }
    void SleepFor(unsigned int milliseconds) override {
        const auto before = std::chrono::steady_clock::now();
        SystemClock().SleepFor(milliseconds);
        asleep += std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
        ++sleeps;
    }
    double asleep = 0; // seconds
    unsigned int sleeps = 0;
    unsigned long long undelivered = 0; // the port's own count
};

class CountingProgress : public UpdateProgress {
public:
    void Progress(float) override {}
    void ProgressIndeterminate() override {}
    void Status(const std::string&) override {}
    void Error(const std::string&) override {}
    void Completed(const std::string& text) override { completed = text; }
    std::string completed;
};

double CpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The device served by the console program in a process of its own, its report in a file.
pid_t StartDevice(const std::string& update, const std::string& report) {
    const pid_t device = fork();
    if (device == 0) {
        dup2(open(report.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
        execl(MIDI_UPDATER_CLI, MIDI_UPDATER_CLI, "device", "--jack", "Bench Device",
              "--device-expects", update.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 500 && ReadFile(report).find("Serving") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return device;
}

struct Measurement {
    TransferVerdict verdict = TransferVerdict::Failed;
    std::string completed;
    double wall = 0;   // seconds
    double cpu = 0;    // seconds of this process
    double asleep = 0; // seconds of mandated pauses
    unsigned int sleeps = 0;
    unsigned long long undelivered = 0; // the port's own count
};

// The whole transfer through the JACK port; false when the port cannot carry it.
bool Measure(Update& update, Measurement& result) {
    SetTraceSink([](const std::string&) {});
    TimedSleepClock clock;
    SetClock(&clock);
    CountingProgress progress;
    bool carried = false;
    {
        midiupdate::JackMidiPort port(midiupdate::PortSettingsFor(update, std::nullopt));
        std::string error;
        carried = port.CanCarry(update, error);
        if (!carried) {
            std::fprintf(stderr, "%s\n", error.c_str());
        } else {
            const double cpuBefore = CpuSeconds();
            const auto wallBefore = std::chrono::steady_clock::now();
            result.verdict = SimpleSysExSender(port).Send(update, progress);
            result.wall =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore)
                    .count();
            result.cpu = CpuSeconds() - cpuBefore;
            result.undelivered = port.UndeliveredBytes();
        }
    }
    SetClock(nullptr);
    SetTraceSink(nullptr);
    result.completed = progress.completed;
    result.asleep = clock.asleep;
    result.sleeps = clock.sleeps;
    return carried;
}

} // namespace

int main(int argc, char** argv) {
    const unsigned int period = argc > 1 ? static_cast<unsigned int>(std::atoi(argv[1])) : PERIOD;
    testsupport::JackServer server(period);
    if (!server.Ready()) {
        std::fprintf(stderr, "the JACK server did not start:\n%s\n", server.Log().c_str());
        return 1;
    }
    const std::vector<unsigned char> file = MakeFile();
    const std::string dir = "/tmp/jack-bench-" + std::to_string(getpid());
    const std::string path = dir + ".upd";
    const std::string report = dir + ".device";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    std::istringstream stream(std::string(file.begin(), file.end()));
    Update update(stream);

    const pid_t device = StartDevice(path, report);
    Measurement m;
    const bool carried = Measure(update, m);
    kill(device, SIGINT);
    waitpid(device, nullptr, 0);
    const std::string deviceReport = ReadFile(report);
    std::remove(path.c_str());
    std::remove(report.c_str());
    if (!carried)
        return 1;

    const double overhead = (m.wall - m.asleep) / m.wall;
    const double cpuShare = m.cpu / m.wall;
    const bool intact = deviceReport.find("identical to the update file") != std::string::npos;
    std::printf("Transfer of %u bytes in %u portions, %u ms pause each, over %s (dummy "
                "driver, %u frames at 48 kHz)\n",
                update.TotalSysExSize(), PORTIONS, DELAY,
                server.PipeWire() ? "PipeWire's JACK layer" : "JACK 2", server.Period());
    std::printf("  verdict:           %s\n", m.completed.c_str());
    std::printf("  undelivered:       %llu bytes, as the port counted them\n", m.undelivered);
    std::printf("  wall time:         %.3f ms\n", m.wall * 1000.0);
    std::printf("  mandated pauses:   %.3f ms asleep in %u sleeps (portion pauses, status polls)\n",
                m.asleep * 1000.0, m.sleeps);
    std::printf("  (wall - pauses) / wall: %.2f %%  (target <= 5 %%)\n", overhead * 100.0);
    std::printf("  CPU / wall:             %.2f %%  (target <= 5 %%)\n", cpuShare * 100.0);
    std::printf("  device:\n%s", deviceReport.c_str());
    return intact && m.verdict == TransferVerdict::Accepted && overhead <= 0.05 && cpuShare <= 0.05
               ? 0
               : 1;
}
