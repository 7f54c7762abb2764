#include "Console/Commands.h"

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"
#include "MidiUpdateLib/Update.h"

#include <CLI/CLI.hpp>

#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <ostream>
#include <random>
#include <stdexcept>

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

std::vector<unsigned char> ReadInputFile(const std::string& option, const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        throw UsageError(option + " '" + path + "': cannot open (" + std::strerror(errno) + ")");
    std::vector<unsigned char> bytes;
    char chunk[64 * 1024];
    while (stream.read(chunk, sizeof chunk) || stream.gcount() > 0) {
        bytes.insert(bytes.end(), chunk, chunk + stream.gcount());
        if (bytes.size() > maxBlock)
            throw UsageError(option + " '" + path + "': too large (4 GiB or more)");
    }
    if (stream.bad())
        throw UsageError(option + " '" + path + "': cannot read");
    return bytes;
}

// "FILE" or "FILE@DELAY_MS". An '@' followed by anything but digits belongs to the name.
void SplitPortion(const std::string& value, std::string& path, unsigned int& delay) {
    path = value;
    delay = 0;
    const std::size_t at = value.rfind('@');
    if (at == std::string::npos || at + 1 == value.size())
        return;
    const std::string digits = value.substr(at + 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos)
        return;
    unsigned long long number = 0;
    if (!ParseDecimal(digits, 0xFFFFFFFFull, number))
        throw UsageError("--portion '" + value + "': the delay must be at most 4294967295 ms");
    path = value.substr(0, at);
    delay = static_cast<unsigned int>(number);
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

bool LooksLikeSysEx(const std::vector<unsigned char>& bytes) {
    return bytes.size() >= 2 && bytes.front() == 0xF0 && bytes.back() == 0xF7;
}

std::vector<unsigned char> BuildUpdateFile(const PackRequest& request, std::ostream& err,
                                           std::size_t& portions, unsigned long long& total) {
    if (request.product.empty())
        throw UsageError("--product: the product name must not be empty");
    const Version version = ParseVersion(request.version);
    const std::vector<unsigned short> header = ParseHeaderValues(request.headerValues);

    std::string message = request.message;
    if (request.sysExMessage) {
        message = "<sysex>";
    } else if (request.messageFile) {
        const std::vector<unsigned char> bytes =
            ReadInputFile("--message-file", *request.messageFile);
        message.assign(bytes.begin(), bytes.end());
    }

    std::vector<unsigned char> file;
    CreateUpdateFileHeader(file, request.product, version, message, header[0], header[1],
                           header[2]);
    portions = 0;
    total = 0;
    for (const PackRecord& record : request.records) {
        switch (record.kind) {
        case PackRecord::Image:
            AddImage(file, ReadInputFile("--image", record.value));
            break;
        case PackRecord::Portion: {
            std::string path;
            unsigned int delay = 0;
            SplitPortion(record.value, path, delay);
            const std::vector<unsigned char> sysEx = ReadInputFile("--portion", path);
            if (!LooksLikeSysEx(sysEx))
                err << "warning: --portion '" << path
                    << "' does not start with F0 and end with F7; it is stored as it stands\n";
            total += sysEx.size();
            ++portions;
            AddSysExPortion(file, sysEx, delay);
            break;
        }
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
    // The updater counts the bytes it sends in 32 bits.
    if (total > maxBlock)
        throw UsageError("--portion: all portions together must be less than 4 GiB");
    return file;
}

// Written beside the target and renamed over it, so a failure never leaves half a file.
bool WriteWhole(const std::string& output, const std::vector<unsigned char>& bytes,
                std::string& error) {
    namespace fs = std::filesystem;
    const fs::path target(output);
    std::random_device random;
    fs::path temporary;
    std::error_code ignored;
    do {
        temporary = target;
        temporary += Format(".%08x.tmp", static_cast<unsigned>(random()));
    } while (fs::exists(temporary, ignored));

    std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
    if (!stream) {
        error = std::strerror(errno);
        return false;
    }
    stream.write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
    stream.close();
    if (!stream) {
        error = "writing failed";
        fs::remove(temporary, ignored);
        return false;
    }
    std::error_code renamed;
    fs::rename(temporary, target, renamed);
    if (renamed) {
        error = renamed.message();
        fs::remove(temporary, ignored);
        return false;
    }
    return true;
}

} // namespace

Command AddPackCommand(CLI::App& program) {
    auto request = std::make_shared<PackRequest>();
    // Bound only so CLI11 knows each takes one value per use; the values are taken from
    // the parse order below, which keeps the records in command-line order.
    auto records = std::make_shared<std::array<std::vector<std::string>, 4>>();

    CLI::App* pack = program.add_subcommand("pack", "Build an update file.");
    pack->footer("Records are written in the order given; every record option may be repeated.");
    pack->add_option("-o,--output", request->output, "The update file to write.")->required();
    pack->add_option("--product", request->product, "Product name.")->required();
    pack->add_option("--version", request->version, "Firmware version MAJOR.MINOR, e.g. 1.05.")
        ->required();
    CLI::Option* message = pack->add_option("--message", request->message, "Message text.");
    CLI::Option* messageFile = pack->add_option_function<std::string>(
        "--message-file", [request](const std::string& path) { request->messageFile = path; },
        "Read the message from a file.");
    CLI::Option* sysExMessage = pack->add_flag("--sysex-message", request->sysExMessage,
                                               "Use the standard SysEx update instructions.");
    message->excludes(messageFile)->excludes(sysExMessage);
    messageFile->excludes(sysExMessage);

    struct RecordOption {
        const char* name;
        PackRecord::Kind kind;
        const char* help;
    };
    const RecordOption recordOptions[] = {
        {"--image", PackRecord::Image, "Header image (PNG); several are joined into one."},
        {"--portion", PackRecord::Portion, "SysEx portion FILE.syx[@DELAY_MS], sent in order."},
        {"--mac-ports", PackRecord::MacPorts, "Mac port names, separated by '$'."},
        {"--windows-params", PackRecord::WindowsParams,
         "Windows port parameters, e.g. 'win:1:name:A$B:delay:200'."},
    };
    std::map<const CLI::Option*, PackRecord::Kind> kinds;
    for (std::size_t i = 0; i < records->size(); ++i) {
        const RecordOption& record = recordOptions[i];
        kinds[pack->add_option(record.name, (*records)[i], record.help)->allow_extra_args(false)] =
            record.kind;
    }
    pack->add_option("--header-values", request->headerValues,
                     "Three header values A,B,C from 0 to 65535 (default 0,0,0).");

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
    std::size_t portions = 0;
    unsigned long long total = 0;
    try {
        file = BuildUpdateFile(request, err, portions, total);
    } catch (const UsageError& e) {
        err << e.what() << '\n';
        return exitUsage;
    }

    std::string error;
    if (!WriteWhole(request.output, file, error)) {
        err << "-o '" << request.output << "': cannot write (" << error << ")\n";
        return exitRejected;
    }
    out << "Wrote " << request.output << ": " << file.size() << " bytes, " << portions
        << (portions == 1 ? " portion, " : " portions, ") << total << " bytes of SysEx\n";
    return exitOk;
}

} // namespace midiupdate
