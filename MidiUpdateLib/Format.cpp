#include "MidiUpdateLib/Format.h"

#include <climits>
#include <cstdio>
#include <sstream>

std::string BytesToHuman(unsigned int count) {
    char buffer[12];
    // The count goes through float first, as the sizes shown have always been made.
    const float asFloat = static_cast<float>(count);
    if (count >= 1048576)
        std::snprintf(buffer, sizeof buffer, "%.1fMB", asFloat * (1.0 / 1048576));
    else if (count >= 1024)
        std::snprintf(buffer, sizeof buffer, "%.1fKB", asFloat * (1.0 / 1024));
    else if (count == 1)
        std::snprintf(buffer, sizeof buffer, "1 byte");
    else
        std::snprintf(buffer, sizeof buffer, "%d bytes", static_cast<int>(count));
    return buffer;
}

std::vector<std::string> Split(const std::string& text, char delimiter) {
    std::vector<std::string> pieces;
    std::istringstream stream(text);
    std::string piece;
    while (std::getline(stream, piece, delimiter))
        pieces.push_back(piece);
    return pieces;
}

std::string ToLower(const std::string& text) {
    std::string result = text;
    for (char& c : result)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return result;
}

bool ParseYesNo(const std::string& text) {
    const std::string lower = ToLower(text);
    if (lower == "yes" || lower == "true")
        return true;
    return midiupdate::ParseLeadingInt(text) != 0;
}

void PutPortNamesIntoSet(std::set<std::string>& names, const std::string& text) {
    for (const std::string& name : Split(text, '$'))
        if (!name.empty())
            names.insert(name);
}

namespace midiupdate {

int ParseLeadingInt(const std::string& text) {
    std::size_t i = 0;
    // The white space that isspace accepts in the C locale.
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value >= limit) {
            value = limit;
            break;
        }
    }
    return static_cast<int>(negative ? -value : value);
}

bool ParseDecimal(const std::string& text, unsigned long long limit, unsigned long long& value) {
    if (text.empty())
        return false;
    unsigned long long result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + static_cast<unsigned>(c - '0');
        if (result > limit)
            return false; // stops long before the digits could overflow
    }
    value = result;
    return true;
}

} // namespace midiupdate
