#include "tests/LogCapture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace testsupport {

std::string CaptureStandardError(const std::function<void()>& action) {
    char path[] = "/tmp/captured-log-XXXXXX";
    const int file = mkstemp(path);
    if (file < 0)
        return "(cannot capture: mkstemp failed)";
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(file, 2);
    action();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    close(file);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    unlink(path);
    return text.str();
}

} // namespace testsupport
