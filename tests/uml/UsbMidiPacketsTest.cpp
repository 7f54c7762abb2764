// The pushing-back interface's packets: SysEx of every length cut into packets the host's
// driver takes (a wrong code index number loses or adds bytes there), across calls.

#include "tests/uml/UsbMidiPackets.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

TEST(UsbMidiPackets, SysExOfEveryLengthRoundTrips) {
    struct Row {
        const char* label;
        std::vector<Bytes> calls; // the device's messages as the encoder gets them
        Bytes packets;
        Bytes moved = {}; // what the host reads, when not what was sent
    };
    // clang-format off
    const Row rows[] = {
        {"two bytes", {{0xF0, 0xF7}}, {0x06, 0xF0, 0xF7, 0}},
        {"three bytes", {{0xF0, 1, 0xF7}}, {0x07, 0xF0, 1, 0xF7}},
        {"four bytes", {{0xF0, 1, 2, 0xF7}}, {0x04, 0xF0, 1, 2, 0x05, 0xF7, 0, 0}},
        {"five bytes", {{0xF0, 1, 2, 3, 0xF7}}, {0x04, 0xF0, 1, 2, 0x06, 3, 0xF7, 0}},
        {"two messages", {{0xF0, 1, 0xF7}, {0xF0, 0xF7}}, {0x07, 0xF0, 1, 0xF7, 0x06, 0xF0, 0xF7, 0}},
        {"a message over two calls", {{0xF0, 1}, {2, 3, 0xF7}}, {0x04, 0xF0, 1, 2, 0x06, 3, 0xF7, 0}},
        {"real time inside", {{0xF0, 1, 0xF8, 2, 0xF7}},
         {0x0F, 0xF8, 0, 0, 0x04, 0xF0, 1, 2, 0x05, 0xF7, 0, 0},
         {0xF8, 0xF0, 1, 2, 0xF7}}, // ahead by at most two bytes, as MIDI allows
        {"cut short by the next", {{0xF0, 1, 2, 3, 4}, {0xF0, 5, 0xF7}},
         {0x04, 0xF0, 1, 2, 0x0F, 3, 0, 0, 0x0F, 4, 0, 0, 0x07, 0xF0, 5, 0xF7}},
        {"outside SysEx", {{0xF7, 0x90}}, {0x0F, 0xF7, 0, 0, 0x0F, 0x90, 0, 0}},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        usbmidi::PacketEncoder encoder;
        Bytes packets;
        Bytes sent;
        for (const Bytes& call : row.calls) {
            const Bytes more = encoder.Encode(call.data(), call.size());
            packets.insert(packets.end(), more.begin(), more.end());
            sent.insert(sent.end(), call.begin(), call.end());
        }
        EXPECT_EQ(packets, row.packets);
        Bytes received;
        usbmidi::AppendMidiBytes(packets.data(), packets.size(), received);
        EXPECT_EQ(received, row.moved.empty() ? sent : row.moved);
    }
}

} // namespace
