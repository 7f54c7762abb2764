#include "MidiUpdateLib/PlatformForm.h"

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/Update.h"
#include "MidiUpdateLib/UpdateJob.h"

namespace midiupdate {

const bool windowsForm = true;

std::string TraceName(const char* className, const char* function) {
    return std::string(className) + "::" + function;
}

const unsigned int deviceActivationPause = 10000;

std::string JobStartLog(const std::string& path) {
    return Format("Loading update file %s...\n", path.c_str());
}

std::vector<std::string> JobSummaryLog(const Update& update) {
    return {
        Format("Product name:   %s\n", update.productName.c_str()),
        Format("Message:        %s\n", update.message.c_str()),
        Format("Image:          %u bytes\n", static_cast<unsigned>(update.image.size())),
        Format("Port names:     %u\n",
               static_cast<unsigned>(update.windowsParameters.names.size())),
        Format("SysEx portions: %u\n", static_cast<unsigned>(update.sysExPortions.size())),
        Format("Total SysEx:    %u bytes\n", update.TotalSysExSize()),
    };
}

std::string JobLoadingStatus() {
    return std::string();
}

std::string JobFailureLog(JobFailure kind, const std::string& reason) {
    if (kind == JobFailure::Unknown)
        return "Thread caught unknown exception\n";
    return Format("Thread caught exception: %s\n", reason.c_str());
}

std::string JobFailureText(JobFailure kind, const std::string& reason) {
    return kind == JobFailure::Unknown ? "Unknown reason" : reason;
}

} // namespace midiupdate
