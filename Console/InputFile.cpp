#include "Console/InputFile.h"

#include "Console/Files.h"
#include "Console/UpdateSummary.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace midiupdate {
namespace {

int CopyToTemporary(int from, const std::string& name, std::string& error) {
    const char* directory = std::getenv("TMPDIR");
    std::string pattern =
        std::string(directory && *directory ? directory : "/tmp") + "/midi-updater-XXXXXX";
    const int to = mkstemp(pattern.data());
    if (to < 0) {
        error = "cannot make a temporary copy of " + name + " (" + std::strerror(errno) + ")";
        return -1;
    }
    unlink(pattern.c_str());
    char buffer[64 * 1024];
    unsigned long long total = 0;
    for (;;) {
        const ssize_t n = read(from, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "cannot read " + name + " (" + std::strerror(errno) + ")";
            break;
        }
        if (n == 0)
            return to;
        total += static_cast<unsigned long long>(n);
        if (total > maxInputBytes) {
            error = name + " holds more than 4 GiB, more than any update";
            break;
        }
        if (!WriteAll(to, buffer, static_cast<std::size_t>(n))) {
            error = "cannot make a temporary copy of " + name + " (" + std::strerror(errno) + ")";
            break;
        }
    }
    close(to);
    return -1;
}

// A file the reader would take for an update file although it begins like a SysEx file.
bool StartsWithF0WithoutF7(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    unsigned char buffer[64 * 1024];
    bool first = true;
    bool result = false;
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) {
        if (first && buffer[0] != 0xF0)
            break;
        if (std::memchr(buffer + (first ? 1 : 0), 0xF7,
                        static_cast<std::size_t>(n) - (first ? 1 : 0)) != nullptr) {
            result = false;
            first = false;
            break;
        }
        first = false;
        result = true;
    }
    close(fd);
    return result;
}

} // namespace

InputFile::~InputFile() {
    if (copy >= 0)
        close(copy);
}

InputFile::Result InputFile::Open(const std::string& path, std::string& error) {
    const std::string name = path == "-" ? "standard input" : PathText(path);
    const int fd = path == "-" ? dup(STDIN_FILENO) : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + name + " (" + std::strerror(errno) + ")";
        return Result::Unusable;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        error = "cannot open " + name + " (" + std::strerror(errno) + ")";
        close(fd);
        return Result::Unusable;
    }
    if (S_ISREG(status.st_mode) && path != "-") {
        close(fd);
        readPath = path;
    } else if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode) || path == "-") {
        if (S_ISDIR(status.st_mode) || S_ISBLK(status.st_mode)) {
            error = name + " is not a file or a pipe";
            close(fd);
            return Result::Unusable;
        }
        copy = CopyToTemporary(fd, name, error);
        close(fd);
        if (copy < 0)
            return Result::Unusable;
        readPath = "/dev/fd/" + std::to_string(copy);
    } else {
        close(fd);
        error = S_ISDIR(status.st_mode) ? name + " is a directory"
                                        : name + " is not a regular file or a pipe";
        return Result::Unusable;
    }

    if (StartsWithF0WithoutF7(readPath)) {
        error = name + " starts with F0 like a SysEx file but has no F7 to end a message";
        return Result::Rejected;
    }
    return Result::Ready;
}

} // namespace midiupdate
