#pragma once

// An update described for a person reading a terminal.

#include <iosfwd>
#include <string>

class Update;

namespace midiupdate {

void WriteUpdateSummary(const Update& update, std::ostream& out);

// A text from a file made safe to print: control characters other than newline and tab
// are shown as \xNN so a file cannot drive the terminal.
std::string Printable(const std::string& text);

} // namespace midiupdate
