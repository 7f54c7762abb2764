#pragma once

// Stand-in for the ImageIO framework: Apple's names and signatures for what our Mac
// sources use, an image's size read from its header without decoding it. PNG and JPEG
// only (libpng, libjpeg); for other images the properties are NULL, as on a Mac for
// bytes that are no image. The dictionary is an NSDictionary underneath, its values
// NSNumbers, as toll-free bridging gives on a Mac. Thread-safe.

#include <CoreFoundation/CoreFoundation.h>

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct CGImageSource* CGImageSourceRef;

extern const CFStringRef kCGImagePropertyPixelWidth;
extern const CFStringRef kCGImagePropertyPixelHeight;

// Keeps the data; NULL when there is none. Released with CFRelease.
CGImageSourceRef CGImageSourceCreateWithData(CFDataRef data, CFDictionaryRef options);
// The image's width and height in pixels, from its header; NULL when it cannot be read.
CFDictionaryRef CGImageSourceCopyPropertiesAtIndex(CGImageSourceRef source, size_t index,
                                                   CFDictionaryRef options);

#ifdef __cplusplus
}
#endif
