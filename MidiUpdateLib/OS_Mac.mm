#include "MidiUpdateLib/OS.h"

#include <CoreFoundation/CoreFoundation.h>
#import <Foundation/Foundation.h>

#include <cstdint>
#include <ctime>
#include <unistd.h>

// The Mac body. Trace runs on the job thread and on CoreMIDI's receiving thread, neither
// of which has an autorelease pool of its own, so each Foundation call brings one.

const unsigned int formatBufferSize = 1056;

void EmitPlatformTrace(const std::string& record) {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    NSLog(@"Trace: %s", record.c_str());
    [pool drain];
}

namespace {

std::uint64_t MonotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

class MacClock : public Clock {
public:
    unsigned int TimeNow() override {
        // Milliseconds since 2001 pass 2^32 within 50 days, so the count goes through 64
        // bits before it is cut: a double beyond the 32-bit range has no defined
        // conversion to it.
        const std::int64_t milliseconds =
            static_cast<std::int64_t>(CFAbsoluteTimeGetCurrent() * 1000.0);
        return static_cast<unsigned int>(static_cast<std::uint64_t>(milliseconds));
    }

    void SleepFor(unsigned int milliseconds) override {
        // usleep takes under a second by POSIX and a 32-bit count of microseconds, and a
        // signal may cut it short: sleep in short steps until the time is really over.
        const std::uint64_t end = MonotonicMilliseconds() + milliseconds;
        for (std::uint64_t now = MonotonicMilliseconds(); now < end;
             now = MonotonicMilliseconds()) {
            const std::uint64_t step = end - now < 500 ? end - now : 500;
            usleep(static_cast<useconds_t>(step * 1000));
        }
    }
};

} // namespace

Clock& SystemClock() {
    static MacClock clock;
    return clock;
}
