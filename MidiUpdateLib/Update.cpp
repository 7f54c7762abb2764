#include "MidiUpdateLib/Update.h"

#include "MidiUpdateLib/Format.h"
#include "MidiUpdateLib/OS.h"

#include <algorithm>
#include <iostream>
#include <istream>

const std::string FILE_HEADER = "VornUpdateFile";
const std::string SYSEX_MESSAGE =
    "To apply this update file, please detach all MIDI devices from your computer, and shut "
    "down all other MIDI applications.\n\nThen plug in your device and put it into update "
    "mode. Refer to the User's Manual for details on how to do this.\n\nWhen the device is "
    "ready to accept an update, you can start the update process.\n";

namespace {

const unsigned short UPDATE_FILE_FORMAT = 4;
const char* const SYSEX_MESSAGE_MARK = "<sysex>";
const char* const TRUNCATED_TEXT = "Update file was truncated. Did it download correctly?";

// Blocks up to this size are read without asking the stream how much it still holds.
const unsigned int SMALL_BLOCK = 64 * 1024;
// Blocks pass through a buffer of this size on their way into the target.
const std::size_t CHUNK = 64 * 1024;

// Bytes from the read position to the end, or -1 when the stream cannot tell.
long long RemainingBytes(std::istream& stream) {
    const std::streampos here = stream.tellg();
    if (here == std::streampos(-1))
        return -1;
    stream.seekg(0, std::ios::end);
    const std::streampos end = stream.tellg();
    stream.seekg(here);
    if (end == std::streampos(-1) || !stream) {
        stream.clear();
        stream.seekg(here);
        return -1;
    }
    return static_cast<long long>(end - here);
}

// Appends up to `count` bytes and returns how many arrived. Growing the target with
// resize and reading into it would first zero every byte: a second pass over memory as
// large as the file, which costs about half as much again as the read itself.
template <class Bytes>
std::size_t AppendFromStream(std::istream& stream, Bytes& target, std::size_t count) {
    std::vector<typename Bytes::value_type> chunk(std::min(count, CHUNK));
    std::size_t got = 0;
    while (got < count) {
        const std::size_t want = std::min(chunk.size(), count - got);
        stream.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(want));
        const std::size_t arrived = static_cast<std::size_t>(stream.gcount());
        target.insert(target.end(), chunk.data(), chunk.data() + arrived);
        got += arrived;
        if (!stream)
            break;
    }
    return got;
}

template <class Bytes> bool ReadBlock(std::istream& stream, Bytes& target, unsigned int count) {
    if (count == 0)
        return stream.good();

    const long long remaining = count > SMALL_BLOCK ? RemainingBytes(stream) : -1;
    if (remaining >= 0 && remaining < static_cast<long long>(count)) {
        // Cannot be complete: take what there is and fail as a short read would.
        AppendFromStream(stream, target, static_cast<std::size_t>(remaining));
        stream.setstate(std::ios::eofbit | std::ios::failbit);
        return false;
    }

    // A stream that cannot tell its size makes the target grow only with what arrives.
    if (remaining >= 0)
        target.reserve(target.size() + count);
    if (AppendFromStream(stream, target, count) < count)
        return false;
    return stream.good();
}

// The reader's own source position goes to standard error, to find which check refused.
ParseError UnrecognisedData(const char* file, unsigned line) {
    std::cerr << Format("%s:%u\n", file, line);
    // Kept as users have always seen it, the doubled word included.
    return ParseError("File contains unrecognised data. Please Please check you have the latest "
                      "version of the updater.");
}

template <class Unsigned> bool ReadLittleEndian(std::istream& stream, Unsigned& value) {
    Unsigned result = 0;
    for (unsigned i = 0; i < sizeof(Unsigned); ++i) {
        const int byte = stream.get();
        if (byte == std::char_traits<char>::eof())
            return false;
        result = static_cast<Unsigned>(result | (static_cast<Unsigned>(byte) << (8 * i)));
    }
    value = result;
    return stream.good();
}

template <class Unsigned> void AppendLittleEndian(std::vector<unsigned char>& buffer, Unsigned v) {
    for (unsigned i = 0; i < sizeof(Unsigned); ++i)
        buffer.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
}

} // namespace

bool Read(std::istream& stream, unsigned char& value) {
    const int byte = stream.get();
    if (byte == std::char_traits<char>::eof())
        return false;
    value = static_cast<unsigned char>(byte);
    return stream.good();
}

bool Read(std::istream& stream, unsigned short& value) {
    return ReadLittleEndian(stream, value);
}

bool Read(std::istream& stream, unsigned int& value) {
    return ReadLittleEndian(stream, value);
}

bool Read(std::istream& stream, std::string& target, unsigned int count) {
    return ReadBlock(stream, target, count);
}

bool Read(std::istream& stream, std::vector<unsigned char>& target, unsigned int count) {
    return ReadBlock(stream, target, count);
}

bool Read(std::istream& stream, std::string& text) {
    unsigned int count = 0;
    if (!Read(stream, count))
        return false;
    return Read(stream, text, count);
}

bool IsSysExFile(std::istream& stream) {
    const bool wasGood = stream.good();
    if (!wasGood)
        return false;

    bool result = false;
    stream.seekg(0);
    if (stream.get() == 0xF0) {
        for (int byte = stream.get(); byte != std::char_traits<char>::eof(); byte = stream.get()) {
            if (byte == 0xF7) {
                result = true;
                break;
            }
        }
    }
    stream.clear();
    stream.seekg(0);
    return result;
}

unsigned long long StreamSize(std::istream& stream) {
    stream.seekg(0, std::ios::end);
    const std::streampos end = stream.tellg();
    stream.seekg(0);
    return end == std::streampos(-1) ? 0 : static_cast<unsigned long long>(end);
}

Update::Update(std::istream& stream) {
    if (IsSysExFile(stream))
        ReadSysExFile(stream);
    else
        ReadUpdateFile(stream);
}

Update::~Update() = default;

unsigned int Update::TotalSysExSize() const {
    unsigned int total = 0;
    for (const SysExPortion& portion : sysExPortions)
        total += static_cast<unsigned int>(portion.sysEx.size());
    return total;
}

void Update::ReadSysExFile(std::istream& stream) {
    productName = "<SysEx Update Device>";

    const unsigned long long size = StreamSize(stream);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size));
    unsigned long long got = 0;
    if (size > 0) {
        stream.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
        got = static_cast<unsigned long long>(stream.gcount());
    }
    // Sending zeros in place of firmware that could not be read would corrupt the
    // device, so a short read is an error on every platform.
    if (got < size) // the text as users have always seen it, "was;" included
        throw ParseError(Format("Failed to load all of the sysex file. (Got:%u was;%u)",
                                static_cast<unsigned>(got), static_cast<unsigned>(size)));

    SysExPortion portion;
    portion.sysEx = std::move(bytes);
    portion.delay = 0;
    sysExPortions.push_back(std::move(portion));
    message = SYSEX_MESSAGE;
}

void Update::ReadHeader(std::istream& stream) {
    std::string magic;
    Read(stream, magic, static_cast<unsigned int>(FILE_HEADER.size()));
    if (magic != FILE_HEADER)
        throw ParseError("Update file was invalid (bad header).");

    unsigned short format = 0xFFFF;
    Read(stream, format);
    if (format != UPDATE_FILE_FORMAT)
        throw ParseError("Update file is wrong version. Please check you have the latest "
                         "version of the updater.");

    Read(stream, productName);
    Read(stream, version.major);
    Read(stream, version.minor);
    Read(stream, message);
    Read(stream, headerValue1);
    Read(stream, headerValue2);
    Read(stream, headerValue3);

    if (message == SYSEX_MESSAGE_MARK)
        message = SYSEX_MESSAGE;

    if (!stream.good())
        throw ParseError(TRUNCATED_TEXT);
}

// Once a tag has been read, a record cut short means a damaged download, and sending part
// of it would flash part of a firmware.
void Update::ReadRecord(std::istream& stream, unsigned int tag) {
    const auto truncated = [] { return ParseError(TRUNCATED_TEXT); };
    unsigned int count = 0;
    if (tag == SYSEX_PORTION_RECORD) {
        if (!Read(stream, count))
            throw truncated();
        SysExPortion portion;
        if (!Read(stream, portion.sysEx, count))
            throw ParseError("Trucated sysex"); // sic: the text users have always seen
        if (!Read(stream, portion.delay))
            throw truncated();
        sysExPortions.push_back(std::move(portion));
    } else if (tag == IMAGE_RECORD) {
        if (!Read(stream, count) || !Read(stream, image, count))
            throw truncated();
    } else if (tag == WINDOWS_PORT_PARAMETERS_RECORD || tag == MAC_PORT_NAMES_RECORD) {
        std::string text;
        if (!Read(stream, text))
            throw truncated();
        if (tag == WINDOWS_PORT_PARAMETERS_RECORD)
            ParseMidiPortWindowsParameters(windowsParameters, text);
        else
            PutPortNamesIntoSet(macPortNames, text);
    } else {
        throw UnrecognisedData(__FILE__, __LINE__);
    }
}

void Update::ReadUpdateFile(std::istream& stream) {
    ReadHeader(stream);
    // The records run to the end of the file. A tag that cannot be read whole is the
    // end, not an error (old files may carry one to three stray bytes after the last
    // record). A file cut exactly between records cannot be told: the format has no
    // count or checksum.
    while (!stream.fail()) {
        unsigned int tag = 0;
        if (!Read(stream, tag))
            break;
        ReadRecord(stream, tag);
    }

    // A file that names no ports is for the port that bears the product's name.
    if (windowsParameters.names.empty())
        windowsParameters.names.insert(productName);
    if (macPortNames.empty())
        macPortNames.insert(productName);
}

void Append(std::vector<unsigned char>& buffer, unsigned char value) {
    buffer.push_back(value);
}

void Append(std::vector<unsigned char>& buffer, unsigned short value) {
    AppendLittleEndian(buffer, value);
}

void Append(std::vector<unsigned char>& buffer, unsigned int value) {
    AppendLittleEndian(buffer, value);
}

void Append(std::vector<unsigned char>& buffer, const std::string& text) {
    Append(buffer, static_cast<unsigned int>(text.size()));
    buffer.insert(buffer.end(), text.begin(), text.end());
}

void Append(std::vector<unsigned char>& buffer, const std::vector<unsigned char>& block) {
    Append(buffer, static_cast<unsigned int>(block.size()));
    buffer.insert(buffer.end(), block.begin(), block.end());
}

void CreateUpdateFileHeader(std::vector<unsigned char>& buffer, std::string productName,
                            Version version, std::string message, unsigned short headerValue1,
                            unsigned short headerValue2, unsigned short headerValue3) {
    buffer.clear();
    buffer.insert(buffer.end(), FILE_HEADER.begin(), FILE_HEADER.end());
    Append(buffer, UPDATE_FILE_FORMAT);
    Append(buffer, productName);
    Append(buffer, version.major);
    Append(buffer, version.minor);
    Append(buffer, message);
    Append(buffer, headerValue1);
    Append(buffer, headerValue2);
    Append(buffer, headerValue3);
}

void AddSysExPortion(std::vector<unsigned char>& buffer, const std::vector<unsigned char>& sysEx,
                     unsigned int delay) {
    Append(buffer, static_cast<unsigned int>(SYSEX_PORTION_RECORD));
    Append(buffer, sysEx);
    Append(buffer, delay);
}

void AddImage(std::vector<unsigned char>& buffer, const std::vector<unsigned char>& image) {
    Append(buffer, static_cast<unsigned int>(IMAGE_RECORD));
    Append(buffer, image);
}

void AddWindowsPortParameters(std::vector<unsigned char>& buffer, const std::string& text) {
    Append(buffer, static_cast<unsigned int>(WINDOWS_PORT_PARAMETERS_RECORD));
    Append(buffer, text);
}

void AddMacPortName(std::vector<unsigned char>& buffer, const std::string& text) {
    Append(buffer, static_cast<unsigned int>(MAC_PORT_NAMES_RECORD));
    Append(buffer, text);
}
