#include "Console/Commands.h"

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // A closed pipe on standard output (send ... | head) must not kill a transfer between
    // two chunks: writes to it fail quietly instead, and the transfer goes on.
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> args(argv, argv + argc);
    return midiupdate::RunConsole(args, std::cout, std::cerr);
}
