// Feeds arbitrary messages to the identity-reply and status-message readers: whatever
// arrives, they must not read past the message, and what they report must be what the
// bytes say. Then a reply that the simulated device builds from the input must read back
// as the device was configured.

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/SendUpdate.h"
#include "Simulator/DeviceConfig.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Expect(bool same, const char* what) {
    if (!same) {
        std::fprintf(stderr, "device replies: %s\n", what);
        std::abort();
    }
}

const unsigned char (&identityHeader)[5] = identityReplyHeader;
const unsigned char (&statusHeader)[5] = statusMessageHeader;

bool StartsWith(const std::vector<unsigned char>& bytes, const unsigned char (&header)[5]) {
    return bytes.size() >= 5 && std::equal(header, header + 5, bytes.begin());
}

void CheckReaders(const std::vector<unsigned char>& message) {
    const DeviceInfo info = ParseDeviceEnquiryResponse(message);
    if (!StartsWith(message, identityHeader)) {
        Expect(info.manufacturer.empty() && info.family.empty() && info.version.empty() &&
                   info.name.empty(),
               "a foreign reply yields fields");
    } else {
        Expect(info.manufacturer.empty() || info.manufacturer.size() == 3 ||
                   info.manufacturer.size() == 9,
               "manufacturer length");
        Expect(info.family.empty() || info.family.size() == 3, "family length");
        Expect(info.version.empty() || !info.family.empty(), "version without family");
        Expect(info.name.size() <= 16, "name longer than 16");
        for (char c : info.name)
            Expect(c > 0 && c < 0x7F, "name character");
        // The closing F7 is never read as a field.
        const std::size_t p = message.size() > 5 && message[5] == 0x00 ? 8 : 6;
        if (!info.version.empty())
            Expect(message.size() - (message.back() == 0xF7) > p + 6, "version read past end");
    }

    const int status = CheckSysExUpdateStatus(message);
    int expected = 0;
    if (message.size() == 13 && StartsWith(message, statusHeader))
        expected = message[11] & 0x0F ? 3 : message[11] & 0x20 ? 2 : 1;
    Expect(status == expected, "status code");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetTraceSink([](const std::string&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<unsigned char> message(data, data + size);
    CheckReaders(message);
    // The same bytes behind each header, so the fuzzer need not find them first.
    for (const unsigned char* header : {identityHeader, statusHeader}) {
        std::vector<unsigned char> framed(header, header + 5);
        framed.insert(framed.end(), data, data + size);
        CheckReaders(framed);
    }

    FuzzedDataProvider input(data, size);
    SimulatedDeviceConfig device;
    device.version =
        Version{input.ConsumeIntegralInRange<std::uint16_t>(0, 2 * maxDeviceMajorVersion),
                input.ConsumeIntegralInRange<std::uint16_t>(0, 120)};
    if (input.ConsumeBool())
        device.manufacturerId = {0x00, input.ConsumeIntegral<unsigned char>(),
                                 input.ConsumeIntegral<unsigned char>()};
    else
        device.manufacturerId = {input.ConsumeIntegral<unsigned char>()};
    device.familyLow = input.ConsumeIntegral<unsigned char>();
    device.name = input.ConsumeRandomLengthString(24);
    const std::vector<unsigned char> reply = IdentityReply(device);
    if (reply.empty()) {
        Expect(!ConfigProblem(device).empty(), "a sound device without a reply");
        return 0;
    }
    CheckReaders(reply);
    const DeviceInfo info = ParseDeviceEnquiryResponse(reply);
    std::vector<int> manufacturer(device.manufacturerId.begin(), device.manufacturerId.end());
    Expect(info.manufacturer == ToString(manufacturer), "manufacturer round trip");
    Expect(info.family == ToString(std::vector<int>{device.familyLow}), "family round trip");
    Expect(info.version == Format("%u.%02u", device.version->major, device.version->minor),
           "version round trip");
    std::string name;
    for (std::size_t i = 0; i < device.name.size() && i < 16 && device.name[i] != '\0'; ++i) {
        const unsigned char c = static_cast<unsigned char>(device.name[i]);
        name += c >= 0x7F ? '?' : static_cast<char>(c);
    }
    Expect(info.name == name, "name round trip");

    const unsigned char flags = input.ConsumeIntegral<unsigned char>();
    CheckReaders(StatusMessage(flags));
    return 0;
}
