#pragma once

// Whether an update's own header image may be decoded: its size is read from the
// image's header alone (ImageIO), so a hostile image is refused before it costs memory.
// Any thread.

#include <string>

#import <Foundation/Foundation.h>

// The header is 480 × 96 points; 4096 × 4096 pixels, 64 MiB decoded, is more than any
// header needs. A 20000 × 20000 image took 5.5 GB and froze the window for 24 s. The
// Windows program has the same limit.
const unsigned long long headerImagePixelLimit = 4096ULL * 4096ULL;

// False, with the reason for the log, when the size cannot be read or is beyond the limit:
// such an image is treated as damaged.
bool HeaderImageFits(NSData* bytes, std::string& why);
