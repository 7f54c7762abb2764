// A whole transfer with the real clock: 1 MiB in four portions with 250 ms pauses, to a
// device that reports "accepted" as soon as a portion's last byte arrives. Prints how
// much of the wall time the engine adds beyond the pauses it must make, and how much
// processor time it takes; the targets are 1 % each.

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/PlatformForm.h"
#include "MidiUpdateLib/SendUpdate.h"
#include "MidiUpdateLib/Update.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>

namespace {

const unsigned int PORTIONS = 4;
const unsigned int PORTION_SIZE = 256 * 1024;
const unsigned int MESSAGE_SIZE = 256;
const unsigned int DELAY = 250; // ms after each portion

// The device checks every byte against the firmware it expects and, at the end of each
// portion, answers with an "accepted" status message through the port's receiving path.
class InstantDevicePort : public MidiPort {
public:
    explicit InstantDevicePort(const std::vector<unsigned char>& expected) : expected(expected) {}

    unsigned long IdealChunkSize() override { return 2048; }
    unsigned long MaxChunkSize() override { return 16384; }
    bool IsConnected() override { return true; }
    void Disconnect() override {}
    void Send(const unsigned char* data, unsigned long size) override {
        if (received + size > expected.size() ||
            std::memcmp(data, expected.data() + received, size) != 0)
            intact = false;
        received += size;
        if (received % PORTION_SIZE == 0)
            for (unsigned char byte : accepted)
                sysExCollector.Add(byte);
    }

    unsigned long long received = 0;
    bool intact = true;

private:
    const std::vector<unsigned char>& expected;
    const std::vector<unsigned char> accepted = StatusMessage(0x00);
};

class CountingProgress : public UpdateProgress {
public:
    void Progress(float) override { ++reports; }
    void ProgressIndeterminate() override { ++reports; }
    void Status(const std::string&) override { ++reports; }
    void Error(const std::string&) override { ++reports; }
    void Completed(const std::string& text) override { completed = text; }
    unsigned long reports = 0;
    std::string completed;
};

Update MakeUpdate(std::vector<unsigned char>& firmware) {
    std::vector<unsigned char> file;
    CreateUpdateFileHeader(file, "Bench", Version{1, 5}, "", 0, 0, 0);
    for (unsigned int p = 0; p < PORTIONS; ++p) {
        std::vector<unsigned char> portion;
        portion.reserve(PORTION_SIZE);
        while (portion.size() < PORTION_SIZE) {
            portion.push_back(0xF0);
            for (unsigned int i = 2; i < MESSAGE_SIZE; ++i)
                portion.push_back(static_cast<unsigned char>((portion.size() * 7 + p) & 0x7F));
            portion.push_back(0xF7);
        }
        firmware.insert(firmware.end(), portion.begin(), portion.end());
        AddSysExPortion(file, portion, DELAY);
    }
    std::istringstream stream(std::string(file.begin(), file.end()));
    return Update(stream);
}

// The system clock, noting how long each sleep really took: on a busy machine the
// operating system oversleeps, which is not the engine's time.
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
};

double CpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

} // namespace

int main() {
    std::vector<unsigned char> firmware;
    Update update = MakeUpdate(firmware);
    unsigned long traceRecords = 0;
    // Records are still formatted; only the terminal is left out of the measurement.
    SetTraceSink([&traceRecords](const std::string&) { ++traceRecords; });

    TimedSleepClock clock;
    SetClock(&clock);
    InstantDevicePort port(firmware);
    CountingProgress progress;
    const double cpuBefore = CpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    TransferVerdict verdict;
    {
        SimpleSysExSender sender(port);
        verdict = sender.Send(update, progress);
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    const double cpu = CpuSeconds() - cpuBefore;
    SetTraceSink(nullptr);
    SetClock(nullptr);

    const double mandated = PORTIONS * (DELAY + midiupdate::deviceActivationPause) / 1000.0;
    const double overhead = (wall - mandated) / wall;
    const double cpuShare = cpu / wall;
    const bool intact = port.received == firmware.size() && port.intact;

    std::printf("Transfer of %u bytes in %u portions, %u ms pause each\n", update.TotalSysExSize(),
                PORTIONS, DELAY);
    std::printf("  verdict:           %s\n", progress.completed.c_str());
    std::printf("  data intact:       %s\n", intact ? "yes" : "NO");
    std::printf("  reports, traces:   %lu, %lu\n", progress.reports, traceRecords);
    std::printf("  wall time:         %.3f ms\n", wall * 1000.0);
    std::printf("  mandated pauses:   %.3f ms\n", mandated * 1000.0);
    std::printf("  actually asleep:   %.3f ms in %u sleeps (the rest is the engine's own time)\n",
                clock.asleep * 1000.0, clock.sleeps);
    std::printf("  (wall - pauses) / wall: %.4f %%  (target <= 1 %%)\n", overhead * 100.0);
    std::printf("  CPU / wall:             %.4f %%  (target <= 1 %%)\n", cpuShare * 100.0);
    return intact && verdict == TransferVerdict::Accepted && overhead <= 0.01 && cpuShare <= 0.01
               ? 0
               : 1;
}
