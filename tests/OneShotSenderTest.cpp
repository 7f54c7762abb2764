// The one-piece sender exists only outside the Windows program.

#include "MidiUpdateLib/PlatformForm.h"
#include "MidiUpdateLib/SendUpdate.h"
#include "tests/FakeMidiPort.h"
#include "tests/RecordingProgress.h"

#include <gtest/gtest.h>

using testsupport::Bytes;

TEST(OneShotSysExSender, SendsThePortionInOnePiece) {
    testsupport::TraceCapture trace;
    testsupport::FakeMidiPort port;
    port.maxChunkSize = 16;
    OneShotSysExSender sender(port);
    testsupport::RecordingProgress progress;
    Update::SysExPortion portion{Bytes(1536, 0x22), 0};
    EXPECT_TRUE(sender.SendPortion(portion, progress));

    EXPECT_EQ(port.Sent(), std::vector<Bytes>{portion.sysEx});
    EXPECT_EQ(
        progress.Events(),
        (std::vector<std::string>{"Indeterminate", "Status: Sending update (1.5KB). Please wait...",
                                  "Status: Sent 1.5KB bytes", "Progress 1"}));
    EXPECT_TRUE(trace.Contains(midiupdate::TraceName("OneShotSysExSender", "SendPortion") + "\n"));
}
