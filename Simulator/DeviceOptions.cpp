#include "Simulator/DeviceOptions.h"

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/Update.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

using midiupdate::ParseDecimal;

namespace {

bool ParseChunkSizes(const std::string& text, unsigned long& ideal, unsigned long& max,
                     std::string& error) {
    const auto comma = text.find(',');
    unsigned long long a = 0;
    unsigned long long b = 0;
    if (comma == std::string::npos || !ParseDecimal(text.substr(0, comma), 0xFFFFFFFFull, a) ||
        !ParseDecimal(text.substr(comma + 1), 0xFFFFFFFFull, b)) {
        error = "chunk sizes must be IDEAL,MAX in bytes, like 2048,16384: " + text;
        return false;
    }
    if (a == 0 || b == 0) {
        error = "chunk sizes must be at least 1 byte: " + text;
        return false;
    }
    ideal = static_cast<unsigned long>(a);
    max = static_cast<unsigned long>(b);
    return true;
}

bool ParseMilliseconds(const std::string& text, unsigned int& value, std::string& error) {
    unsigned long long number = 0;
    if (!ParseDecimal(text, 0xFFFFFFFFull, number)) {
        error =
            "--device-appears-after needs milliseconds from 0 to 4294967295, not '" + text + "'";
        return false;
    }
    value = static_cast<unsigned int>(number);
    return true;
}

} // namespace

namespace {

// The word at `i` and its value, as "--word VALUE" or "--word=VALUE"; `i` moves past them.
bool NextWord(const std::vector<std::string>& words, std::size_t& i, std::string& word,
              std::string& value, std::string& error) {
    word = words[i];
    const std::size_t equals = word.find('=');
    if (word.compare(0, 2, "--") != 0) {
        error = "unexpected word '" + word + "' (device options start with --)";
        return false;
    }
    if (equals != std::string::npos) {
        value = word.substr(equals + 1);
        word.resize(equals);
    } else if (i + 1 < words.size()) {
        value = words[++i];
    } else {
        error = word + " needs a value";
        return false;
    }
    return true;
}

bool ApplyWord(const std::string& word, const std::string& value, DeviceOptions& options,
               std::string& error) {
    SimulatedDeviceConfig& device = options.device;
    if (word == "--device-name") {
        device.name = value;
        options.nameGiven = true;
        return true;
    }
    if (word == "--device-status")
        return ParseStatusScript(value, device.script, error);
    if (word == "--device-version") {
        Version version;
        if (!ParseDeviceVersion(value, version, error))
            return false;
        device.version = version;
        return true;
    }
    if (word == "--device-identity")
        return ParseIdentityFault(value, device.identityFault, error);
    if (word == "--device-appears-after")
        return ParseMilliseconds(value, device.appearsAfter, error);
    if (word == "--device-vanishes-after-portion" || word == "--device-vanishes-during-portion") {
        device.vanishMidPortion = word == "--device-vanishes-during-portion";
        return ParseVanish(value, device.vanishAfterPortion, device.vanishFor, error);
    }
    if (word == "--device-expects") {
        options.expectsPath = value;
        if (value.empty())
            error = "--device-expects needs a file";
        return !value.empty();
    }
    if (word == "--chunk-sizes")
        return ParseChunkSizes(value, options.idealChunkSize, options.maxChunkSize, error);
    error = "unknown device option '" + word + "'";
    return false;
}

} // namespace

bool ParseDeviceOptions(const std::vector<std::string>& words, DeviceOptions& options,
                        std::string& error) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string word;
        std::string value;
        if (!NextWord(words, i, word, value, error) || !ApplyWord(word, value, options, error))
            return false;
    }
    const std::string problem = ConfigProblem(options.device);
    if (!problem.empty()) {
        error = problem;
        return false;
    }
    return true;
}

bool SplitShellWords(const std::string& text, std::vector<std::string>& words, std::string& error) {
    std::vector<std::string> result;
    std::string word;
    bool inWord = false; // '' makes an empty word, so emptiness alone cannot tell
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord)
                result.push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '\'') {
            const std::size_t close = text.find('\'', i + 1);
            if (close == std::string::npos) {
                error = "unclosed ' in: " + text;
                return false;
            }
            word.append(text, i + 1, close - i - 1);
            i = close;
            inWord = true;
        } else if (c == '"') {
            for (++i;; ++i) {
                if (i >= text.size()) {
                    error = "unclosed \" in: " + text;
                    return false;
                }
                if (text[i] == '"')
                    break;
                if (text[i] == '\\' && i + 1 < text.size() &&
                    std::strchr("\"\\$`\n", text[i + 1]) != nullptr) {
                    ++i;
                    if (text[i] == '\n')
                        continue; // a line continuation
                }
                word += text[i];
            }
            inWord = true;
        } else if (c == '\\') {
            if (i + 1 >= text.size()) {
                error = "a trailing backslash in: " + text;
                return false;
            }
            ++i;
            if (text[i] != '\n') {
                word += text[i];
                inWord = true;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        result.push_back(word);
    words = std::move(result);
    return true;
}

namespace {

const char* SimulateVariable() {
    return std::getenv("MIDI_UPDATER_SIMULATE");
}

} // namespace

bool DeviceOptionsFromEnvironment(DeviceOptions& options, std::string& error) {
    return ParseSimulateVariable(SimulateVariable(), options, error);
}

bool SimulateVariableGiven() {
    const char* text = SimulateVariable();
    return text != nullptr && *text != '\0';
}

bool ParseSimulateVariable(const char* text, DeviceOptions& options, std::string& error) {
    if (text == nullptr)
        return true;
    std::vector<std::string> words;
    if (!SplitShellWords(text, words, error) || !ParseDeviceOptions(words, options, error)) {
        error = "MIDI_UPDATER_SIMULATE: " + error;
        return false;
    }
    return true;
}

std::unique_ptr<Update> LoadExpectedUpdate(const std::string& path, std::string& error) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) {
        error = "--device-expects: cannot open " + path + " (" + std::strerror(errno) + ")";
        return nullptr;
    }
    try {
        return std::make_unique<Update>(stream);
    } catch (const ParseError& e) {
        error = "--device-expects " + path + ": " + e.what();
        return nullptr;
    }
}
