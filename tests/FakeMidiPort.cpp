#include "tests/FakeMidiPort.h"

#include <algorithm>
#include <cstdio>

namespace testsupport {

namespace {

template <class T> T NextAnswer(const std::vector<T>& script, std::size_t& used) {
    const T& answer = script[std::min(used, script.size() - 1)];
    ++used;
    return answer;
}

} // namespace

FakeMidiPort::~FakeMidiPort() {
    if (onDestroy)
        onDestroy();
}

void FakeMidiPort::Feed(const Bytes& bytes) {
    std::lock_guard<std::mutex> guard(feedLock);
    for (unsigned char byte : bytes)
        sysExCollector.Add(byte);
}

void FakeMidiPort::Record(std::string call) {
    std::lock_guard<std::mutex> guard(lock);
    calls.push_back(std::move(call));
}

std::vector<std::string> FakeMidiPort::Calls() const {
    std::lock_guard<std::mutex> guard(lock);
    return calls;
}

std::size_t FakeMidiPort::Count(const std::string& call) const {
    const auto all = Calls();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), call));
}

std::vector<Bytes> FakeMidiPort::Sent() const {
    std::lock_guard<std::mutex> guard(lock);
    return sent;
}

unsigned long FakeMidiPort::IdealChunkSize() {
    Record("IdealChunkSize");
    return idealChunkSize;
}

unsigned long FakeMidiPort::MaxChunkSize() {
    Record("MaxChunkSize");
    return maxChunkSize;
}

bool FakeMidiPort::IsConnected() {
    Record("IsConnected");
    return NextAnswer(connected, connectedUsed);
}

void FakeMidiPort::PermitOtherPorts() {
    Record("PermitOtherPorts");
}
void FakeMidiPort::Disconnect() {
    Record("Disconnect");
}

void FakeMidiPort::Send(const unsigned char* data, unsigned long size) {
    Bytes chunk(data, data + size);
    Record("Send " + std::to_string(size));
    {
        std::lock_guard<std::mutex> guard(lock);
        sent.push_back(chunk);
    }
    if (onSend)
        onSend(chunk);
}

std::vector<unsigned char> FakeMidiPort::ReceiveSysEx(unsigned int timeoutMilliseconds,
                                                      const unsigned char* request,
                                                      unsigned long size) {
    Record("ReceiveSysEx " + std::to_string(timeoutMilliseconds) + " " +
           HexText(Bytes(request, request + size)));
    return identityReply;
}

std::vector<unsigned char> FakeMidiPort::LastSysEx() {
    Record("LastSysEx");
    if (lastSysExAnswers.empty())
        return MidiPort::LastSysEx();
    return NextAnswer(lastSysExAnswers, lastSysExUsed);
}

void FakeMidiPort::ClearLastSysEx() {
    Record("ClearLastSysEx");
    MidiPort::ClearLastSysEx();
}

Bytes IdentityReply(const Bytes& manufacturer, unsigned char family, const Bytes& version,
                    const std::string& name) {
    IdentityReplyFields fields;
    fields.manufacturer = manufacturer;
    fields.family[0] = family;
    std::copy_n(version.begin(), std::min<std::size_t>(version.size(), 4), fields.version);
    fields.name = name;
    return ::IdentityReply(fields);
}

std::string HexText(const Bytes& bytes) {
    std::string text;
    for (unsigned char byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += (text.empty() ? "" : " ") + std::string(digits);
    }
    return text;
}

} // namespace testsupport
