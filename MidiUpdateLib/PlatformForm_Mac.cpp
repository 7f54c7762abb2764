#include "MidiUpdateLib/PlatformForm.h"

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/Update.h"
#include "MidiUpdateLib/UpdateJob.h"

namespace midiupdate {

const bool windowsForm = false;

std::string TraceName(const char*, const char* function) {
    return function;
}

const unsigned int deviceActivationPause = 0;

std::string JobStartLog(const std::string&) {
    return "Update thread started";
}

std::vector<std::string> JobSummaryLog(const Update& update) {
    const auto first = [](const std::set<std::string>& names) {
        return names.empty() ? std::string() : *names.begin();
    };
    const std::set<std::string>& macNames = update.macPortNames;
    const std::set<std::string>& winNames = update.windowsParameters.names;
    return {
        Format("Product name:   %s", update.productName.c_str()),
        Format("Message:        %s", update.message.c_str()),
        Format("Image:          %u bytes", static_cast<unsigned>(update.image.size())),
        Format("SysEx portions: %u", static_cast<unsigned>(update.sysExPortions.size())),
        Format("Mac port names: %u:%s", static_cast<unsigned>(macNames.size()),
               first(macNames).c_str()),
        Format("Win port names: %u:%s", static_cast<unsigned>(winNames.size()),
               first(winNames).c_str()),
        // Like the Windows line of this name: the names this program's own port looks for.
        Format("Port names    : %u", static_cast<unsigned>(macNames.size())),
        Format("Total SysEx:    %u bytes", update.TotalSysExSize()),
    };
}

std::string JobLoadingStatus() {
    return "Loading update file";
}

std::string JobFailureLog(JobFailure, const std::string&) {
    return std::string();
}

std::string JobFailureText(JobFailure kind, const std::string& reason) {
    // The Mac program names the reason only for a file it could not read.
    if (kind == JobFailure::ParseError)
        return Format("Update failed for reason:\n%s", reason.c_str());
    return "Update failed for unknown reason:";
}

} // namespace midiupdate
