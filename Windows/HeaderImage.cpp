#include "Windows/HeaderImage.h"

#include "MidiUpdateLib/OS.h"

#include "Windows/GdiplusFlat.h"

#include <cstring>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

// Takes `image` over; transparent parts become black, as the header has no background.
HBITMAP ToDeviceBitmap(GpImage* image) {
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

HBITMAP HeaderImageFromFile(const std::wstring& path) {
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
