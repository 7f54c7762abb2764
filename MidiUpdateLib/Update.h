#pragma once

// An update: the firmware's SysEx portions and everything needed to send them, read
// from an update file (.upd) or a plain SysEx file (.syx); and the writer that builds
// update files.

#include "MidiUpdateLib/Error.h"
#include "MidiUpdateLib/MidiPortParameters.h"
#include "MidiUpdateLib/Version.h"

#include <iosfwd>
#include <set>
#include <string>
#include <vector>

extern const std::string FILE_HEADER;   // "VornUpdateFile"
extern const std::string SYSEX_MESSAGE; // the standard instructions for a SysEx update

// Record tags of the update file.
enum UpdateRecordTag : unsigned int {
    SYSEX_PORTION_RECORD = 1,
    IMAGE_RECORD = 2,
    WINDOWS_PORT_PARAMETERS_RECORD = 3,
    MAC_PORT_NAMES_RECORD = 5,
};

class Update {
public:
    struct SysExPortion {
        std::vector<unsigned char> sysEx;
        unsigned int delay = 0; // pause after the portion, ms
    };

    // Reads an update file or a plain SysEx file; throws ParseError for anything else.
    // The stream must deliver the file's bytes unchanged and be seekable.
    explicit Update(std::istream& stream);
    ~Update();

    unsigned int TotalSysExSize() const;

    std::string productName;
    std::string message;
    Version version;
    std::set<std::string> macPortNames;
    MidiPortWindowsParameters windowsParameters = defaultMidiPortWindowsParameters;
    unsigned short headerValue1 = 0;
    unsigned short headerValue2 = 0;
    unsigned short headerValue3 = 0;
    std::vector<unsigned char> image;
    std::vector<SysExPortion> sysExPortions;

private:
    void ReadSysExFile(std::istream& stream);
    void ReadUpdateFile(std::istream& stream);
    void ReadHeader(std::istream& stream);
    void ReadRecord(std::istream& stream, unsigned int tag);
};

// Reader pieces. Each field reader returns whether the stream is still good, and
// leaves its target unchanged unless every byte of the field was read.
bool IsSysExFile(std::istream& stream);
unsigned long long StreamSize(std::istream& stream);
bool Read(std::istream& stream, unsigned char& value);
bool Read(std::istream& stream, unsigned short& value);
bool Read(std::istream& stream, unsigned int& value);
bool Read(std::istream& stream, std::string& text); // u32 count, then the bytes
// Appends `count` bytes. Reserves no more than the stream still holds, so a corrupt
// count costs no more memory than the file itself.
bool Read(std::istream& stream, std::string& target, unsigned int count);
bool Read(std::istream& stream, std::vector<unsigned char>& target, unsigned int count);

// Writer: CreateUpdateFileHeader first, then the Add functions in any order and number.
void Append(std::vector<unsigned char>& buffer, unsigned char value);
void Append(std::vector<unsigned char>& buffer, unsigned short value);
void Append(std::vector<unsigned char>& buffer, unsigned int value);
void Append(std::vector<unsigned char>& buffer, const std::string& text);
void Append(std::vector<unsigned char>& buffer, const std::vector<unsigned char>& block);

void CreateUpdateFileHeader(std::vector<unsigned char>& buffer, std::string productName,
                            Version version, std::string message, unsigned short headerValue1,
                            unsigned short headerValue2, unsigned short headerValue3);
void AddSysExPortion(std::vector<unsigned char>& buffer, const std::vector<unsigned char>& sysEx,
                     unsigned int delay);
void AddImage(std::vector<unsigned char>& buffer, const std::vector<unsigned char>& image);
void AddWindowsPortParameters(std::vector<unsigned char>& buffer, const std::string& text);
void AddMacPortName(std::vector<unsigned char>& buffer, const std::string& text);
