#include "MidiUpdateLib/PlatformForm.h"

namespace midiupdate {

const bool windowsForm = true;

std::string TraceName(const char* className, const char* function) {
    return std::string(className) + "::" + function;
}

} // namespace midiupdate
