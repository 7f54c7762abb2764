// Feeds arbitrary text to the simulated device's option words: split as a shell would,
// quoted back and split again they must come back unchanged; parsed, they must either
// be refused with a message or describe a device that can present itself.

#include "Simulator/DeviceOptions.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Expect(bool same, const char* what) {
    if (!same) {
        std::fprintf(stderr, "device options: %s\n", what);
        std::abort();
    }
}

std::string SingleQuoted(const std::string& word) {
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string DoubleQuoted(const std::string& word) {
    std::string quoted = "\"";
    for (char c : word) {
        if (c == '"' || c == '\\' || c == '$' || c == '`')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

void CheckParse(const std::vector<std::string>& words) {
    DeviceOptions options;
    std::string error;
    if (!ParseDeviceOptions(words, options, error)) {
        Expect(!error.empty(), "refused without a message");
        return;
    }
    Expect(ConfigProblem(options.device).empty(), "accepted a device that cannot present itself");
    Expect(options.idealChunkSize > 0 && options.maxChunkSize > 0, "a chunk size of 0");
    if (options.device.script.empty())
        return; // every portion accepted: a state no script text names
    StatusScript again;
    Expect(ParseStatusScript(StatusScriptText(options.device.script), again, error),
           "the script's own text is refused");
    Expect(StatusScriptText(again) == StatusScriptText(options.device.script),
           "the script's text reads back differently");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::vector<std::string> words;
    std::string error;
    if (SplitShellWords(text, words, error)) {
        std::string single;
        std::string dual;
        for (const std::string& word : words) {
            single += SingleQuoted(word) + " ";
            dual += DoubleQuoted(word) + "\t";
        }
        std::vector<std::string> again;
        Expect(SplitShellWords(single, again, error) && again == words, "single-quoted words");
        Expect(SplitShellWords(dual, again, error) && again == words, "double-quoted words");
        if (text.find_first_of("'\"\\") == std::string::npos)
            for (const std::string& word : words)
                Expect(!word.empty() && word.find_first_of(" \t\n") == std::string::npos,
                       "a plain word with blanks");
        CheckParse(words);
    } else {
        Expect(!error.empty(), "a split refused without a message");
    }

    // Words as they come, NUL-separated, so option names need no quoting to be found.
    std::vector<std::string> raw;
    std::string word;
    for (char c : text) {
        if (c == '\0') {
            raw.push_back(word);
            word.clear();
        } else {
            word += c;
        }
    }
    raw.push_back(word);
    CheckParse(raw);
    return 0;
}
