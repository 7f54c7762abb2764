#include "MidiUpdateLib/MidiPortParameters.h"

#include "MidiUpdateLib/Format.h"

const MidiPortWindowsParameters defaultMidiPortWindowsParameters{};

void ParseMidiPortWindowsParameters(MidiPortWindowsParameters& parameters,
                                    const std::string& text) {
    const std::vector<std::string> fields = Split(text, ':');
    if (fields.size() < 2 || fields[0] != "win")
        return;

    // Keys and values alternate after the two leading fields; a lone trailing key is ignored.
    for (std::size_t i = 2; i + 1 < fields.size(); i += 2) {
        const std::string& key = fields[i];
        const std::string& value = fields[i + 1];
        if (key == "name")
            PutPortNamesIntoSet(parameters.names, value);
        else if (key == "ideal")
            parameters.ideal = midiupdate::ParseLeadingInt(value);
        else if (key == "max")
            parameters.max = midiupdate::ParseLeadingInt(value);
        else if (key == "delay")
            parameters.delay = midiupdate::ParseLeadingInt(value);
        else if (key == "unprepdelay")
            parameters.unprepDelay = midiupdate::ParseLeadingInt(value);
        else if (key == "chunks")
            parameters.chunks = ParseYesNo(value);
    }
}
