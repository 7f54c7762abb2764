#pragma once

// The header image as a device bitmap, decoded by GDI+ (which must be started). Any
// thread; the caller owns the bitmap.

#include <windows.h>

#include <string>
#include <vector>

// Null when the file is missing or does not decode.
HBITMAP HeaderImageFromFile(const std::wstring& path);
// Null for no bytes or bytes that do not decode.
HBITMAP HeaderImageFromBytes(const std::vector<unsigned char>& bytes);

// `name` in the program file's own folder.
std::wstring ProgramFolderFile(const wchar_t* name);
