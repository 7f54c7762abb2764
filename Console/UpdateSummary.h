#pragma once

// An update described for a person reading a terminal.

#include <cstddef>
#include <iosfwd>
#include <string>

class Update;

namespace midiupdate {

void WriteUpdateSummary(const Update& update, std::ostream& out);

// A text from a file made safe to print: control characters other than newline and tab
// are shown as \xNN so a file cannot drive the terminal, a CRLF line end as a newline,
// and what is not valid UTF-8 as U+FFFD (as --json shows it).
std::string Printable(const std::string& text);

// A path made safe to print in a message: a newline shows as \n, a tab as \t, other
// control characters and bytes that are not UTF-8 as \xNN, so a file name cannot break
// a message's line or drive the terminal.
std::string PathText(const std::string& path);

// The text cut to at most `columns` characters, never inside a UTF-8 sequence.
std::string FitToColumns(const std::string& text, std::size_t columns);

} // namespace midiupdate
