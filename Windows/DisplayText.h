#pragma once

// Texts from update files (and texts that quote them) as the window, its boxes and the
// port's question show them. Update files carry UTF-8, or, when written on a Western
// Windows, the system's legacy code page; the log keeps the bytes as they are. Any thread.

#include <windows.h>

#include <cstddef>
#include <string>

// `bytes` in the code page the A functions read (UTF-8 under the program's manifest):
// UTF-8 as it is, anything else read in the system's legacy ANSI code page, as the
// Mac program reads it as Latin-1. Cut to fit a buffer of `bufferSize` bytes, between
// characters.
std::string DisplayText(const std::string& bytes, std::size_t bufferSize = 0);

// The same with the code pages given: `legacy` for bytes that are not UTF-8, `target`
// the result's.
std::string DisplayTextIn(const std::string& bytes, UINT legacy, UINT target,
                          std::size_t bufferSize = 0);

bool IsUtf8(const std::string& bytes);
