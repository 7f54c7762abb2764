#include "Console/UpdateSummary.h"

#include "Console/SysExContent.h"

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

namespace {

// The length of the valid UTF-8 sequence at `i`, or 0 when there is none (overlong
// forms, surrogates and values above U+10FFFF included).
std::size_t Utf8Length(const std::string& text, std::size_t i) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = at(i);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (i + length > text.size() || at(i + 1) < low || at(i + 1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if (at(i + k) < 0x80 || at(i + k) > 0xBF)
            return 0;
    return length;
}

} // namespace

std::string Printable(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        const std::size_t length = Utf8Length(text, i);
        if (length == 0) {
            result += "\xEF\xBF\xBD"; // U+FFFD, as --json shows it
            ++i;
            continue;
        }
        if (byte == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i; // a CRLF line end is a line end
            continue;
        }
        if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F)
            result += Format("\\x%02X", static_cast<unsigned>(byte));
        else
            result.append(text, i, length);
        i += length;
    }
    return result;
}

std::string PathText(const std::string& path) {
    std::string shown;
    for (std::size_t i = 0; i < path.size();) {
        const unsigned char byte = static_cast<unsigned char>(path[i]);
        const std::size_t length = Utf8Length(path, i);
        if (byte == '\n')
            shown += "\\n";
        else if (byte == '\t')
            shown += "\\t";
        else if (length == 0 || byte < 0x20 || byte == 0x7F)
            shown += Format("\\x%02X", static_cast<unsigned>(byte));
        else
            shown.append(path, i, length);
        i += length == 0 ? 1 : length;
    }
    return shown;
}

std::string FitToColumns(const std::string& text, std::size_t columns) {
    std::size_t used = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Continuation bytes belong to the character before them.
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && used++ == columns)
            return text.substr(0, i);
    }
    return text;
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
        const SysExContent content = InspectSysEx(portion.sysEx.data(), portion.sysEx.size());
        out << Format("  %3zu: ", i + 1) << Size(portion.sysEx.size()) << ", " << content.messages
            << (content.messages == 1 ? " message" : " messages");
        if (content.messages > 0)
            out << " (manufacturer " << ManufacturerText(content.manufacturer) << ")";
        if (portion.delay > 0)
            out << ", then " << portion.delay << " ms pause";
        out << '\n';
        if (content.firstStray)
            out << Format("       warning: %zu stray byte%s; the first at offset %zu: ",
                          content.strayBytes, content.strayBytes == 1 ? "" : "s",
                          *content.firstStray)
                << content.problem << '\n';
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
