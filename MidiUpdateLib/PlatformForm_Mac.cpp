#include "MidiUpdateLib/PlatformForm.h"

namespace midiupdate {

const bool windowsForm = false;

std::string TraceName(const char*, const char* function) { return function; }

} // namespace midiupdate
