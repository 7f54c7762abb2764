#include "MidiUpdateLib/OS.h"

#include <cstdio>
#include <windows.h>

// The Windows program formats into 288-byte buffers.
const unsigned int formatBufferSize = 288;

void EmitPlatformTrace(const std::string& record) {
    OutputDebugStringA(record.c_str());
    // Flushed per record: what sits in the buffer is lost when the process is killed.
    std::fputs(record.c_str(), stdout);
    std::fflush(stdout);
}

namespace {

class WindowsClock : public Clock {
public:
    unsigned int TimeNow() override {
        LARGE_INTEGER frequency{};
        LARGE_INTEGER counter{};
        if (!QueryPerformanceFrequency(&frequency))
            Trace("Error getting time frew");
        if (!QueryPerformanceCounter(&counter))
            Trace("Error getting time");
        const long long ticksPerMillisecond = frequency.QuadPart / 1000;
        // A failed or sub-kHz counter would divide by zero; fall back to the tick count.
        if (ticksPerMillisecond <= 0)
            return static_cast<unsigned int>(GetTickCount64());
        return static_cast<unsigned int>(counter.QuadPart / ticksPerMillisecond);
    }

    void SleepFor(unsigned int milliseconds) override {
        // INFINITE (0xFFFFFFFF) would never return: the longest sleep is two finite ones.
        if (milliseconds == INFINITE) {
            Sleep(INFINITE - 1);
            milliseconds = 1;
        }
        Sleep(milliseconds);
    }
};

} // namespace

Clock& SystemClock() {
    static WindowsClock clock;
    return clock;
}
