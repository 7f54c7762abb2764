#include "MidiUpdateLib/PlatformForm.h"
#include "MidiUpdateLib/SendUpdate.h"
#include "MidiUpdateLib/VirtualClock.h"
#include "tests/FakeMidiPort.h"
#include "tests/RecordingProgress.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

using testsupport::Bytes;
using testsupport::FakeMidiPort;
using testsupport::Hex;
using testsupport::RecordingProgress;
using Events = std::vector<std::string>;

namespace {

std::vector<std::size_t> ChunkSizes(Bytes data, unsigned long ideal, unsigned long max) {
    std::vector<std::size_t> sizes;
    Range<unsigned char> remaining{data.data(), data.data() + data.size()};
    while (!remaining.Empty() && sizes.size() < 100) {
        const Range<unsigned char> chunk = NextSysExChunk(remaining, ideal, max);
        EXPECT_EQ(chunk.start, remaining.start); // a view, never a copy
        sizes.push_back(chunk.Size());
        remaining.TrimFromFront(static_cast<unsigned long>(chunk.Size()));
    }
    return sizes;
}

} // namespace

TEST(NextSysExChunk, EndsChunksOnMessageBoundariesWherePossible) {
    struct Case {
        Bytes data;
        unsigned long ideal, max;
        std::vector<std::size_t> sizes;
    };
    const Case cases[] = {
        {Bytes(1000, 0x11), 2048, 16384, {1000}},                // shorter than ideal
        {Hex("F0 01 02 03 04 F7 F0 05 06 F7"), 4, 8, {6, 4}},    // grown to the F7
        {Hex("01 02 03 04 05 06 07 08 09 10"), 4, 6, {6, 4}},    // stopped at max
        {Hex("01 02 03 0A 05 06"), 4, 8, {4, 2}},                // ideal-th byte is 0A
        {Hex("01 02 03 04 05 06 07 08 09 10"), 4, 2, {4, 4, 2}}, // max below ideal
        {Hex("01 02 03 04 05 F7"), 4, 100, {6}},                 // grown to the end
        // An ideal size of 0 must neither look before the chunk nor make empty chunks.
        {Hex("01 F7 02 03 04 05"), 0, 3, {2, 3, 1}},
        {Hex("01 02 03"), 0, 0, {1, 1, 1}},
        {Bytes{}, 0, 0, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChunkSizes(c.data, c.ideal, c.max), c.sizes)
            << testsupport::HexText(c.data) << " ideal " << c.ideal << " max " << c.max;
}

TEST(PercentageDone, IsTheShareBeforeWhatRemains) {
    Bytes data(10);
    const Range<unsigned char> total{data.data(), data.data() + 10};
    EXPECT_FLOAT_EQ(PercentageDone(total, total), 0.0f);
    EXPECT_FLOAT_EQ(PercentageDone(total, {data.data() + 6, data.data() + 10}), 0.6f);
    EXPECT_FLOAT_EQ(PercentageDone(total, {data.data() + 10, data.data() + 10}), 1.0f);
    const Range<unsigned char> empty{data.data(), data.data()};
    EXPECT_FLOAT_EQ(PercentageDone(empty, empty), 1.0f); // not 0/0
}

TEST(SendChunked, ReportsEachChunkBeforeItGoesOut) {
    struct Case {
        Bytes data;
        unsigned long ideal, max;
        std::vector<std::size_t> sent;
        Events events;
    };
    const Case cases[] = {
        {Hex("01 02 03 04 05 06 07 08 09 10"),
         4,
         6,
         {6, 4},
         {"Indeterminate", "Status: Sent 0 bytes of 10 bytes", "Progress 0.6",
          "Status: Sent 6 bytes of 10 bytes", "Progress 1", "Status: Sent 10 bytes of 10 bytes"}},
        {Bytes(1000, 0x11),
         2048,
         16384,
         {1000},
         {"Indeterminate", "Status: Sent 0 bytes of 1000 bytes", "Progress 1",
          "Status: Sent 1000 bytes of 1000 bytes"}},
        {Bytes(3000, 0x11),
         1024,
         1024,
         {1024, 1024, 952},
         {"Indeterminate", "Status: Sent 0 bytes of 2.9KB", "Progress 0.341333",
          "Status: Sent 1.0KB of 2.9KB", "Progress 0.682667", "Status: Sent 2.0KB of 2.9KB",
          "Progress 1", "Status: Sent 2.9KB of 2.9KB"}},
        {Bytes{}, 2048, 16384, {}, {"Progress 1", "Status: Sent 0 bytes of 0 bytes"}},
    };
    for (const Case& c : cases) {
        testsupport::TraceCapture trace;
        FakeMidiPort port;
        port.idealChunkSize = c.ideal;
        port.maxChunkSize = c.max;
        SimpleSysExSender sender(port);
        RecordingProgress progress;
        Update::SysExPortion portion{c.data, 0};
        EXPECT_TRUE(sender.SendPortion(portion, progress));

        std::vector<std::size_t> sent;
        Bytes joined;
        for (const Bytes& chunk : port.Sent()) {
            sent.push_back(chunk.size());
            joined.insert(joined.end(), chunk.begin(), chunk.end());
        }
        EXPECT_EQ(sent, c.sent);
        EXPECT_EQ(joined, c.data);
        EXPECT_EQ(progress.Events(), c.events);
        EXPECT_EQ(port.Count("IdealChunkSize"), 1u); // asked once per portion
        EXPECT_TRUE(trace.Contains("SimpleSysExSender::Send\n"));
        EXPECT_TRUE(trace.Contains(midiupdate::TraceName("SysExSender", "SendChunked") +
                                   "(portion,port,progress)\n"));
    }
}

TEST(DoDelay, PausesAsThePortionAsks) {
    std::vector<unsigned int> pause{1500};
    if (midiupdate::windowsForm)
        pause.push_back(10000);
    EXPECT_EQ(midiupdate::deviceActivationPause, midiupdate::windowsForm ? 10000u : 0u);

    struct Case {
        unsigned int delay;
        Events events;
        std::vector<unsigned int> sleeps;
    };
    const Case cases[] = {
        {0, {}, {}},
        {1500,
         {"Status: Waiting for device to become ready for more data...", "Indeterminate",
          "Status: Waiting for device to become active...", "Progress 1"},
         pause},
    };
    for (const Case& c : cases) {
        testsupport::TraceCapture trace;
        VirtualClock clock;
        ScopedClock installed(clock);
        RecordingProgress progress;
        Update::SysExPortion portion{Hex("F0 F7"), c.delay};
        DoDelay(portion, progress);
        EXPECT_EQ(progress.Events(), c.events) << c.delay;
        EXPECT_EQ(clock.Sleeps(), c.sleeps) << c.delay;
        EXPECT_EQ(trace.Records(), Events{"DoDelay\n"});
    }
}
