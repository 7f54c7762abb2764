#include "MidiUpdateLib/SendUpdate.h"

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/PlatformForm.h"

#include <algorithm>
#include <cstdint>

using midiupdate::TraceName;

const unsigned char deviceEnquiry[6] = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
const unsigned char statusMessageHeader[5] = {0xF0, 0x00, 0x00, 0x3F, 0x73};
const unsigned char identityReplyHeader[5] = {0xF0, 0x7E, 0x00, 0x06, 0x02};

namespace {

const unsigned int STATUS_TIME_LIMIT = 2000; // ms, one poll of the device's status
const unsigned int STATUS_POLL_SLEEP = 500;  // ms
const int STATUS_PASSES = 6;
const int BUSY_POLLS = 200; // further polls per pass while the device says busy
const unsigned int CONNECT_CHECKS = 10;
const unsigned int CONNECT_CHECK_SLEEP = 1000; // ms
const unsigned int RETRY_SLEEP = 5000;         // ms, between attempts to reach the port
const unsigned int ENQUIRY_TIME_LIMIT = 5000;  // ms

std::string SentStatus(std::size_t sent, std::size_t total) {
    return "Sent " + BytesToHuman(static_cast<unsigned int>(sent)) + " of " +
           BytesToHuman(static_cast<unsigned int>(total));
}

Range<unsigned char> WholeOf(std::vector<unsigned char>& bytes) {
    return Range<unsigned char>{bytes.data(), bytes.data() + bytes.size()};
}

} // namespace

// ---- Chunks and pacing --------------------------------------------------------------

Range<unsigned char> NextSysExChunk(Range<unsigned char> remaining, unsigned long idealSize,
                                    unsigned long maxSize) {
    // A chunk of no bytes would never end a portion, and the boundary search would look
    // at the byte before the chunk: an ideal size of 0 counts as 1.
    idealSize = std::max(idealSize, 1ul);
    const unsigned long length = static_cast<unsigned long>(remaining.Size());
    if (length < idealSize)
        return remaining;

    unsigned long n = idealSize;
    while (n < maxSize && n != length && remaining.start[n - 1] != 0xF7 &&
           remaining.start[n - 1] != 0x0A)
        ++n;
    return Range<unsigned char>{remaining.start, remaining.start + n};
}

float PercentageDone(const Range<unsigned char>& total, const Range<unsigned char>& remaining) {
    assert(total.end == remaining.end);
    // Nothing to send counts as all sent, rather than 0/0.
    if (total.Empty())
        return 1.0f;
    return static_cast<float>(remaining.start - total.start) / static_cast<float>(total.Size());
}

bool SysExSender::SendChunked(Update::SysExPortion& portion, MidiPort& port,
                              UpdateProgress& progress) {
    Trace("%s(portion,port,progress)\n", TraceName("SysExSender", "SendChunked").c_str());
    const Range<unsigned char> total = WholeOf(portion.sysEx);
    Range<unsigned char> remaining = total;
    std::size_t sent = 0;
    const unsigned long idealSize = port.IdealChunkSize();
    const unsigned long maxSize = port.MaxChunkSize();

    while (!remaining.Empty()) {
        const Range<unsigned char> chunk = NextSysExChunk(remaining, idealSize, maxSize);
        if (sent == 0)
            progress.ProgressIndeterminate();
        else
            progress.Progress(PercentageDone(total, remaining));
        progress.Status(SentStatus(sent, total.Size()));
        port.Send(chunk.start, static_cast<unsigned long>(chunk.Size()));
        remaining.TrimFromFront(static_cast<unsigned long>(chunk.Size()));
        sent += chunk.Size();
    }
    progress.Progress(1.0f);
    progress.Status(SentStatus(sent, total.Size()));
    return true;
}

bool SimpleSysExSender::SendPortion(Update::SysExPortion& portion, UpdateProgress& progress) {
    Trace("SimpleSysExSender::Send\n");
    return SendChunked(portion, port, progress);
}

void DoDelay(Update::SysExPortion& portion, UpdateProgress& progress) {
    Trace("%s\n", "DoDelay");
    if (portion.delay == 0)
        return;
    progress.Status("Waiting for device to become ready for more data...");
    progress.ProgressIndeterminate();
    SleepFor(portion.delay);
    progress.Status("Waiting for device to become active...");
    if (midiupdate::deviceActivationPause > 0)
        SleepFor(midiupdate::deviceActivationPause);
    progress.Progress(1.0f);
}

// ---- Device replies -----------------------------------------------------------------

std::string ToString(std::vector<int> values) {
    std::string text;
    for (int value : values)
        text += Format("%02X ", value);
    return text;
}

std::vector<unsigned char> StatusMessage(unsigned char flags) {
    std::vector<unsigned char> message(STATUS_MESSAGE_SIZE, 0x00);
    std::copy(statusMessageHeader, statusMessageHeader + 5, message.begin());
    message[STATUS_FLAGS_OFFSET] = flags;
    message.back() = 0xF7;
    return message;
}

std::vector<unsigned char> IdentityReply(const IdentityReplyFields& fields) {
    std::vector<unsigned char> reply;
    reply.reserve(5 + fields.manufacturer.size() + IDENTITY_NAME_OFFSET + IDENTITY_NAME_SIZE + 1);
    reply.assign(identityReplyHeader, identityReplyHeader + 5);
    for (unsigned char byte : fields.manufacturer)
        reply.push_back(byte);
    reply.insert(reply.end(), {fields.family[0], fields.family[1], fields.model});
    reply.insert(reply.end(), fields.version, fields.version + 4);
    reply.insert(reply.end(), IDENTITY_NAME_OFFSET - IDENTITY_VERSION_OFFSET - 4, 0x00);
    for (std::size_t i = 0; i < IDENTITY_NAME_SIZE; ++i)
        reply.push_back(i < fields.name.size() ? static_cast<unsigned char>(fields.name[i]) : 0);
    reply.push_back(0xF7);
    return reply;
}

bool IsIdentityReply(const std::vector<unsigned char>& message) {
    const unsigned char* const header = identityReplyHeader;
    return message.size() >= 5 && message[0] == header[0] && message[1] == header[1] &&
           message[3] == header[3] && message[4] == header[4];
}

void DeviceVersionBytes(unsigned int major, unsigned int minor, unsigned char bytes[4]) {
    bytes[0] = static_cast<unsigned char>(major / 22);
    bytes[1] = static_cast<unsigned char>(major % 22);
    bytes[2] = static_cast<unsigned char>(minor / 10);
    bytes[3] = static_cast<unsigned char>(minor % 10);
}

DeviceInfo ParseDeviceEnquiryResponse(const std::vector<unsigned char>& reply) {
    const unsigned char* const header = identityReplyHeader;
    DeviceInfo info;
    if (reply.size() < 5) {
        Trace("%s: MIDI sysex header short\n", "ParseDeviceEnquiryResponse");
        return info;
    }
    if (!std::equal(header, header + 5, reply.begin())) {
        Trace("%s: MIDI sysex header wrong\n", "ParseDeviceEnquiryResponse");
        return info;
    }

    // A reply cut short must not be read past its end, nor its closing F7 read as data:
    // each field is filled only when all of its bytes are there (the name takes what
    // there is). A full reply reads exactly as the layout says.
    const std::size_t dataEnd = reply.back() == 0xF7 ? reply.size() - 1 : reply.size();
    const auto has = [dataEnd](std::size_t offset) { return offset < dataEnd; };
    const std::size_t layoutSize =
        5 + (has(5) && reply[5] == 0x00 ? 3 : 1) + IDENTITY_NAME_OFFSET + IDENTITY_NAME_SIZE;
    if (reply.size() < layoutSize)
        Trace("%s: MIDI sysex reply short (%u bytes)\n", "ParseDeviceEnquiryResponse",
              static_cast<unsigned>(reply.size()));
    if (!has(5))
        return info;

    std::size_t p = 6;
    std::vector<int> manufacturer = {reply[5]};
    if (reply[5] == 0x00) {
        p = 8;
        if (!has(7))
            return info;
        manufacturer = {reply[5], reply[6], reply[7]};
    }
    info.manufacturer = ToString(manufacturer);
    if (has(p + IDENTITY_FAMILY_OFFSET))
        info.family = ToString(std::vector<int>{reply[p + IDENTITY_FAMILY_OFFSET]});
    const std::size_t v = p + IDENTITY_VERSION_OFFSET;
    if (has(v + 3))
        info.version = Format("%d.%d%d", reply[v] * 22 + reply[v + 1], reply[v + 2], reply[v + 3]);
    const std::size_t n = p + IDENTITY_NAME_OFFSET;
    for (std::size_t i = n;
         i < n + IDENTITY_NAME_SIZE && has(i) && reply[i] != 0x00 && reply[i] < 0x7F; ++i)
        info.name += static_cast<char>(reply[i]);
    return info;
}

int CheckSysExUpdateStatus(const std::vector<unsigned char>& message) {
    if (message.size() != STATUS_MESSAGE_SIZE ||
        !std::equal(statusMessageHeader, statusMessageHeader + 5, message.begin()))
        return UPDATE_STATUS_NONE;
    const unsigned flags = message[STATUS_FLAGS_OFFSET];
    Trace("%s: error=(0x%02x)\n", "CheckSysExUpdateStatus", flags);
    if (flags & 0x0F)
        return UPDATE_STATUS_ERROR;
    if (flags & 0x20)
        return UPDATE_STATUS_BUSY;
    return UPDATE_STATUS_ACCEPTED;
}

int GetUpdateStatus(MidiPort& port, unsigned int timeLimitMilliseconds) {
    const unsigned int start = TimeNow();
    std::vector<unsigned char> message = port.LastSysEx();
    port.ClearLastSysEx();
    // Elapsed time in unsigned arithmetic holds across the wrap of the 32-bit clock,
    // where "now < start + limit" would end the wait early or never.
    while (message.empty() && TimeNow() - start < timeLimitMilliseconds) {
        SleepFor(STATUS_POLL_SLEEP);
        message = port.LastSysEx();
        port.ClearLastSysEx();
        if (!port.IsConnected())
            port.Disconnect();
        Trace("%s: sysEx=(%s)\n", "GetUpdateStatus", message.empty() ? "none" : "something");
    }
    return CheckSysExUpdateStatus(message);
}

int WaitForUpdateToFinish(MidiPort& port, UpdateProgress& progress) {
    const char* const name = "WaitForUpdateToFinish";
    Trace("%s >>\n", name);
    if (!port.IsConnected()) {
        Trace("%s: not connected\n", name);
        return UPDATE_STATUS_NONE;
    }
    progress.Status("Checking update status...");
    progress.ProgressIndeterminate();

    int status = UPDATE_STATUS_NONE;
    bool shown = false;
    for (int passes = 0; passes < STATUS_PASSES && status == UPDATE_STATUS_NONE; ++passes) {
        int code = GetUpdateStatus(port, STATUS_TIME_LIMIT);
        for (int busy = 0; code == UPDATE_STATUS_BUSY && busy < BUSY_POLLS; ++busy) {
            if (!shown) {
                progress.Status("Waiting for device to complete update installation...");
                progress.ProgressIndeterminate();
                shown = true;
            }
            code = GetUpdateStatus(port, STATUS_TIME_LIMIT);
        }
        status = code;
    }

    if (status == UPDATE_STATUS_ACCEPTED)
        progress.Status("Device has accepted update.");
    else
        progress.Status("Device has not yet responded to update.");
    progress.Progress(1.0f);
    Trace("%s << (%d)\n", name, status);
    return status;
}

// ---- The transfer -------------------------------------------------------------------

bool CheckConnected(MidiPort& port) {
    for (unsigned int check = 0; check < CONNECT_CHECKS; ++check) {
        if (port.IsConnected())
            break;
        Trace("MIDI port is not connected. Waiting, then retrying\n");
        SleepFor(CONNECT_CHECK_SLEEP);
    }
    if (!port.IsConnected()) {
        Trace("Failed to find MIDI port. Permitting others.\n");
        port.PermitOtherPorts();
        if (!port.IsConnected()) {
            Trace("Still Failed to find MIDI port.\n");
            return false;
        }
    }
    return port.IsConnected();
}

SysExSender::SysExSender(MidiPort& port) : port(port) {
    Trace("%s", TraceName("SysExSender", "SysExSender").c_str());
}

SysExSender::~SysExSender() = default;

namespace {

const char* const deviceErrorText =
    "There was an error sending the update file.\nPlease restart the device and try again.";

struct Verdict {
    TransferVerdict kind;
    std::string text;
};

// From the last portion's status alone, or from the identity reply when the device
// has not said that it accepted the update.
Verdict ChooseVerdict(int status, Update& update, MidiPort& port, UpdateProgress& progress) {
    const std::string fileVersion = update.version.ToString();
    // The texts below are as users have always seen them, typos included ("sucessfully").
    const std::string updated = Format("The '%s' was updated sucessfully to version %s.",
                                       update.productName.c_str(), fileVersion.c_str());
    if (status == UPDATE_STATUS_ACCEPTED)
        return {TransferVerdict::Accepted, updated};
    if (status != UPDATE_STATUS_NONE && status != UPDATE_STATUS_BUSY)
        return {TransferVerdict::Failed, deviceErrorText};

    progress.Status("Verifying update status...");
    const std::vector<unsigned char> reply =
        port.ReceiveSysEx(ENQUIRY_TIME_LIMIT, deviceEnquiry, sizeof deviceEnquiry);
    if (reply.empty())
        return {TransferVerdict::Unconfirmed,
                "The update has been sent. Please check your device for update status."};
    const std::string deviceVersion = ParseDeviceEnquiryResponse(reply).version;
    if (deviceVersion.empty())
        return {TransferVerdict::Unconfirmed, "The update has been sent, but the device has not "
                                              "yet confirmed that the update process was "
                                              "successful."};
    if (update.version.major == 0 && update.version.minor == 0)
        return {TransferVerdict::Accepted,
                Format("The update has been sent to the device sucessfully.\nIt is now at "
                       "version firmware %s.",
                       deviceVersion.c_str())};
    if (deviceVersion == fileVersion)
        return {TransferVerdict::Accepted, updated};
    return {TransferVerdict::Failed,
            Format("The '%s' firmware version is now %s.\nThe update file version was "
                   "%s.\nThe update process did not complete successfully.",
                   update.productName.c_str(), deviceVersion.c_str(), fileVersion.c_str())};
}

} // namespace

int SysExSender::SendWhileConnected(Update::SysExPortion& portion, unsigned int number,
                                    UpdateProgress& progress, unsigned long long& lost) {
    const std::string name = TraceName("SysExSender", "Send");
    // A status the device sent after the last portion's polling had ended would answer
    // this portion: drop it, through the port's interface, since some ports keep their
    // own store. A reply arriving from now on counts.
    if (!port.LastSysEx().empty())
        Trace("%s: Discarding a stale reply\n", name.c_str());
    port.ClearLastSysEx();
    const unsigned long long undeliveredBefore = port.UndeliveredBytes();
    SendPortion(portion, progress);
    const int status = WaitForUpdateToFinish(port, progress);
    Trace("%s: Disconnecting\n", name.c_str());
    // After the disconnection: a port may learn of the last chunks' fate only once they
    // have gone out.
    port.Disconnect();
    lost = port.UndeliveredBytes() - undeliveredBefore;
    if (lost > 0) {
        Trace("%s: %llu bytes of portion %u did not reach the device\n", name.c_str(), lost,
              number);
        if (onUndelivered)
            onUndelivered(number, lost);
    }
    DoDelay(portion, progress);
    return status;
}

TransferVerdict SysExSender::Send(Update& update, UpdateProgress& progress) {
    Trace("%s(update,sender,progress)\n", TraceName("SysExSender", "Send").c_str());
    progress.Progress(0.0f);
    progress.ProgressIndeterminate();
    progress.Status("Started update");

    const float total = static_cast<float>(update.TotalSysExSize());
    int status = UPDATE_STATUS_NONE;
    unsigned long long undelivered = 0;
    std::uint64_t bytesBefore = 0;
    const unsigned count = static_cast<unsigned>(update.sysExPortions.size());
    for (unsigned n = 1; n <= count; ++n) {
        Update::SysExPortion& portion = update.sysExPortions[n - 1];
        const std::uint64_t bytesAfter = bytesBefore + portion.sysEx.size();
        UpdateProgressConverter converter(progress, static_cast<float>(bytesBefore),
                                          static_cast<float>(bytesAfter), total);
        if (n == 1)
            progress.Status("Looking for " + update.productName + " to update...");
        else
            progress.Status(Format("Sending chunk #%u of %u", n, count)); // a portion, as ever

        progress.ProgressIndeterminate();
        while (!CheckConnected(port)) {
            // The first portion's "Looking for" line says all there is to say.
            if (n > 1)
                progress.Status(Format("Could not send chunk #%u of %u. Retrying...", n, count));
            SleepFor(RETRY_SLEEP);
            progress.ProgressIndeterminate();
        }
        unsigned long long lost = 0;
        status = SendWhileConnected(portion, n, converter, lost);
        undelivered += lost;
        bytesBefore = bytesAfter;
    }

    progress.Progress(1.0f);
    progress.Status("MIDI update sent successfully.");
    Verdict verdict = ChooseVerdict(status, update, port, progress);
    // A later portion's acceptance, or a version that reads right, says nothing of a hole
    // in an earlier one: the device may be running firmware with bytes missing.
    if (undelivered > 0)
        verdict = {TransferVerdict::Failed, deviceErrorText};
    progress.Completed(verdict.text);
    return verdict.kind;
}
