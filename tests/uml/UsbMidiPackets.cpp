#include "tests/uml/UsbMidiPackets.h"

namespace usbmidi {
namespace {

// MIDI bytes in a packet, by its code index number.
const std::size_t packetBytes[16] = {0, 0, 2, 3, 3, 1, 2, 3, 3, 3, 3, 3, 2, 2, 3, 1};
const unsigned char sysExGoesOn = 0x4;
const unsigned char sysExEnds = 0x5; // with one byte; 0x6 with two, 0x7 with three
const unsigned char singleByte = 0xF;

void Put(unsigned char codeIndex, const unsigned char* bytes, std::size_t count,
         std::vector<unsigned char>& packets) {
    packets.push_back(codeIndex); // cable 0
    for (std::size_t i = 0; i < 3; ++i)
        packets.push_back(i < count ? bytes[i] : 0);
}

} // namespace

void AppendMidiBytes(const unsigned char* packets, std::size_t size,
                     std::vector<unsigned char>& bytes) {
    for (std::size_t at = 0; at + 4 <= size; at += 4)
        bytes.insert(bytes.end(), packets + at + 1,
                     packets + at + 1 + packetBytes[packets[at] & 0x0F]);
}

void PacketEncoder::Release(std::vector<unsigned char>& packets) {
    for (std::size_t i = 0; i < heldCount; ++i)
        Put(singleByte, held + i, 1, packets);
    heldCount = 0;
}

std::vector<unsigned char> PacketEncoder::Encode(const unsigned char* data, std::size_t size) {
    std::vector<unsigned char> packets;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char byte = data[i];
        if (byte >= 0xF8) { // real time, even inside SysEx
            Put(singleByte, &byte, 1, packets);
            continue;
        }
        if (inSysEx && byte >= 0x80 && byte != 0xF7) {
            Release(packets); // a message cut short
            inSysEx = false;
        }
        if (byte == 0xF0)
            inSysEx = true;
        if (!inSysEx) {
            Put(singleByte, &byte, 1, packets);
            continue;
        }
        held[heldCount++] = byte;
        if (byte == 0xF7) {
            Put(static_cast<unsigned char>(sysExEnds + heldCount - 1), held, heldCount, packets);
            heldCount = 0;
            inSysEx = false;
        } else if (heldCount == 3) {
            Put(sysExGoesOn, held, heldCount, packets);
            heldCount = 0;
        }
    }
    return packets;
}

} // namespace usbmidi
