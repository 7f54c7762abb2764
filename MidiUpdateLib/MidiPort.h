#pragma once

#include <string>
#include <vector>

// The first bytes of a sequence in hexadecimal, for diagnostics: "{ 0xf0 0x7e 0x00 }".
std::string ToString(const std::vector<unsigned char>& bytes);
