#include "MidiUpdateLib/MidiPort.h"

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/PlatformForm.h"
#include "MidiUpdateLib/SendUpdate.h"

#include <cassert>

namespace {

thread_local bool sendingRequest = false;

// Marks the calling thread as sending the identity request, however the send ends.
class RequestScope {
public:
    RequestScope() { sendingRequest = true; }
    ~RequestScope() { sendingRequest = false; }
    RequestScope(const RequestScope&) = delete;
    RequestScope& operator=(const RequestScope&) = delete;
};

} // namespace

MidiPort::MidiPort() {
    sysExCollector.onComplete = &MidiPort::GotSysExFn;
    sysExCollector.context = this;
}

MidiPort::~MidiPort() = default;

void MidiPort::PermitOtherPorts() {}

void MidiPort::Synchronise() {}

std::vector<unsigned char> MidiPort::ReceiveSysEx(unsigned int, const unsigned char*,
                                                  unsigned long) {
    return {};
}

std::vector<unsigned char> MidiPort::LastSysEx() {
    std::lock_guard<std::mutex> guard(lastSysExLock);
    return lastSysEx;
}

void MidiPort::ClearLastSysEx() {
    std::lock_guard<std::mutex> guard(lastSysExLock);
    lastSysEx.clear();
}

void MidiPort::GotSysExFn(void* context) {
    static_cast<MidiPort*>(context)->GotSysEx();
}

void MidiPort::GotSysEx() {
    assert(sysExCollector.HasSysEx());
    const std::vector<unsigned char>& message = sysExCollector.message;
    {
        // Copy before taking the lock so the job's thread waits no longer than a swap.
        std::vector<unsigned char> copy = message;
        std::lock_guard<std::mutex> guard(lastSysExLock);
        lastSysEx.swap(copy);
    }
    Trace("%s: %u bytes %s\n", midiupdate::TraceName("MidiPort", "GotSysEx").c_str(),
          static_cast<unsigned>(message.size()), ToString(message).c_str());
}

unsigned long long MidiPort::UndeliveredBytes() const {
    return undelivered.load();
}

void MidiPort::Undelivered(unsigned long bytes) {
    // No lock and no trace: a real-time thread may be the caller.
    if (!sendingRequest)
        undelivered.fetch_add(bytes);
}

bool MidiPort::SendingRequest() {
    return sendingRequest;
}

void MidiPort::CollectReceived(const unsigned char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        sysExCollector.Add(data[i]);
        if (data[i] == 0xF7 && sysExCollector.HasSysEx() &&
            IsIdentityReply(sysExCollector.message)) {
            std::lock_guard<std::mutex> guard(identityLock);
            identityReply = sysExCollector.message;
        }
    }
}

std::vector<unsigned char> MidiPort::AwaitIdentityReply(unsigned int timeoutMilliseconds,
                                                        unsigned int pollInterval,
                                                        const std::string& name,
                                                        const std::function<bool()>& sendRequest) {
    const unsigned int start = TimeNow();
    ClearLastSysEx();
    {
        std::lock_guard<std::mutex> guard(identityLock);
        identityReply.clear();
    }
    // The transfer has closed the port by now; a device that is still away (restarting
    // after its update, say) gets until the limit to come back.
    bool sent = !sendRequest;
    for (;;) {
        if (!sent) {
            RequestScope scope;
            sent = sendRequest();
        }
        {
            std::lock_guard<std::mutex> guard(identityLock);
            if (!identityReply.empty()) {
                std::vector<unsigned char> reply;
                reply.swap(identityReply);
                Trace("%s: Reply after %u ms\n", name.c_str(), TimeNow() - start);
                return reply;
            }
        }
        const unsigned int elapsed = TimeNow() - start; // unsigned: survives the wrap
        if (elapsed >= timeoutMilliseconds)
            break;
        const unsigned int left = timeoutMilliseconds - elapsed;
        SleepFor(left < pollInterval ? left : pollInterval);
    }
    Trace("%s: No reply within %u ms\n", name.c_str(), timeoutMilliseconds);
    return {};
}

std::string ToString(const std::vector<unsigned char>& bytes) {
    // Twenty bytes tell which message it is; the rest would only flood the log.
    const std::size_t shown = bytes.size() < 20 ? bytes.size() : 20;
    std::string text = "{";
    for (std::size_t i = 0; i < shown; ++i)
        text += Format(" 0x%02x", static_cast<unsigned>(bytes[i]));
    text += " }";
    return text;
}
