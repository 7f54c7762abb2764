#include "tests/TestSupport.h"

#include "MidiUpdateLib/OS.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <stdexcept>

namespace testsupport {

Bytes Hex(const std::string& text) {
    Bytes bytes;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == ' ') {
            ++i;
        } else if (text[i] == '\'') {
            const std::size_t close = text.find('\'', i + 1);
            if (close == std::string::npos)
                throw std::invalid_argument("unclosed quote in " + text);
            bytes.insert(bytes.end(), text.begin() + i + 1, text.begin() + close);
            i = close + 1;
        } else {
            bytes.push_back(static_cast<unsigned char>(std::stoul(text.substr(i, 2), nullptr, 16)));
            i += 2;
        }
    }
    return bytes;
}

Bytes Message(std::size_t size, unsigned char seed) {
    Bytes bytes{0xF0};
    for (std::size_t i = 1; i + 1 < size; ++i)
        bytes.push_back(static_cast<unsigned char>((seed + i * 37) & 0x7F));
    bytes.push_back(0xF7);
    return bytes;
}

Bytes Repeat(const Bytes& message, std::size_t times) {
    Bytes all;
    for (std::size_t i = 0; i < times; ++i)
        all.insert(all.end(), message.begin(), message.end());
    return all;
}

Update MakeUpdate(const std::vector<Update::SysExPortion>& portions, Version version,
                  const std::string& productName) {
    Bytes file;
    CreateUpdateFileHeader(file, productName, version, "", 0, 0, 0);
    for (const Update::SysExPortion& portion : portions)
        AddSysExPortion(file, portion.sysEx, portion.delay);
    std::istringstream stream(std::string(file.begin(), file.end()));
    Update update(stream);
    return update;
}

struct TraceCapture::State {
    mutable std::mutex lock;
    std::vector<std::string> records;
};

TraceCapture::TraceCapture() : state(new State) {
    State* captured = state;
    SetTraceSink([captured](const std::string& record) {
        std::lock_guard<std::mutex> guard(captured->lock);
        captured->records.push_back(record);
    });
}

TraceCapture::~TraceCapture() {
    SetTraceSink(nullptr);
    delete state;
}

std::vector<std::string> TraceCapture::Records() const {
    std::lock_guard<std::mutex> guard(state->lock);
    return state->records;
}

bool TraceCapture::Contains(const std::string& record) const {
    const auto records = Records();
    return std::find(records.begin(), records.end(), record) != records.end();
}

} // namespace testsupport
