#include <ImageIO/ImageIO.h>

#import <Foundation/Foundation.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

const CFStringRef kCGImagePropertyPixelWidth = CFSTR("PixelWidth");
const CFStringRef kCGImagePropertyPixelHeight = CFSTR("PixelHeight");

// The source is the data itself, retained: CFRelease lets it go.
CGImageSourceRef CGImageSourceCreateWithData(CFDataRef data, CFDictionaryRef) {
    return data ? (CGImageSourceRef)[(NSData*)data retain] : NULL;
}

namespace {

struct PngReader {
    const unsigned char* bytes;
    size_t size;
    size_t at;
};

void ReadPng(png_structp png, png_bytep out, png_size_t count) {
    PngReader* reader = static_cast<PngReader*>(png_get_io_ptr(png));
    if (count > reader->size - reader->at)
        png_error(png, "truncated");
    std::memcpy(out, reader->bytes + reader->at, count);
    reader->at += count;
}

[[noreturn]] void PngFailed(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void PngQuiet(png_structp, png_const_charp) {}

// libpng reports its failures by longjmp, so nothing with a destructor lives here. The
// size counts once the header chunk is read, whatever follows it, as nothing more is read.
bool PngSize(const unsigned char* bytes, size_t size, unsigned long& width, unsigned long& height) {
    if (size < 8 || png_sig_cmp(bytes, 0, 8) != 0)
        return false;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, NULL, PngFailed, PngQuiet);
    png_infop info = png ? png_create_info_struct(png) : NULL;
    if (info == NULL) {
        png_destroy_read_struct(&png, NULL, NULL);
        return false;
    }
    PngReader reader = {bytes, size, 0};
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX); // a Mac has no lower ones
        png_set_read_fn(png, &reader, ReadPng);
        png_read_info(png, info); // the chunks before the pixels: none is decoded
    }
    width = png_get_image_width(png, info);
    height = png_get_image_height(png, info);
    png_destroy_read_struct(&png, &info, NULL);
    return width != 0 && height != 0;
}

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void JpegFailed(j_common_ptr jpeg) {
    std::longjmp(reinterpret_cast<JpegErrors*>(jpeg->err)->jump, 1);
}

void JpegQuiet(j_common_ptr) {}

bool JpegSize(const unsigned char* bytes, size_t size, unsigned long& width,
              unsigned long& height) {
    if (size < 3 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return false;
    jpeg_decompress_struct jpeg;
    JpegErrors errors;
    jpeg.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JpegFailed;
    errors.manager.output_message = JpegQuiet;
    bool read = false;
    if (setjmp(errors.jump) == 0) {
        jpeg_create_decompress(&jpeg);
        jpeg_mem_src(&jpeg, bytes, static_cast<unsigned long>(size));
        jpeg_read_header(&jpeg, TRUE); // the markers up to the first scan: nothing decoded
        width = jpeg.image_width;
        height = jpeg.image_height;
        read = true;
    }
    jpeg_destroy_decompress(&jpeg);
    return read;
}

} // namespace

CFDictionaryRef CGImageSourceCopyPropertiesAtIndex(CGImageSourceRef source, size_t index,
                                                   CFDictionaryRef) {
    if (source == NULL || index != 0)
        return NULL;
    NSData* data = (NSData*)source;
    const unsigned char* bytes = static_cast<const unsigned char*>([data bytes]);
    const size_t size = [data length];
    unsigned long width = 0;
    unsigned long height = 0;
    if (!PngSize(bytes, size, width, height) && !JpegSize(bytes, size, width, height))
        return NULL;
    return (CFDictionaryRef)
        [[NSDictionary alloc] initWithObjectsAndKeys:[NSNumber numberWithUnsignedLong:width],
                                                     (NSString*)kCGImagePropertyPixelWidth,
                                                     [NSNumber numberWithUnsignedLong:height],
                                                     (NSString*)kCGImagePropertyPixelHeight, nil];
}
