#pragma once

#include <set>
#include <string>
#include <vector>

// A short human-readable size: "1 byte", "1023 bytes", "1.5KB", "1.0MB".
std::string BytesToHuman(unsigned int count);

// The pieces between delimiters. Empty pieces are kept, except after a trailing
// delimiter; an empty text gives no pieces.
std::vector<std::string> Split(const std::string& text, char delimiter);

// ASCII A-Z made small; every other byte unchanged.
std::string ToLower(const std::string& text);

// "yes" and "true" in any case, or a leading number that is not zero.
bool ParseYesNo(const std::string& text);

// Adds the '$'-separated, non-empty names of `text` to `names`.
void PutPortNamesIntoSet(std::set<std::string>& names, const std::string& text);

namespace midiupdate {

// The leading integer of a text the way atoi reads it (white space, a sign, digits,
// 0 when there is none), but saturating at the int range instead of overflowing.
int ParseLeadingInt(const std::string& text);

// A whole text of plain decimal digits (no sign, no space) of at most `limit`.
bool ParseDecimal(const std::string& text, unsigned long long limit, unsigned long long& value);

} // namespace midiupdate
