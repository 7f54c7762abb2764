#include "Application/HeaderImage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <zlib.h>

namespace {

using Bytes = std::vector<unsigned char>;

void PutBigEndian(Bytes& bytes, unsigned long value, int size) {
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8)
        bytes.push_back(static_cast<unsigned char>(value >> shift));
}

// A PNG's signature and header chunk: all a size is read from, and no pixel to decode.
Bytes PngHeader(unsigned long width, unsigned long height) {
    Bytes bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes chunk{'I', 'H', 'D', 'R'};
    PutBigEndian(chunk, width, 4);
    PutBigEndian(chunk, height, 4);
    chunk.insert(chunk.end(), {8, 2, 0, 0, 0}); // 8-bit RGB
    PutBigEndian(bytes, 13, 4);
    bytes.insert(bytes.end(), chunk.begin(), chunk.end());
    PutBigEndian(bytes, crc32(0, chunk.data(), static_cast<uInt>(chunk.size())), 4);
    return bytes;
}

// A baseline JPEG's markers up to its first scan, without a scan.
Bytes JpegHeader(unsigned long width, unsigned long height) {
    Bytes bytes{0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x11, 8};
    PutBigEndian(bytes, height, 2);
    PutBigEndian(bytes, width, 2);
    bytes.insert(bytes.end(), {3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1});
    bytes.insert(bytes.end(), {0xFF, 0xDA, 0x00, 0x0C, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});
    return bytes;
}

Bytes Cut(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

} // namespace

TEST(HeaderImage, SizeFromTheHeaderAloneAndNothingBeyond4096By4096) {
    const struct {
        const char* label;
        Bytes bytes;
        bool fits;
    } rows[] = {
        {"the window's header", PngHeader(480, 96), true},
        {"at the limit", PngHeader(4096, 4096), true},
        {"one column beyond", PngHeader(4097, 4096), false},
        {"long and thin, same count", PngHeader(1, 4096 * 4096), true},
        {"long and thin, beyond", PngHeader(2, 4096 * 4096), false},
        {"20000 x 20000", PngHeader(20000, 20000), false},
        {"sides whose product overflows 32 bits", PngHeader(70000, 70000), false},
        {"JPEG", JpegHeader(1024, 768), true},
        {"JPEG beyond", JpegHeader(20000, 20000), false},
        {"no image", Bytes{'n', 'o', 'p', 'e'}, false},
        {"a PNG cut inside its header", Cut(PngHeader(480, 96), 20), false},
        {"empty", Bytes{}, false},
    };
    for (const auto& row : rows) {
        NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
        std::string why;
        EXPECT_EQ(
            HeaderImageFits([NSData dataWithBytes:row.bytes.data() length:row.bytes.size()], why),
            row.fits)
            << row.label << ": " << why;
        [pool release];
    }
}
