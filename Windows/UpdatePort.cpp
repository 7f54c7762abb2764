#include "Windows/StartUpdate.h"

#include "MidiUpdateLib/Update.h"
#include "Windows/WindowsMidiPort.h"

std::unique_ptr<MidiPort> MakeUpdatePort(const Update& update) {
    return std::make_unique<WindowsMidiPort>(update.windowsParameters);
}
