#pragma once

// The few places where the Windows program and the Mac program say or do things
// differently. Each build links one body: PlatformForm_Windows.cpp for Windows, and
// PlatformForm_Mac.cpp for the Mac and every other platform.

#include <string>

namespace midiupdate {

// True in the Windows program's form.
extern const bool windowsForm;

// The name a trace record starts with: "SysExSender::Send" on Windows, "Send" elsewhere.
std::string TraceName(const char* className, const char* function);

} // namespace midiupdate
