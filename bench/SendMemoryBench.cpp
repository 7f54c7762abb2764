// Peak memory of the console sending a 64 MiB update to the simulated device in virtual
// time. The device judges the bytes as they arrive, against the update's own portions,
// so the program should hold the file about once: the target is 2.2 x the file + 16 MiB.

#include "MidiUpdateLib/Update.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

const std::size_t PORTIONS = 4;
const std::size_t PORTION_SIZE = 16u << 20;
const std::size_t MESSAGE_SIZE = 256;

std::vector<unsigned char> Portion(unsigned char seed) {
    std::vector<unsigned char> bytes(PORTION_SIZE);
    for (std::size_t i = 0; i < PORTION_SIZE; ++i) {
        const std::size_t inMessage = i % MESSAGE_SIZE;
        bytes[i] = inMessage == 0 ? 0xF0
                   : inMessage == MESSAGE_SIZE - 1
                       ? 0xF7
                       : static_cast<unsigned char>((i * 7 + seed) & 0x7F);
    }
    return bytes;
}

} // namespace

int main() {
    const char* directory = std::getenv("TMPDIR");
    const std::string path =
        std::string(directory && *directory ? directory : "/tmp") + "/send-memory-bench.upd";
    {
        std::vector<unsigned char> file;
        CreateUpdateFileHeader(file, "Bench", Version{1, 0}, "", 0, 0, 0);
        for (std::size_t i = 0; i < PORTIONS; ++i)
            AddSysExPortion(file, Portion(static_cast<unsigned char>(i)), 0);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()),
                   static_cast<std::streamsize>(file.size()));
    }
    const double fileMiB = static_cast<double>(PORTIONS * PORTION_SIZE) / (1 << 20);

    const pid_t child = fork();
    if (child < 0) {
        std::perror("SendMemoryBench: fork");
        return 1;
    }
    if (child == 0) {
        execl(MIDI_UPDATER_CLI, MIDI_UPDATER_CLI, "send", "--simulate", "--virtual-clock", "-q",
              path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    const bool waited = wait4(child, &status, 0, &usage) == child;
    std::remove(path.c_str());
    if (!waited || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "SendMemoryBench: the send failed (status %d)\n", status);
        return 1;
    }
    const double peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0; // KiB on Linux
    const double targetMiB = 2.2 * fileMiB + 16.0;
    std::printf("send --simulate --virtual-clock of a %.0f MiB update: peak %.1f MiB "
                "(%.2f x the file); target %.1f MiB (2.2 x + 16 MiB): %s\n",
                fileMiB, peakMiB, peakMiB / fileMiB, targetMiB,
                peakMiB <= targetMiB ? "met" : "MISSED");
    return peakMiB <= targetMiB ? 0 : 1;
}
