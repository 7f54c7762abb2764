#include "Windows/CommandLine.h"

std::string CommandLinePath(const std::string& commandLine) {
    const char* const blanks = " \t";
    const std::size_t first = commandLine.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    if (commandLine[first] == '"') {
        const std::size_t close = commandLine.find('"', first + 1);
        return commandLine.substr(first + 1, close == std::string::npos ? std::string::npos
                                                                        : close - first - 1);
    }
    const std::size_t last = commandLine.find_last_not_of(blanks);
    return commandLine.substr(first, last - first + 1);
}
