#include "Windows/HeaderImage.h"

#include "MidiUpdateLib/OS.h"

#include "Windows/GdiplusFlat.h"

#include <cstring>
#include <fstream>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

unsigned long BigEndian(const unsigned char* at, int bytes) {
    unsigned long value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | at[i];
    return value;
}

unsigned long LittleEndian(const unsigned char* at, int bytes) {
    unsigned long value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | at[i];
    return value;
}

bool JpegSize(const unsigned char* bytes, std::size_t size, unsigned long& width,
              unsigned long& height) {
    std::size_t at = 2; // after SOI
    while (at + 9 <= size) {
        if (bytes[at] != 0xFF)
            return false;
        const unsigned char marker = bytes[at + 1];
        if (marker == 0xFF) { // fill byte
            ++at;
            continue;
        }
        // SOF0 to SOF15 carry the frame's size; C4, C8 and CC are other segments.
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
            marker != 0xCC) {
            height = BigEndian(bytes + at + 5, 2);
            width = BigEndian(bytes + at + 7, 2);
            return true;
        }
        at += 2 + BigEndian(bytes + at + 2, 2);
    }
    return false;
}

// GDI+ on Windows decodes when the pixels are first needed, so a format read by its
// header is checked again once loaded, before it is drawn into a device bitmap.
bool LoadedTooLarge(GpImage* image) {
    UINT width = 0;
    UINT height = 0;
    return GdipGetImageWidth(image, &width) != Ok || GdipGetImageHeight(image, &height) != Ok ||
           width > maxHeaderImageSide || height > maxHeaderImageSide;
}

// Takes `image` over; transparent parts become black, as the header has no background.
HBITMAP ToDeviceBitmap(GpImage* image) {
    if (LoadedTooLarge(image)) {
        GdipDisposeImage(image);
        Trace("Failed to convert PNG\n");
        return nullptr;
    }
    HBITMAP bitmap = nullptr;
    const Status status =
        GdipCreateHBITMAPFromBitmap(reinterpret_cast<GpBitmap*>(image), &bitmap, 0);
    GdipDisposeImage(image);
    if (status != Ok) {
        Trace("Failed to convert PNG\n");
        return nullptr;
    }
    return bitmap;
}

} // namespace

bool ImageFileSize(const unsigned char* bytes, std::size_t size, unsigned long& width,
                   unsigned long& height) {
    static const unsigned char png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (size >= 24 && std::memcmp(bytes, png, sizeof png) == 0 &&
        std::memcmp(bytes + 12, "IHDR", 4) == 0) {
        width = BigEndian(bytes + 16, 4);
        height = BigEndian(bytes + 20, 4);
        return true;
    }
    if (size >= 10 &&
        (std::memcmp(bytes, "GIF87a", 6) == 0 || std::memcmp(bytes, "GIF89a", 6) == 0)) {
        width = LittleEndian(bytes + 6, 2);
        height = LittleEndian(bytes + 8, 2);
        return true;
    }
    if (size >= 26 && bytes[0] == 'B' && bytes[1] == 'M') {
        width = LittleEndian(bytes + 18, 4);
        // Negative for a top-down bitmap.
        const unsigned long rows = LittleEndian(bytes + 22, 4);
        height = rows & 0x80000000ul ? 0x100000000ul - rows : rows;
        return true;
    }
    if (size >= 4 && bytes[0] == 0xFF && bytes[1] == 0xD8)
        return JpegSize(bytes, size, width, height);
    return false;
}

bool ImageTooLarge(const unsigned char* bytes, std::size_t size) {
    unsigned long width = 0;
    unsigned long height = 0;
    if (!ImageFileSize(bytes, size, width, height) ||
        (width <= maxHeaderImageSide && height <= maxHeaderImageSide))
        return false;
    Trace("Header image of %lu x %lu pixels is larger than %lu x %lu: not decoded\n", width, height,
          maxHeaderImageSide, maxHeaderImageSide);
    return true;
}

HBITMAP HeaderImageFromFile(const std::wstring& path) {
    // Only the file's beginning: a JPEG's size may follow some kilobytes of other data.
    std::vector<unsigned char> head(64 * 1024);
    std::ifstream file(path.c_str(), std::ios::in | std::ios::binary);
    file.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    if (ImageTooLarge(head.data(), static_cast<std::size_t>(file.gcount()))) {
        Trace("Failed to convert PNG\n");
        return nullptr;
    }
    GpBitmap* image = nullptr;
    if (GdipCreateBitmapFromFile(path.c_str(), &image) != Ok || !image) {
        Trace("Failed to convert PNG\n");
        return nullptr;
    }
    return ToDeviceBitmap(image);
}

HBITMAP HeaderImageFromBytes(const std::vector<unsigned char>& bytes) {
    if (bytes.empty())
        return nullptr;
    // Decoding it would hold gigabytes: as damaged as bytes that do not decode.
    if (ImageTooLarge(bytes.data(), bytes.size())) {
        Trace("Failed to convert PNG\n");
        return nullptr;
    }
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    if (!block)
        return nullptr;
    HBITMAP bitmap = nullptr;
    if (void* data = GlobalLock(block)) {
        std::memcpy(data, bytes.data(), bytes.size());
        IStream* stream = nullptr;
        if (CreateStreamOnHGlobal(block, FALSE, &stream) == S_OK) {
            // GDI+ may read the stream until the image is gone: the clone is what stays,
            // made while the stream still lives.
            GpImage* loaded = nullptr;
            GpImage* clone = nullptr;
            if (GdipLoadImageFromStream(stream, &loaded) == Ok && loaded) {
                if (GdipCloneImage(loaded, &clone) != Ok)
                    clone = nullptr;
                GdipDisposeImage(loaded);
            }
            stream->Release();
            if (clone)
                bitmap = ToDeviceBitmap(clone);
        }
        GlobalUnlock(block);
    }
    GlobalFree(block);
    return bitmap;
}

std::wstring ProgramFolderFile(const wchar_t* name) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            return name;
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    path.erase(path.find_last_of(L'\\') + 1);
    return path + name;
}
