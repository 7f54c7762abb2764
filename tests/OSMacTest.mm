#include "MidiUpdateLib/OS.h"

#include <CoreFoundation/CoreFoundation.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

TEST(MacClock, TimeNowIsTheLow32BitsOfMillisecondsSince2001) {
    // The count is far beyond 32 bits; converting the double straight to 32 bits would
    // give nonsense instead of wrapping.
    const std::int64_t expected = static_cast<std::int64_t>(CFAbsoluteTimeGetCurrent() * 1000.0);
    const unsigned int now = SystemClock().TimeNow();
    EXPECT_LT(now - static_cast<unsigned int>(expected), 1000u);
}

TEST(MacTrace, GoesToTheLogFromAThreadWithoutAPool) {
    // The log writes to standard error here; catch it in a file for the time of the call.
    char path[] = "/tmp/mac-trace-XXXXXX";
    const int file = mkstemp(path);
    ASSERT_GE(file, 0);
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(file, 2);
    std::thread([] { Trace("%s: %u bytes\n", "GotSysEx", 300u); }).join();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(file);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    unlink(path);
    EXPECT_NE(text.str().find("Trace: GotSysEx: 300 bytes"), std::string::npos) << text.str();
}
