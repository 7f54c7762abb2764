#include "Linux/LinuxMidiPort.h"

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/Update.h"

#include <algorithm>

namespace midiupdate {
namespace {

bool IsIdentityReply(const std::vector<unsigned char>& message) {
    return message.size() >= 5 && message[0] == 0xF0 && message[1] == 0x7E && message[3] == 0x06 &&
           message[4] == 0x02;
}

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
    for (std::size_t i = 0; i < size; ++i) {
        sysExCollector.Add(data[i]);
        if (data[i] == 0xF7 && sysExCollector.HasSysEx() &&
            IsIdentityReply(sysExCollector.message)) {
            std::lock_guard<std::mutex> guard(identityLock);
            identityReply = sysExCollector.message;
        }
    }
}

std::vector<unsigned char> LinuxMidiPort::ReceiveSysEx(unsigned int timeoutMilliseconds,
                                                       const unsigned char* request,
                                                       unsigned long size) {
    // Short enough that a prompt reply costs little, long enough not to spin.
    static const unsigned int pollInterval = 20;
    const unsigned int start = TimeNow();
    ClearLastSysEx();
    {
        std::lock_guard<std::mutex> guard(identityLock);
        identityReply.clear();
    }
    // The transfer has closed the port by now; a device that restarts after its update
    // gets until the limit to come back.
    bool sent = request == nullptr || size == 0;
    for (;;) {
        if (!sent && IsConnected()) {
            Trace("%s::ReceiveSysEx: Sending %lu-byte request\n", ClassName(), size);
            Transmit(request, size);
            sent = true;
        }
        {
            std::lock_guard<std::mutex> guard(identityLock);
            if (!identityReply.empty()) {
                std::vector<unsigned char> reply;
                reply.swap(identityReply);
                Trace("%s::ReceiveSysEx: Reply after %u ms\n", ClassName(), TimeNow() - start);
                return reply;
            }
        }
        const unsigned int elapsed = TimeNow() - start;
        if (elapsed >= timeoutMilliseconds)
            break;
        const unsigned int left = timeoutMilliseconds - elapsed;
        SleepFor(left < pollInterval ? left : pollInterval);
    }
    Trace("%s::ReceiveSysEx: No reply within %u ms\n", ClassName(), timeoutMilliseconds);
    return {};
}

} // namespace midiupdate
