#pragma once

// A file named on the command line, checked and made ready for the update reader, which
// needs to seek: a regular file is read where it is; standard input ("-"), a pipe or a
// FIFO is first read whole into a private temporary copy. The copy is unlinked as soon
// as it is made and reached as /dev/fd/N, so nothing is left behind however the program
// ends. Main thread only; the open may block (a FIFO without a writer).

#include <string>

namespace midiupdate {

// Larger than any update can be: the sender counts the bytes it sends in 32 bits.
const unsigned long long maxInputBytes = 0xFFFFFFFFull;

class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    enum class Result { Ready, Unusable, Rejected };
    // Unusable (a usage error): "cannot open FILE (reason)", "FILE is a directory", a
    // device, too large. Rejected: a file that starts with F0 but has no F7, which the
    // reader would call a bad header.
    Result Open(const std::string& path, std::string& error);

    const std::string& ReadPath() const { return readPath; } // for the reader

private:
    std::string readPath;
    int copy = -1; // the temporary copy's descriptor, if any
};

} // namespace midiupdate
