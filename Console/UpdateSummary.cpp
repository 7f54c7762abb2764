#include "Console/UpdateSummary.h"

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/Update.h"

#include <ostream>
#include <set>

namespace midiupdate {
namespace {

std::string Size(std::size_t bytes) {
    if (bytes < 1024)
        return BytesToHuman(static_cast<unsigned int>(bytes));
    return Format("%zu bytes (%s)", bytes, BytesToHuman(static_cast<unsigned int>(bytes)).c_str());
}

std::string NameList(const std::set<std::string>& names) {
    if (names.empty())
        return "(none)";
    std::string list;
    for (const std::string& name : names)
        list += (list.empty() ? "\"" : ", \"") + Printable(name) + "\"";
    return list;
}

// Continuation lines of a multi-line message line up under its first line.
std::string Indented(const std::string& text, const std::string& indent) {
    std::string result;
    for (char c : Printable(text)) {
        result += c;
        if (c == '\n')
            result += indent;
    }
    return result;
}

} // namespace

std::string Printable(const std::string& text) {
    std::string result;
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\n' && c != '\t') || byte == 0x7F)
            result += Format("\\x%02X", static_cast<unsigned>(byte));
        else
            result += c;
    }
    return result;
}

void WriteUpdateSummary(const Update& update, std::ostream& out) {
    const std::string indent(16, ' ');
    out << "Product:        " << Printable(update.productName) << '\n';
    out << "Version:        " << update.version.ToString() << '\n';
    out << "Message:        " << Indented(update.message, indent) << '\n';
    out << "Header values:  " << update.headerValue1 << ", " << update.headerValue2 << ", "
        << update.headerValue3 << '\n';
    out << "Image:          " << (update.image.empty() ? "none" : Size(update.image.size()))
        << '\n';
    out << "Portions:       " << update.sysExPortions.size() << '\n';
    for (std::size_t i = 0; i < update.sysExPortions.size(); ++i) {
        const Update::SysExPortion& portion = update.sysExPortions[i];
        out << Format("  %3zu: ", i + 1) << Size(portion.sysEx.size());
        if (portion.delay > 0)
            out << ", then " << portion.delay << " ms pause";
        out << '\n';
    }
    out << "Total SysEx:    " << Size(update.TotalSysExSize()) << '\n';
    out << "Mac ports:      " << NameList(update.macPortNames) << '\n';

    const MidiPortWindowsParameters& windows = update.windowsParameters;
    out << "Windows ports:  " << NameList(windows.names) << '\n';
    out << "Windows pacing: chunks of " << windows.ideal << " bytes (at most " << windows.max
        << "), " << windows.delay << " ms after each chunk, " << windows.unprepDelay
        << " ms after release, " << (windows.chunks ? "each chunk framed as SysEx" : "unframed")
        << '\n';
}

} // namespace midiupdate
