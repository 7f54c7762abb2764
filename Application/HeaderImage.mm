#include "Application/HeaderImage.h"

#include <ImageIO/ImageIO.h>

#include <string>

bool HeaderImageFits(NSData* bytes, std::string& why) {
    CGImageSourceRef source = CGImageSourceCreateWithData((CFDataRef)bytes, NULL);
    CFDictionaryRef properties =
        source ? CGImageSourceCopyPropertiesAtIndex(source, 0, NULL) : NULL;
    NSDictionary* values = (NSDictionary*)properties;
    const unsigned long long width =
        [[values objectForKey:(NSString*)kCGImagePropertyPixelWidth] unsignedLongLongValue];
    const unsigned long long height =
        [[values objectForKey:(NSString*)kCGImagePropertyPixelHeight] unsignedLongLongValue];
    if (properties != NULL)
        CFRelease(properties);
    if (source != NULL)
        CFRelease(source);
    if (width == 0 || height == 0) {
        why = "Header image: no size in its header; left out";
        return false;
    }
    // Each side is at most 2^32 - 1 in every format read here: the product fits.
    if (width * height > headerImagePixelLimit) {
        why = "Header image: " + std::to_string(width) + " x " + std::to_string(height) +
              " pixels, beyond 4096 x 4096; left out";
        return false;
    }
    return true;
}
