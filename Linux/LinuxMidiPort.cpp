#include "Linux/LinuxMidiPort.h"

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/Update.h"

#include <algorithm>

namespace midiupdate {
namespace {

unsigned long Positive(int value, unsigned long otherwise) {
    return value > 0 ? static_cast<unsigned long>(value) : otherwise;
}

} // namespace

LinuxPortSettings PortSettingsFor(const Update& update, const std::optional<std::string>& port) {
    LinuxPortSettings settings;
    settings.names = port ? std::set<std::string>{*port} : update.macPortNames;
    const MidiPortWindowsParameters& windows = update.windowsParameters;
    settings.idealChunkSize = Positive(windows.ideal, settings.idealChunkSize);
    settings.maxChunkSize = Positive(windows.max, settings.maxChunkSize);
    settings.chunkDelay = windows.delay > 0 ? static_cast<unsigned int>(windows.delay) : 0;
    return settings;
}

bool NameMatches(const std::set<std::string>& names, const std::string& client,
                 const std::string& port) {
    return names.count(port) || names.count(client) || names.count(client + ":" + port);
}

LinuxMidiPort::LinuxMidiPort(LinuxPortSettings settings, unsigned long transportLimit)
    : settings(std::move(settings)), transportLimit(transportLimit ? transportLimit : 1) {}

unsigned long LinuxMidiPort::IdealChunkSize() {
    return std::min(settings.idealChunkSize, transportLimit);
}

unsigned long LinuxMidiPort::MaxChunkSize() {
    return std::min(std::max(settings.maxChunkSize, settings.idealChunkSize), transportLimit);
}

void LinuxMidiPort::Send(const unsigned char* data, unsigned long size) {
    Transmit(data, size);
    if (settings.chunkDelay)
        SleepFor(settings.chunkDelay);
}

void LinuxMidiPort::Received(const unsigned char* data, std::size_t size) {
    CollectReceived(data, size);
}

std::vector<unsigned char> LinuxMidiPort::ReceiveSysEx(unsigned int timeoutMilliseconds,
                                                       const unsigned char* request,
                                                       unsigned long size) {
    // Short enough that a prompt reply costs little, long enough not to spin.
    static const unsigned int pollInterval = 20;
    const std::string name = std::string(ClassName()) + "::ReceiveSysEx";
    std::function<bool()> sendRequest;
    if (request != nullptr && size > 0)
        sendRequest = [this, &name, request, size] {
            if (!IsConnected())
                return false;
            Trace("%s: Sending %lu-byte request\n", name.c_str(), size);
            Transmit(request, size);
            return true;
        };
    return AwaitIdentityReply(timeoutMilliseconds, pollInterval, name, sendRequest);
}

} // namespace midiupdate
