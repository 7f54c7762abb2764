#include "MidiUpdateLib/OS.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

// Linux takes the Mac build's buffer size.
const unsigned int formatBufferSize = 1056;

void EmitPlatformTrace(const std::string& record) {
    std::fputs(record.c_str(), stderr);
    std::fflush(stderr);
}

namespace {

class LinuxClock : public Clock {
public:
    unsigned int TimeNow() override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        unsigned long long milliseconds =
            static_cast<unsigned long long>(now.tv_sec) * 1000ull + now.tv_nsec / 1000000;
        return static_cast<unsigned int>(milliseconds);
    }

    void SleepFor(unsigned int milliseconds) override {
        timespec remaining{};
        remaining.tv_sec = milliseconds / 1000;
        remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
        // A signal cuts nanosleep short; the full time is still owed.
        while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
        }
    }
};

} // namespace

Clock& SystemClock() {
    static LinuxClock clock;
    return clock;
}
