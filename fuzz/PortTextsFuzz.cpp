// Feeds arbitrary text to the port-name list and Windows port-parameter parsers and
// checks them against a plain reading of the two syntaxes; any difference aborts.

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/MidiPortParameters.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

void Expect(bool same, const char* what) {
    if (!same) {
        std::fprintf(stderr, "port texts: %s\n", what);
        std::abort();
    }
}

// Pieces between separators; a trailing separator gives no empty piece, as getline does.
std::vector<std::string> Pieces(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string piece;
    for (char c : text) {
        if (c == separator) {
            pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty())
        pieces.push_back(piece);
    return pieces;
}

std::set<std::string> Names(const std::string& text) {
    std::set<std::string> names;
    for (const std::string& piece : Pieces(text, '$'))
        if (!piece.empty())
            names.insert(piece);
    return names;
}

// atoi without its undefined overflow: saturates at the int range.
int Number(const std::string& text) {
    std::size_t i = text.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string::npos)
        return 0;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-')
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<long long>(value * 10 + (text[i] - '0'), 1LL << 40);
    value = negative ? -value : value;
    return static_cast<int>(std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, value)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::set<std::string> names{"kept"};
    PutPortNamesIntoSet(names, text);
    std::set<std::string> expectedNames = Names(text);
    expectedNames.insert("kept");
    Expect(names == expectedNames, "port names");

    MidiPortWindowsParameters parameters;
    ParseMidiPortWindowsParameters(parameters, text);
    MidiPortWindowsParameters expected;
    const std::vector<std::string> fields = Pieces(text, ':');
    if (fields.size() >= 2 && fields[0] == "win") {
        for (std::size_t i = 2; i + 1 < fields.size(); i += 2) {
            const std::string& key = fields[i];
            const std::string& value = fields[i + 1];
            if (key == "name")
                expected.names.merge(Names(value));
            else if (key == "ideal")
                expected.ideal = Number(value);
            else if (key == "max")
                expected.max = Number(value);
            else if (key == "delay")
                expected.delay = Number(value);
            else if (key == "unprepdelay")
                expected.unprepDelay = Number(value);
            else if (key == "chunks")
                expected.chunks = ParseYesNo(value);
        }
    }
    Expect(parameters.names == expected.names, "windows names");
    Expect(parameters.ideal == expected.ideal, "ideal");
    Expect(parameters.max == expected.max, "max");
    Expect(parameters.delay == expected.delay, "delay");
    Expect(parameters.unprepDelay == expected.unprepDelay, "unprepdelay");
    Expect(parameters.chunks == expected.chunks, "chunks");
    return 0;
}
