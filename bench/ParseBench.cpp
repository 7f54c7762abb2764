// How the update reader compares with simply reading the file: a 64 MiB one-portion
// update file is read plainly and parsed, each run in a fresh child process so that no
// run inherits another's memory, and the medians are compared.
//
// Targets: parse time at most 1.3 times the plain read; the parsing process's peak
// resident memory at most 1.15 times the file size plus 16 MiB.

#include "MidiUpdateLib/Update.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::size_t portionSize = 64u << 20;
const int repetitions = 11;
const double mib = 1024.0 * 1024.0;

struct Times {
    double cpu = 0; // the process's CPU time: steadier than wall time on a busy machine
    double wall = 0;
};

struct ChildResult {
    Times times;
    double peakBytes = 0; // the child's peak resident set
};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "ParseBench: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

// Runs `work` in a child; it returns its own duration, or negative times on failure.
// The parent stays small, so the child's peak is its own work.
ChildResult InChild(const std::function<Times()>& work) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        Fail("pipe");
    const pid_t pid = fork();
    if (pid < 0)
        Fail("fork");
    if (pid == 0) {
        close(pipeEnds[0]);
        const Times times = work();
        const bool written = write(pipeEnds[1], &times, sizeof times) == sizeof times;
        _exit(written && times.cpu >= 0 ? 0 : 1);
    }
    close(pipeEnds[1]);
    ChildResult result;
    const bool got = read(pipeEnds[0], &result.times, sizeof result.times) ==
                     static_cast<ssize_t>(sizeof result.times);
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !got || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0) {
        errno = 0;
        Fail("a measuring child failed");
    }
    result.peakBytes = static_cast<double>(usage.ru_maxrss) * 1024.0; // KiB on Linux
    return result;
}

double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

class Stopwatch {
public:
    Times Elapsed() const {
        return {
            CpuSeconds() - cpuStart,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count()};
    }

private:
    double cpuStart = CpuSeconds();
    std::chrono::steady_clock::time_point wallStart = std::chrono::steady_clock::now();
};

const Times failed{-1, -1};

// The file is built with the library's writer, in a child so its buffers never count.
void Generate(const std::string& path) {
    InChild([&] {
        std::vector<unsigned char> sysEx(portionSize);
        // Messages of 256 bytes: F0, data bytes below 0x80, F7.
        for (std::size_t i = 0; i < sysEx.size(); ++i)
            sysEx[i] = i % 256 == 0 ? 0xF0 : i % 256 == 255 ? 0xF7 : (i * 7) & 0x7F;
        std::vector<unsigned char> file;
        CreateUpdateFileHeader(file, "Bench Device", Version{1, 0}, "<sysex>", 0, 0, 0);
        AddSysExPortion(file, sysEx, 100);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()),
                  static_cast<std::streamsize>(file.size()));
        return out.good() ? Times{} : failed;
    });
}

// Every byte through a small buffer, so the file sits in the page cache afterwards.
std::size_t WarmCache(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        Fail("open " + path);
    std::vector<char> buffer(1 << 20);
    std::size_t total = 0;
    for (ssize_t got; (got = read(fd, buffer.data(), buffer.size())) > 0;)
        total += static_cast<std::size_t>(got);
    close(fd);
    return total;
}

Times PlainRead(const std::string& path) {
    const Stopwatch stopwatch;
    const int fd = open(path.c_str(), O_RDONLY);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0)
        return failed;
    const std::size_t size = static_cast<std::size_t>(info.st_size);
    std::unique_ptr<char[]> bytes(new char[size]);
    std::size_t total = 0;
    for (ssize_t got; total < size && (got = read(fd, bytes.get() + total, size - total)) > 0;)
        total += static_cast<std::size_t>(got);
    close(fd);
    const Times times = stopwatch.Elapsed();
    return total == size ? times : failed;
}

Times Parse(const std::string& path) {
    const Stopwatch stopwatch;
    std::ifstream stream(path, std::ios::binary);
    const Update update(stream);
    const Times times = stopwatch.Elapsed();
    const bool whole =
        update.sysExPortions.size() == 1 && update.sysExPortions[0].sysEx.size() == portionSize;
    return whole ? times : failed;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main() {
    char dirTemplate[] = "/tmp/ParseBench.XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    if (!dir)
        Fail("mkdtemp");
    const std::string path = std::string(dir) + "/bench.upd";

    Generate(path);
    const double fileBytes = static_cast<double>(WarmCache(path));

    std::vector<double> readCpu, readWall, parseCpu, parseWall, readPeaks, parsePeaks;
    for (int i = 0; i < repetitions; ++i) {
        const ChildResult plain = InChild([&] { return PlainRead(path); });
        const ChildResult parse = InChild([&] { return Parse(path); });
        readCpu.push_back(plain.times.cpu);
        readWall.push_back(plain.times.wall);
        readPeaks.push_back(plain.peakBytes);
        parseCpu.push_back(parse.times.cpu);
        parseWall.push_back(parse.times.wall);
        parsePeaks.push_back(parse.peakBytes);
    }
    std::remove(path.c_str());
    rmdir(dir);

    const double ratio = Median(parseCpu) / Median(readCpu);
    const double readPeak = *std::max_element(readPeaks.begin(), readPeaks.end());
    const double parsePeak = *std::max_element(parsePeaks.begin(), parsePeaks.end());
    const double limit = 1.15 * fileBytes + 16 * mib;

    std::printf("file:            %.0f bytes (%.1f MiB, one portion), %d runs each\n", fileBytes,
                fileBytes / mib, repetitions);
    std::printf("plain read:      median CPU %.1f ms, wall %.1f ms; peak RSS %.1f MiB\n",
                Median(readCpu) * 1000, Median(readWall) * 1000, readPeak / mib);
    std::printf("parse:           median CPU %.1f ms, wall %.1f ms; peak RSS %.1f MiB\n",
                Median(parseCpu) * 1000, Median(parseWall) * 1000, parsePeak / mib);
    std::printf("time ratio:      %.3f CPU (%.3f wall); target <= 1.3: %s\n", ratio,
                Median(parseWall) / Median(readWall), ratio <= 1.3 ? "met" : "MISSED");
    std::printf("parse peak RSS:  %.3f x file size; limit 1.15 x file + 16 MiB = %.1f MiB: %s\n",
                parsePeak / fileBytes, limit / mib, parsePeak <= limit ? "met" : "MISSED");
    return 0;
}
