// A USB MIDI interface that pushes back, as real ones do: a FunctionFS function whose
// bulk OUT endpoint is read only as fast as a 31250-baud MIDI wire (3125 bytes/s), so
// the rest waits on the bus and the host's driver holds its writes. (The kernel's own
// MIDI gadget drops what its reader does not take in time instead.) Writes the MIDI
// bytes it received to OUT_FILE as they come.
//   PushingBackUsbMidi FFS_DIR OUT_FILE [BYTES_PER_SECOND]
// Prints "ready" once its descriptors are in: then the gadget may be bound.

#include <linux/usb/functionfs.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void Le32(Bytes& out, unsigned int value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// A class-compliant MIDI interface with one output (the host's "MIDI 1"): an audio
// control interface, a MIDI streaming interface with an embedded IN jack feeding an
// external OUT jack, and one bulk OUT endpoint.
Bytes Interfaces(unsigned int maxPacket) {
    const auto low = static_cast<unsigned char>(maxPacket & 0xFF);
    const auto high = static_cast<unsigned char>(maxPacket >> 8);
    // clang-format off
    return {
        9, 4, 0, 0, 0, 1, 1, 0, 0,    // audio control interface
        9, 0x24, 1, 0, 1, 9, 0, 1, 1, // its header: one streaming interface, number 1
        9, 4, 1, 0, 1, 1, 3, 0, 0,    // MIDI streaming interface, one endpoint
        7, 0x24, 1, 0, 1, 22, 0,      // its header, 22 bytes with the jacks
        6, 0x24, 2, 1, 1, 0,          // embedded IN jack 1
        9, 0x24, 3, 2, 2, 1, 1, 1, 0, // external OUT jack 2, fed by jack 1
        9, 5, 0x01, 2, low, high, 0, 0, 0, // bulk OUT endpoint 1
        5, 0x25, 1, 1, 1,             // its embedded jack: 1
    };
    // clang-format on
}

bool WriteAll(int fd, const Bytes& bytes) {
    return write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// MIDI bytes in a USB MIDI event packet, by its code index number.
const int packetBytes[16] = {0, 0, 2, 3, 3, 1, 2, 3, 3, 3, 3, 3, 2, 2, 3, 1};

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FFS_DIR OUT_FILE [BYTES_PER_SECOND]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const double rate = argc > 3 ? std::atof(argv[3]) : 3125.0;
    const int ep0 = open((dir + "/ep0").c_str(), O_RDWR);
    if (ep0 < 0) {
        std::perror("ep0");
        return 1;
    }
    const Bytes full = Interfaces(64);
    const Bytes high = Interfaces(512);
    Bytes descriptors;
    Le32(descriptors, FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    Le32(descriptors, static_cast<unsigned int>(20 + full.size() + high.size()));
    Le32(descriptors, FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
    Le32(descriptors, 8); // descriptors per speed
    Le32(descriptors, 8);
    descriptors.insert(descriptors.end(), full.begin(), full.end());
    descriptors.insert(descriptors.end(), high.begin(), high.end());
    Bytes strings;
    Le32(strings, FUNCTIONFS_STRINGS_MAGIC);
    Le32(strings, 16);
    Le32(strings, 0);
    Le32(strings, 0);
    if (!WriteAll(ep0, descriptors) || !WriteAll(ep0, strings)) {
        std::perror("descriptors");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    const int ep1 = open((dir + "/ep1").c_str(), O_RDWR);
    FILE* out = std::fopen(argv[2], "wb");
    if (ep1 < 0 || !out) {
        std::perror("ep1 or OUT_FILE");
        return 1;
    }
    unsigned char packet[512];
    const auto start = std::chrono::steady_clock::now();
    double taken = 0; // MIDI bytes so far, which set the pace
    for (;;) {
        const ssize_t size = read(ep1, packet, sizeof packet);
        if (size < 0)
            continue; // the host reconfigured; the endpoint comes back
        for (ssize_t at = 0; at + 4 <= size; at += 4) {
            const int count = packetBytes[packet[at] & 0x0F];
            std::fwrite(packet + at + 1, 1, static_cast<std::size_t>(count), out);
            taken += count;
        }
        std::fflush(out);
        // Not before the wire would have carried them does the next packet come in.
        std::this_thread::sleep_until(start + std::chrono::duration<double>(taken / rate));
    }
}
