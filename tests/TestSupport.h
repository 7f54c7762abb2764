#pragma once

#include "MidiUpdateLib/Update.h"

#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<unsigned char>;

// Bytes from a hexadecimal text such as "F0 7E F7"; letters make their ASCII bytes
// when quoted: "'AB' 00".
Bytes Hex(const std::string& text);

// A SysEx message of exactly `size` bytes (at least 2) with varied data from `seed`.
Bytes Message(std::size_t size, unsigned char seed);
// `message` `times` times over.
Bytes Repeat(const Bytes& message, std::size_t times);

// An update as the reader makes it from a file with these portions.
Update MakeUpdate(const std::vector<Update::SysExPortion>& portions, Version version = {1, 5},
                  const std::string& productName = "Widget");

// Collects every trace record while alive.
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    std::vector<std::string> Records() const;
    bool Contains(const std::string& record) const;

private:
    struct State;
    State* state;
};

} // namespace testsupport
