#include "tests/uml/UsbMidiDescriptors.h"

#include <linux/usb/functionfs.h>

namespace usbmidi {
namespace {

using Bytes = std::vector<unsigned char>;

void Le32(Bytes& out, unsigned int value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

const unsigned int descriptorsPerSpeed = 12;

// An audio control interface, then a MIDI streaming interface whose two jack pairs are
// the two directions: the host's output enters embedded IN jack 1 and leaves by external
// OUT jack 2; the device's replies enter by external IN jack 3 and reach the host from
// embedded OUT jack 4.
Bytes Interfaces(unsigned int maxPacket) {
    const auto low = static_cast<unsigned char>(maxPacket & 0xFF);
    const auto high = static_cast<unsigned char>(maxPacket >> 8);
    // clang-format off
    return {
        9, 4, 0, 0, 0, 1, 1, 0, 0,    // audio control interface
        9, 0x24, 1, 0, 1, 9, 0, 1, 1, // its header: one streaming interface, number 1
        9, 4, 1, 0, 2, 1, 3, 0, 0,    // MIDI streaming interface, two endpoints
        7, 0x24, 1, 0, 1, 37, 0,      // its header, 37 bytes with the jacks
        6, 0x24, 2, 1, 1, 0,          // embedded IN jack 1
        9, 0x24, 3, 2, 2, 1, 1, 1, 0, // external OUT jack 2, fed by jack 1
        6, 0x24, 2, 2, 3, 0,          // external IN jack 3
        9, 0x24, 3, 1, 4, 1, 3, 1, 0, // embedded OUT jack 4, fed by jack 3
        9, 5, 0x01, 2, low, high, 0, 0, 0, // bulk OUT endpoint 1
        5, 0x25, 1, 1, 1,             // its embedded jack: 1
        9, 5, 0x82, 2, low, high, 0, 0, 0, // bulk IN endpoint 2
        5, 0x25, 1, 1, 4,             // its embedded jack: 4
    };
    // clang-format on
}

} // namespace

std::vector<unsigned char> FunctionDescriptors() {
    const Bytes full = Interfaces(64);
    const Bytes high = Interfaces(512);
    Bytes descriptors;
    Le32(descriptors, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    Le32(descriptors, static_cast<unsigned int>(20 + full.size() + high.size()));
    Le32(descriptors, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    Le32(descriptors, descriptorsPerSpeed);
    Le32(descriptors, descriptorsPerSpeed);
    descriptors.insert(descriptors.end(), full.begin(), full.end());
    descriptors.insert(descriptors.end(), high.begin(), high.end());
    return descriptors;
}

std::vector<unsigned char> FunctionStrings() {
    Bytes strings;
    Le32(strings, FUNCTIONFS_STRINGS_MAGIC);
    Le32(strings, 16);
    Le32(strings, 0); // no strings
    Le32(strings, 0); // in no language
    return strings;
}

} // namespace usbmidi
