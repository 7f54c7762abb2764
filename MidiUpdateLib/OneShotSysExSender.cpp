// Only the Mac program carries the one-piece sender; CMake leaves this file out of
// Windows builds.

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/PlatformForm.h"
#include "MidiUpdateLib/SendUpdate.h"

bool OneShotSysExSender::SendPortion(Update::SysExPortion& portion, UpdateProgress& progress) {
    Trace("%s\n", midiupdate::TraceName("OneShotSysExSender", "SendPortion").c_str());
    const std::string size = BytesToHuman(static_cast<unsigned int>(portion.sysEx.size()));
    progress.ProgressIndeterminate();
    progress.Status(Format("Sending update (%s). Please wait...", size.c_str()));
    port.Send(portion.sysEx.data(), static_cast<unsigned long>(portion.sysEx.size()));
    progress.Status("Sent " + size + " bytes");
    progress.Progress(1.0f);
    return true;
}
