// Feeds arbitrary bytes to the update reader. Besides the sanitizers' findings, every
// input the reader accepts is written back with the writer and read again; any field
// that comes back different aborts.

#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/Update.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>

namespace {

void Expect(bool same, const char* what) {
    if (!same) {
        std::fprintf(stderr, "round trip changed: %s\n", what);
        std::abort();
    }
}

std::unique_ptr<Update> Parse(const std::string& bytes) {
    std::istringstream stream(bytes, std::ios::binary);
    try {
        return std::make_unique<Update>(stream);
    } catch (const ParseError&) {
        return nullptr;
    }
}

// The set a re-read file holds: the parsed names, or the product name that the reader
// puts into a set that is still empty.
std::set<std::string> AfterReading(const std::set<std::string>& names, const std::string& product) {
    return names.empty() ? std::set<std::string>{product} : names;
}

// Names with ':' or '$', or empty ones, cannot be written as a name list. The reader
// only produces them from the product name of a file that lists no ports.
bool Writable(const std::set<std::string>& names) {
    for (const std::string& name : names)
        if (name.empty() || name.find_first_of(":$") != std::string::npos)
            return false;
    return true;
}

std::string Joined(const std::set<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : "$") + name;
    return text;
}

} // namespace

// The reader writes a diagnostic line for every unknown record tag; thousands of them
// would bury the fuzzer's own report.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::cerr.rdbuf(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::unique_ptr<Update> first = Parse(input);
    if (!first)
        return 0;

    std::size_t sum = 0;
    for (const Update::SysExPortion& portion : first->sysExPortions)
        sum += portion.sysEx.size();
    Expect(first->TotalSysExSize() == static_cast<unsigned int>(sum), "TotalSysExSize");
    if (size > 0 && data[0] == 0xF0 && input.find('\xF7', 1) != std::string::npos) {
        Expect(first->sysExPortions.size() == 1 && first->sysExPortions[0].sysEx.size() == size,
               "plain SysEx file is one whole portion");
    }

    const std::string& product = first->productName;
    const std::set<std::string> macNames = AfterReading(first->macPortNames, product);
    const MidiPortWindowsParameters& windows = first->windowsParameters;
    const std::set<std::string> windowsNames = AfterReading(windows.names, product);

    std::vector<unsigned char> file;
    CreateUpdateFileHeader(file, product, first->version, first->message, first->headerValue1,
                           first->headerValue2, first->headerValue3);
    AddImage(file, first->image);
    for (const Update::SysExPortion& portion : first->sysExPortions)
        AddSysExPortion(file, portion.sysEx, portion.delay);
    // A set that holds only the product name comes back by itself.
    if (macNames != std::set<std::string>{product})
        AddMacPortName(file, Joined(macNames));
    std::string parameters = "win:1:";
    if (windowsNames != std::set<std::string>{product})
        parameters += "name:" + Joined(windowsNames) + ":";
    parameters +=
        Format("ideal:%d:max:%d:delay:%d:unprepdelay:%d:chunks:%s", windows.ideal, windows.max,
               windows.delay, windows.unprepDelay, windows.chunks ? "yes" : "no");
    AddWindowsPortParameters(file, parameters);

    const std::unique_ptr<Update> second = Parse(std::string(file.begin(), file.end()));
    Expect(second != nullptr, "the written file is rejected");
    Expect(second->productName == product, "productName");
    Expect(second->version.major == first->version.major, "version.major");
    Expect(second->version.minor == first->version.minor, "version.minor");
    Expect(second->message == first->message, "message");
    Expect(second->headerValue1 == first->headerValue1, "headerValue1");
    Expect(second->headerValue2 == first->headerValue2, "headerValue2");
    Expect(second->headerValue3 == first->headerValue3, "headerValue3");
    Expect(second->image == first->image, "image");
    Expect(second->sysExPortions.size() == first->sysExPortions.size(), "portion count");
    for (std::size_t i = 0; i < first->sysExPortions.size(); ++i) {
        Expect(second->sysExPortions[i].sysEx == first->sysExPortions[i].sysEx, "portion bytes");
        Expect(second->sysExPortions[i].delay == first->sysExPortions[i].delay, "portion delay");
    }
    if (Writable(macNames) || macNames == std::set<std::string>{product})
        Expect(second->macPortNames == macNames, "macPortNames");
    if (Writable(windowsNames) || windowsNames == std::set<std::string>{product})
        Expect(second->windowsParameters.names == windowsNames, "windows names");
    const MidiPortWindowsParameters& again = second->windowsParameters;
    Expect(again.ideal == windows.ideal, "windows ideal");
    Expect(again.max == windows.max, "windows max");
    Expect(again.delay == windows.delay, "windows delay");
    Expect(again.unprepDelay == windows.unprepDelay, "windows unprepDelay");
    Expect(again.chunks == windows.chunks, "windows chunks");
    return 0;
}
