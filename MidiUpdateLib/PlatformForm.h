#pragma once

// The few places where the Windows program and the Mac program say or do things
// differently. Each build links one body: PlatformForm_Windows.cpp for Windows, and
// PlatformForm_Mac.cpp for the Mac and every other platform.

#include <string>
#include <vector>

class Update;
enum class JobFailure;

namespace midiupdate {

// True in the Windows program's form.
extern const bool windowsForm;

// The name a trace record starts with: "SysExSender::Send" on Windows, "Send" elsewhere.
std::string TraceName(const char* className, const char* function);

// The further wait after "Waiting for device to become active...", in ms: the Windows
// program gives the device 10 s more after every portion's pause, the Mac program none.
extern const unsigned int deviceActivationPause;

// The update job's log lines. Windows lines go through Trace and carry their own "\n";
// Mac lines go to the system log, which ends each record itself.
std::string JobStartLog(const std::string& path);
std::vector<std::string> JobSummaryLog(const Update& update);
// The status shown while the file loads; empty where the program shows none.
std::string JobLoadingStatus();
// A failed job's log line (empty where the program logs none), and the text its user is
// shown (reason: the exception's what(), empty for an unknown exception).
std::string JobFailureLog(JobFailure kind, const std::string& reason);
std::string JobFailureText(JobFailure kind, const std::string& reason);

} // namespace midiupdate
