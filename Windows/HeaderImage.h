#pragma once

// The header image as a device bitmap, decoded by GDI+ (which must be started). Any
// thread; the caller owns the bitmap.

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

// Null when the file is missing, does not decode or is too large.
HBITMAP HeaderImageFromFile(const std::wstring& path);
// Null for no bytes, bytes that do not decode or an image too large.
HBITMAP HeaderImageFromBytes(const std::vector<unsigned char>& bytes);

// The largest header image, on each side, in pixels. A header is 500 x 200; a 20000 x
// 20000 image held 1.6 GB once decoded (peak 2.6 GB), while 4096 x 4096 takes 64 MB.
const unsigned long maxHeaderImageSide = 4096;

// The size a PNG, GIF, BMP or JPEG file's header gives, read without decoding; false
// for other formats and for bytes too short to tell.
bool ImageFileSize(const unsigned char* bytes, std::size_t size, unsigned long& width,
                   unsigned long& height);
// True (and logged) when the header says the image is larger than a header may be.
bool ImageTooLarge(const unsigned char* bytes, std::size_t size);

// `name` in the program file's own folder.
std::wstring ProgramFolderFile(const wchar_t* name);
