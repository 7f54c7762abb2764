#include "Simulator/DeviceConfig.h"

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/Update.h"

#include <cctype>

using midiupdate::ParseDecimal;

namespace {

std::string Trim(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

bool SevenBit(unsigned char byte) {
    return byte < 0x80;
}

} // namespace

std::vector<std::size_t> PortionSizes(const Update& update) {
    std::vector<std::size_t> sizes;
    for (const Update::SysExPortion& portion : update.sysExPortions)
        sizes.push_back(portion.sysEx.size());
    return sizes;
}

std::string ConfigProblem(const SimulatedDeviceConfig& config) {
    const std::vector<unsigned char>& id = config.manufacturerId;
    const bool oneByte = id.size() == 1 && id[0] != 0x00 && SevenBit(id[0]);
    const bool threeBytes = id.size() == 3 && id[0] == 0x00 && SevenBit(id[1]) && SevenBit(id[2]);
    if (!oneByte && !threeBytes)
        return "the manufacturer id must be one byte 01 to 7F, or three bytes 00 xx yy "
               "below 80";
    if (!SevenBit(config.familyLow) || !SevenBit(config.familyHigh) || !SevenBit(config.model))
        return "the family and model bytes must be below 80";
    if (config.version) {
        if (config.version->major > maxDeviceMajorVersion)
            return Format("major version %u is above %u",
                          static_cast<unsigned>(config.version->major), maxDeviceMajorVersion);
        if (config.version->minor > 99)
            return Format("minor version %u is not below 100",
                          static_cast<unsigned>(config.version->minor));
    }
    return std::string();
}

bool ParseStatusScript(const std::string& text, StatusScript& result, std::string& error) {
    const std::string trimmed = Trim(text);
    if (trimmed.empty()) {
        error = "the status script is empty (use accept, error, busy, busy:N, silent, "
                "garbage or endless, separated by commas)";
        return false;
    }
    // Split drops what follows a trailing comma; check for it as for any empty entry.
    if (trimmed.back() == ',') {
        error = "the status script '" + trimmed + "' has an empty entry";
        return false;
    }
    StatusScript script;
    for (const std::string& raw : Split(trimmed, ',')) {
        const std::string entry = Trim(raw);
        const std::string item = ToLower(entry);
        StatusReply reply;
        if (item.empty()) {
            error = "the status script '" + trimmed + "' has an empty entry";
            return false;
        } else if (item == "accept") {
            reply.kind = ReplyKind::Accept;
        } else if (item == "error") {
            reply.kind = ReplyKind::Error;
        } else if (item == "busy") {
            reply.kind = ReplyKind::BusyForever;
        } else if (item.compare(0, 5, "busy:") == 0) {
            unsigned long long count = 0;
            if (!ParseDecimal(Trim(item.substr(5)), 1000000, count)) {
                error =
                    "the busy count in '" + entry + "' must be a whole number from 0 to 1000000";
                return false;
            }
            reply.kind = ReplyKind::BusyThenAccept;
            reply.busyReports = static_cast<unsigned int>(count);
        } else if (item == "silent") {
            reply.kind = ReplyKind::Silent;
        } else if (item == "garbage") {
            reply.kind = ReplyKind::Garbage;
        } else if (item == "endless") {
            reply.kind = ReplyKind::RunOn;
        } else {
            error = "unknown status reply '" + entry +
                    "' (use accept, error, busy, busy:N, silent, garbage or endless)";
            return false;
        }
        script.push_back(reply);
    }
    result = script;
    return true;
}

bool ParseDeviceVersion(const std::string& text, Version& result, std::string& error) {
    const std::string trimmed = Trim(text);
    const std::size_t point = trimmed.find('.');
    unsigned long long major = 0;
    unsigned long long minor = 0;
    if (point == std::string::npos || !ParseDecimal(trimmed.substr(0, point), 0xFFFFFFFFu, major) ||
        !ParseDecimal(trimmed.substr(point + 1), 0xFFFFFFFFu, minor)) {
        error = "version '" + text + "' is not MAJOR.MINOR (for example 1.05)";
        return false;
    }
    // Two digits, as versions are shown: "1.5" would quietly mean 1.05.
    if (trimmed.size() - point - 1 != 2) {
        error = "the minor version in '" + text + "' must have two digits (1.05, 1.50)";
        return false;
    }
    if (major > maxDeviceMajorVersion) {
        error =
            Format("the major version in '%s' is above %u", text.c_str(), maxDeviceMajorVersion);
        return false;
    }
    result.major = static_cast<unsigned short>(major);
    result.minor = static_cast<unsigned short>(minor);
    return true;
}

bool ParseIdentityFault(const std::string& text, IdentityFault& result, std::string& error) {
    const std::string item = ToLower(Trim(text));
    if (item == "short")
        result = IdentityFault::Short;
    else if (item == "foreign")
        result = IdentityFault::Foreign;
    else if (item == "no-f7")
        result = IdentityFault::NoF7;
    else {
        error = "identity fault '" + text + "' is not short, foreign or no-f7";
        return false;
    }
    return true;
}

bool ParseVanish(const std::string& text, unsigned int& portion, unsigned int& milliseconds,
                 std::string& error) {
    const std::string trimmed = Trim(text);
    const std::size_t colon = trimmed.find(':');
    unsigned long long number = 0;
    unsigned long long duration = 0;
    if (colon == std::string::npos ||
        !ParseDecimal(trimmed.substr(0, colon), 0xFFFFFFFFu, number) ||
        !ParseDecimal(trimmed.substr(colon + 1), 0xFFFFFFFFu, duration)) {
        error = "vanish '" + text + "' is not PORTION:MILLISECONDS (for example 2:3000)";
        return false;
    }
    if (number == 0) {
        error = "the vanish portion in '" + text + "' must be 1 or more (portions count from 1)";
        return false;
    }
    portion = static_cast<unsigned int>(number);
    milliseconds = static_cast<unsigned int>(duration);
    return true;
}

std::string StatusScriptText(const StatusScript& script) {
    std::string text;
    for (const StatusReply& reply : script) {
        if (!text.empty())
            text += ',';
        switch (reply.kind) {
        case ReplyKind::Accept:
            text += "accept";
            break;
        case ReplyKind::Error:
            text += "error";
            break;
        case ReplyKind::BusyThenAccept:
            text += Format("busy:%u", reply.busyReports);
            break;
        case ReplyKind::BusyForever:
            text += "busy";
            break;
        case ReplyKind::Silent:
            text += "silent";
            break;
        case ReplyKind::Garbage:
            text += "garbage";
            break;
        case ReplyKind::RunOn:
            text += "endless";
            break;
        }
    }
    return text;
}

std::vector<unsigned char> GarbageMessage() {
    // A status message in all but its fifth byte: a reader must look at every header byte.
    std::vector<unsigned char> message = StatusMessage(0x00);
    message[4] ^= 0x07;
    return message;
}

std::vector<unsigned char> RunOnMessage() {
    // 1 KiB beyond what a receiver holds of one message, so it must drop it.
    std::vector<unsigned char> message = StatusMessage(0x00);
    message.pop_back();
    message.resize(65 * 1024, 0x00);
    return message;
}

std::vector<unsigned char> IdentityReply(const SimulatedDeviceConfig& config) {
    if (!config.version || !ConfigProblem(config).empty())
        return {};
    IdentityReplyFields fields;
    fields.manufacturer = config.manufacturerId;
    fields.family[0] = config.familyLow;
    fields.family[1] = config.familyHigh;
    fields.model = config.model;
    DeviceVersionBytes(config.version->major, config.version->minor, fields.version);
    // 7F and above would end the name early for a reader, and break the SysEx.
    for (std::size_t i = 0; i < config.name.size() && i < IDENTITY_NAME_SIZE; ++i)
        fields.name += static_cast<unsigned char>(config.name[i]) >= 0x7F ? '?' : config.name[i];
    std::vector<unsigned char> reply = ::IdentityReply(fields);
    switch (config.identityFault) {
    case IdentityFault::None:
        break;
    case IdentityFault::Short:
        reply.resize(5 + fields.manufacturer.size());
        reply.push_back(0xF7);
        break;
    case IdentityFault::Foreign:
        reply[4] ^= 0x07;
        break;
    case IdentityFault::NoF7:
        reply.pop_back();
        break;
    }
    return reply;
}
