#include "Console/Commands.h"
#include "Console/Files.h"
#include "Console/SysExContent.h"
#include "Console/UpdateSummary.h"

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/Update.h"

#include <CLI/CLI.hpp>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <ostream>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace midiupdate {
namespace {

// A bad argument or an input that cannot be used; the text is for the user.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Every text and block in an update file carries a 32-bit byte count.
const unsigned long long maxBlock = 0xFFFFFFFFull;

Version ParseVersion(const std::string& text) {
    const std::size_t dot = text.find('.');
    unsigned long long major = 0;
    unsigned long long minor = 0;
    if (dot == std::string::npos || !ParseDecimal(text.substr(0, dot), 65535, major) ||
        !ParseDecimal(text.substr(dot + 1), 99, minor))
        throw UsageError("--version '" + text +
                         "': expected MAJOR.MINOR, MAJOR 0 to 65535, MINOR 00 to 99 (e.g. 1.05)");
    // Versions show the minor number with two digits, so 1.5 would come back as 1.05.
    if (text.size() - dot - 1 != 2)
        throw UsageError("--version '" + text +
                         "': the minor number must have exactly two digits (1.05 or 1.50)");
    return Version{static_cast<unsigned short>(major), static_cast<unsigned short>(minor)};
}

std::vector<unsigned short> ParseHeaderValues(const std::string& text) {
    std::vector<unsigned short> values;
    for (const std::string& piece : Split(text, ',')) {
        unsigned long long value = 0;
        if (!ParseDecimal(piece, 65535, value))
            throw UsageError("--header-values '" + text + "': '" + piece +
                             "' is not a number from 0 to 65535");
        values.push_back(static_cast<unsigned short>(value));
    }
    if (values.size() != 3 || text.back() == ',')
        throw UsageError("--header-values '" + text + "': expected three numbers, A,B,C");
    return values;
}

// An input's identity, so the output can never be one of them.
struct FileId {
    dev_t device;
    ino_t inode;
    std::string what; // "--portion 'a.syx'"
};

// A regular file or a pipe, read whole, but never more than an update can store: a
// character device such as /dev/zero would never end.
std::vector<unsigned char> ReadInputFile(const std::string& option, const std::string& path,
                                         std::vector<FileId>& inputs) {
    const std::string what = option + " '" + PathText(path) + "'";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw UsageError(what + ": cannot open (" + std::strerror(errno) + ")");
    struct stat status {};
    if (fstat(fd, &status) != 0 ||
        !(S_ISREG(status.st_mode) || S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode))) {
        const bool directory = S_ISDIR(status.st_mode);
        close(fd);
        throw UsageError(what + (directory ? ": cannot read (it is a directory)"
                                           : ": not a regular file or a pipe"));
    }
    inputs.push_back({status.st_dev, status.st_ino, what});
    std::vector<unsigned char> bytes;
    if (S_ISREG(status.st_mode) && static_cast<unsigned long long>(status.st_size) <= maxBlock)
        bytes.reserve(static_cast<std::size_t>(status.st_size));
    unsigned char chunk[64 * 1024];
    for (;;) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            close(fd);
            if (n < 0)
                throw UsageError(what + ": cannot read (" + std::strerror(error) + ")");
            return bytes;
        }
        if (bytes.size() + static_cast<std::size_t>(n) > maxBlock) {
            close(fd);
            throw UsageError(what + ": more than 4 GiB, more than an update can store");
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
}

// "FILE" or "FILE@DELAY_MS". An '@' followed by what is not a number belongs to the
// name, as does any '@' of a file that exists under the whole name; what looks like a
// number but is not a pause ("@-1", "@1e3") is refused rather than taken for a name.
void SplitPortion(const std::string& value, std::string& path, unsigned int& delay) {
    path = value;
    delay = 0;
    const std::size_t at = value.rfind('@');
    if (at == std::string::npos || at + 1 == value.size())
        return;
    const std::string digits = value.substr(at + 1);
    const bool number = digits.find_first_not_of("0123456789") == std::string::npos;
    std::error_code error;
    if (!number && (std::string("+-.0123456789").find(digits[0]) == std::string::npos ||
                    std::filesystem::exists(value, error)))
        return;
    unsigned long long milliseconds = 0;
    if (!number || !ParseDecimal(digits, 0xFFFFFFFFull, milliseconds))
        throw UsageError("--portion '" + PathText(value) + "': the pause must be a whole number " +
                         "of milliseconds, at most 4294967295, not '" + PathText(digits) + "'");
    path = value.substr(0, at);
    delay = static_cast<unsigned int>(milliseconds);
}

void CheckMacPorts(const std::string& text) {
    std::set<std::string> names;
    PutPortNamesIntoSet(names, text);
    if (names.empty())
        throw UsageError("--mac-ports '" + text + "': names no port (separate names with '$')");
}

// The reader ignores what it does not understand, so a typo would be lost without a
// word; here it is an error.
void CheckWindowsParameters(const std::string& text) {
    const std::string context = "--windows-params '" + text + "': ";
    const std::vector<std::string> fields = Split(text, ':');
    if (fields.size() < 2 || fields[0] != "win")
        throw UsageError(context + "must start with 'win:1:' followed by key:value pairs");
    for (std::size_t i = 2; i < fields.size(); i += 2) {
        const std::string& key = fields[i];
        if (i + 1 >= fields.size())
            throw UsageError(context + "key '" + key + "' has no value");
        const std::string& value = fields[i + 1];
        unsigned long long number = 0;
        if (key == "name") {
            std::set<std::string> names;
            PutPortNamesIntoSet(names, value);
            if (names.empty())
                throw UsageError(context + "'name' names no port");
        } else if (key == "ideal" || key == "max" || key == "delay" || key == "unprepdelay") {
            if (!ParseDecimal(value, INT_MAX, number))
                throw UsageError(context + "'" + key + "' needs a number from 0 to " +
                                 std::to_string(INT_MAX) + ", not '" + value + "'");
        } else if (key == "chunks") {
            const std::string flag = ToLower(value);
            if (flag != "yes" && flag != "no" && flag != "true" && flag != "false" && flag != "1" &&
                flag != "0")
                throw UsageError(context + "'chunks' needs yes or no, not '" + value + "'");
        } else {
            throw UsageError(context + "unknown key '" + key +
                             "' (known: name, ideal, max, delay, unprepdelay, chunks)");
        }
    }
}

std::string MessageText(const PackRequest& request, std::vector<FileId>& inputs) {
    if (request.sysExMessage)
        return "<sysex>";
    if (!request.messageFile)
        return request.message;
    const std::vector<unsigned char> bytes =
        ReadInputFile("--message-file", *request.messageFile, inputs);
    return std::string(bytes.begin(), bytes.end());
}

// A --portion record: its file read and checked, with the pause after it.
void AddPortion(std::vector<unsigned char>& file, const std::string& value, bool allowAnyBytes,
                std::ostream& err, std::vector<FileId>& inputs, unsigned long long& total) {
    std::string path;
    unsigned int delay = 0;
    SplitPortion(value, path, delay);
    const std::vector<unsigned char> sysEx = ReadInputFile("--portion", path, inputs);
    const SysExContent content = InspectSysEx(sysEx.data(), sysEx.size());
    if (content.firstStray) {
        const std::string problem = Format("--portion '%s': stray byte at offset %zu (",
                                           PathText(path).c_str(), *content.firstStray) +
                                    content.problem + ")";
        if (!allowAnyBytes)
            throw UsageError(problem + "; --allow-any-bytes stores it as it stands");
        err << "warning: " << problem << "; stored as it stands\n";
    }
    total += sysEx.size();
    // The updater counts the bytes it sends in 32 bits.
    if (total > maxBlock)
        throw UsageError("--portion: all portions together must be less than 4 GiB");
    // A pause meant in seconds or minutes but written in milliseconds.
    if (delay > 24u * 60 * 60 * 1000)
        err << "warning: --portion '" << PathText(path) << "': a pause of " << delay
            << " ms is more than a day\n";
    AddSysExPortion(file, sysEx, delay);
}

std::vector<unsigned char> BuildUpdateFile(const PackRequest& request, std::ostream& err,
                                           std::vector<FileId>& inputs, std::size_t& portions,
                                           unsigned long long& total) {
    if (request.product.empty())
        throw UsageError("--product: the product name must not be empty");
    const Version version = ParseVersion(request.version);
    const std::vector<unsigned short> header = ParseHeaderValues(request.headerValues);

    std::vector<unsigned char> file;
    CreateUpdateFileHeader(file, request.product, version, MessageText(request, inputs), header[0],
                           header[1], header[2]);
    portions = 0;
    total = 0;
    for (const PackRecord& record : request.records) {
        switch (record.kind) {
        case PackRecord::Image:
            AddImage(file, ReadInputFile("--image", record.value, inputs));
            break;
        case PackRecord::Portion:
            AddPortion(file, record.value, request.allowAnyBytes, err, inputs, total);
            ++portions;
            break;
        case PackRecord::MacPorts:
            CheckMacPorts(record.value);
            AddMacPortName(file, record.value);
            break;
        case PackRecord::WindowsParams:
            CheckWindowsParameters(record.value);
            AddWindowsPortParameters(file, record.value);
            break;
        }
    }
    return file;
}

// Where a write to `path` lands: through symbolic links to their (final) target.
std::filesystem::path ThroughLinks(std::filesystem::path path) {
    namespace fs = std::filesystem;
    std::error_code error;
    for (int hops = 0; hops < 40 && fs::is_symlink(path, error); ++hops) {
        const fs::path target = fs::read_symlink(path, error);
        if (error)
            break;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
    return path;
}

// Never destroys anything: the output may not be an input, nor anything but a regular
// file; a symbolic link is written through, and an existing file keeps its mode. The
// bytes go to a file beside the target that is renamed over it, so a failure (a full
// disk, say) never leaves half a file.
bool WriteWhole(const std::string& output, const std::vector<unsigned char>& bytes,
                const std::vector<FileId>& inputs, std::string& error, bool& usage) {
    namespace fs = std::filesystem;
    const fs::path target = ThroughLinks(output);
    usage = true;
    struct stat existing {};
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        error = "exists and is not a regular file; not replacing it";
        return false;
    }
    for (const FileId& input : inputs)
        if (exists && input.device == existing.st_dev && input.inode == existing.st_ino) {
            error = "is also an input (" + input.what + "); not overwriting it";
            return false;
        }
    usage = false;

    std::random_device random;
    fs::path temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = target;
        temporary += Format(".%08x.tmp", static_cast<unsigned>(random()));
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool written = WriteAll(fd, bytes.data(), bytes.size()) &&
                   (!exists || fchmod(fd, existing.st_mode & 07777) == 0) && fsync(fd) == 0;
    const int writeError = errno;
    written = close(fd) == 0 && written;
    if (!written || rename(temporary.c_str(), target.c_str()) != 0) {
        error = std::strerror(written ? errno : writeError);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace

namespace {

void AddMessageOptions(CLI::App& pack, const std::shared_ptr<PackRequest>& request) {
    CLI::Option* message =
        pack.add_option("--message", request->message, "Message text.")->type_name("TEXT");
    CLI::Option* messageFile =
        pack.add_option_function<std::string>(
                "--message-file",
                [request](const std::string& path) { request->messageFile = path; },
                "Read the message from a file.")
            ->type_name("FILE");
    CLI::Option* sysExMessage = pack.add_flag("--sysex-message", request->sysExMessage,
                                              "Use the standard SysEx update instructions.");
    message->excludes(messageFile)->excludes(sysExMessage);
    messageFile->excludes(sysExMessage);
}

using RecordValues = std::array<std::vector<std::string>, 4>;

// The record options, each bound to its slot of `values`; which option is which kind.
std::map<const CLI::Option*, PackRecord::Kind> AddRecordOptions(CLI::App& pack,
                                                                RecordValues& values) {
    struct RecordOption {
        const char* name;
        PackRecord::Kind kind;
        const char* placeholder;
        const char* help;
    };
    const RecordOption recordOptions[] = {
        {"--image", PackRecord::Image, "FILE", "Header image (PNG); several are joined into one."},
        {"--portion", PackRecord::Portion, "FILE[@MS]",
         "SysEx portion and the pause after it in milliseconds, sent in order."},
        {"--mac-ports", PackRecord::MacPorts, "NAMES", "Mac port names, separated by '$'."},
        {"--windows-params", PackRecord::WindowsParams, "TEXT",
         "Windows port parameters, e.g. 'win:1:name:A$B:delay:200'."},
    };
    std::map<const CLI::Option*, PackRecord::Kind> kinds;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const RecordOption& record = recordOptions[i];
        kinds[pack.add_option(record.name, values[i], record.help)
                  ->type_name(record.placeholder)
                  ->allow_extra_args(false)] = record.kind;
    }
    return kinds;
}

} // namespace

Command AddPackCommand(CLI::App& program) {
    auto request = std::make_shared<PackRequest>();
    // Bound only so CLI11 knows each takes one value per use; the values are taken from
    // the parse order below, which keeps the records in command-line order.
    auto records = std::make_shared<RecordValues>();

    CLI::App* pack = program.add_subcommand("pack", "Build an update file.");
    pack->footer("Records are written in the order given; every record option may be repeated.");
    pack->add_option("-o,--output", request->output,
                     "The update file to write; - writes it to standard output.")
        ->type_name("FILE")
        ->required();
    pack->add_option("--product", request->product, "Product name.")->type_name("NAME")->required();
    pack->add_option("--version", request->version, "Firmware version MAJOR.MINOR, e.g. 1.05.")
        ->type_name("MAJOR.MINOR")
        ->required();
    AddMessageOptions(*pack, request);
    const auto kinds = AddRecordOptions(*pack, *records);
    pack->add_option("--header-values", request->headerValues,
                     "Three header values A,B,C from 0 to 65535 (default 0,0,0).")
        ->type_name("A,B,C");
    pack->add_flag("--allow-any-bytes", request->allowAnyBytes,
                   "Store portions that hold bytes outside SysEx messages.");
    pack->add_flag("-q,--quiet", request->quiet, "Say nothing unless something is wrong.");

    return {pack, [pack, request, records, kinds](std::ostream& out, std::ostream& err) {
                std::map<const CLI::Option*, std::size_t> seen;
                for (const CLI::Option* option : pack->parse_order()) {
                    const auto kind = kinds.find(option);
                    if (kind != kinds.end())
                        request->records.push_back(
                            {kind->second, option->results().at(seen[option]++)});
                }
                return Pack(*request, out, err);
            }};
}

int Pack(const PackRequest& request, std::ostream& out, std::ostream& err) {
    std::vector<unsigned char> file;
    std::vector<FileId> inputs;
    std::size_t portions = 0;
    unsigned long long total = 0;
    try {
        file = BuildUpdateFile(request, err, inputs, portions, total);
    } catch (const UsageError& e) {
        err << e.what() << '\n';
        return exitUsage;
    }

    const bool toStandardOutput = request.output == "-";
    std::string error;
    bool usage = false;
    if (toStandardOutput) {
        errno = 0;
        bool written = false;
        if (&out == &std::cout) {
            out.flush();
            written = WriteAll(STDOUT_FILENO, file.data(), file.size());
        } else {
            written = static_cast<bool>(out.write(reinterpret_cast<const char*>(file.data()),
                                                  static_cast<std::streamsize>(file.size()))
                                            .flush());
        }
        if (!written)
            error = errno ? std::strerror(errno) : "writing failed";
    } else {
        WriteWhole(request.output, file, inputs, error, usage);
    }
    if (!error.empty()) {
        if (usage)
            err << "-o '" << PathText(request.output) << "' " << error << '\n';
        else
            err << "-o '" << PathText(request.output) << "': cannot write (" << error << ")\n";
        return usage ? exitUsage : exitRejected;
    }
    if (!request.quiet)
        (toStandardOutput ? err : out)
            << "Wrote " << (toStandardOutput ? "standard output" : request.output) << ": "
            << file.size() << " bytes, " << portions
            << (portions == 1 ? " portion, " : " portions, ") << total << " bytes of SysEx\n";
    return exitOk;
}

} // namespace midiupdate
