#include "MidiUpdateLib/OS.h"
#include "tests/LogCapture.h"

#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

#include <thread>

TEST(MacClock, TimeNowIsTheLow32BitsOfMillisecondsSince2001) {
    // The count is far beyond 32 bits; converting the double straight to 32 bits would
    // give nonsense instead of wrapping.
    const std::int64_t expected = static_cast<std::int64_t>(CFAbsoluteTimeGetCurrent() * 1000.0);
    const unsigned int now = SystemClock().TimeNow();
    EXPECT_LT(now - static_cast<unsigned int>(expected), 1000u);
}

TEST(MacTrace, GoesToTheLogFromAThreadWithoutAPool) {
    const std::string log = testsupport::CaptureStandardError(
        [] { std::thread([] { Trace("%s: %u bytes\n", "GotSysEx", 300u); }).join(); });
    EXPECT_NE(log.find("Trace: GotSysEx: 300 bytes"), std::string::npos) << log;
}
