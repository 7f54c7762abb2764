#pragma once

// What a FunctionFS function writes to its ep0 before the gadget is bound: the
// descriptors of a class-compliant USB MIDI interface with one input and one output, as
// the host's driver sees a small interface, and no strings. Its endpoints come up as
// ep1 (bulk OUT: the host's output) and ep2 (bulk IN: the host's input).

#include <vector>

namespace usbmidi {

std::vector<unsigned char> FunctionDescriptors();
std::vector<unsigned char> FunctionStrings();

} // namespace usbmidi
