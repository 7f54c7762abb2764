#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/VirtualClock.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(Format, CutsToTheBufferAndKeepsPercentSigns) {
    const std::string longText(5000, 'x');
    EXPECT_EQ(Format("%s", longText.c_str()), longText.substr(0, formatBufferSize - 1));
    EXPECT_EQ(Format("%u%%", 50u), "50%");
    EXPECT_EQ(Format("%s", ""), "");
}

TEST(Trace, GoesToTheInstalledSinkAsFormatted) {
    testsupport::TraceCapture capture;
    Trace("%s: Disconnecting\n", "Send");
    Trace("%s", "100% done");
    EXPECT_EQ(capture.Records(), (std::vector<std::string>{"Send: Disconnecting\n", "100% done"}));
}

TEST(SystemClock, SleepsAtLeastTheTimeAsked) {
    const unsigned int before = TimeNow();
    SleepFor(20);
    EXPECT_GE(TimeNow() - before, 20u);
}

TEST(VirtualClock, SleepsMoveTimeAndAreRecorded) {
    VirtualClock clock(1000);
    ScopedClock installed(clock);
    EXPECT_EQ(TimeNow(), 1000u);
    SleepFor(500);
    SleepFor(0);
    clock.Advance(25);
    EXPECT_EQ(TimeNow(), 1525u);
    EXPECT_EQ(clock.Sleeps(), (std::vector<unsigned int>{500, 0}));
    EXPECT_EQ(clock.Elapsed(), 525u);
}

TEST(VirtualClock, ElapsedTimeSurvivesTheWrap) {
    VirtualClock clock(0xFFFFFF00u);
    ScopedClock installed(clock);
    const unsigned int start = TimeNow();
    SleepFor(0x200);
    EXPECT_LT(TimeNow(), start);          // the reading wrapped...
    EXPECT_EQ(TimeNow() - start, 0x200u); // ...the difference did not
}

TEST(VirtualClock, ScheduledActionsRunInTimeOrderBeforeTheSleepReturns) {
    VirtualClock clock;
    ScopedClock installed(clock);
    std::vector<std::pair<std::string, unsigned int>> seen;
    clock.Schedule(300, [&] { seen.emplace_back("late", TimeNow()); });
    clock.Schedule(100, [&] {
        seen.emplace_back("early", TimeNow());
        clock.Schedule(50, [&] { seen.emplace_back("chained", TimeNow()); });
    });
    clock.Schedule(100, [&] { seen.emplace_back("early too", TimeNow()); });

    SleepFor(200);
    EXPECT_EQ(seen, (std::vector<std::pair<std::string, unsigned int>>{
                        {"early", 100}, {"early too", 100}, {"chained", 150}}));
    EXPECT_EQ(TimeNow(), 200u);
    EXPECT_EQ(clock.Pending(), 1u);
    SleepFor(100); // exactly reaching the due time runs it
    EXPECT_EQ(seen.back(), (std::pair<std::string, unsigned int>{"late", 300}));
}

TEST(VirtualClock, WorkHandedToAnotherThreadIsDoneWhenTheSleepReturns) {
    VirtualClock clock;
    ScopedClock installed(clock);
    std::atomic<int> delivered{0};
    // The action waits for the other thread, as a device thread delivering a reply does.
    clock.Schedule(10, [&] { std::thread([&] { delivered = 42; }).join(); });
    SleepFor(10);
    EXPECT_EQ(delivered.load(), 42);
}

TEST(VirtualClock, OtherThreadsMayScheduleWhileTimeMoves) {
    VirtualClock clock;
    ScopedClock installed(clock);
    std::atomic<int> ran{0};
    std::thread scheduler([&] {
        for (int i = 0; i < 1000; ++i)
            clock.Schedule(static_cast<unsigned>(i % 7), [&] { ++ran; });
    });
    for (int i = 0; i < 1000; ++i)
        SleepFor(1);
    scheduler.join();
    SleepFor(10);
    EXPECT_EQ(ran.load(), 1000);
}
