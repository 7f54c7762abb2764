#pragma once

// What the console shows while an update runs, in one of four forms: a live progress
// bar on a terminal, plain lines when output goes elsewhere, one JSON object per report
// for programs (--events), or only the verdict and errors (--quiet). The job's thread
// calls it, and the command's thread once the job has ended; never both at once.

#include "MidiUpdateLib/Progress.h"

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <memory>
#include <string>

namespace midiupdate {

class ConsoleDisplay : public UpdateProgress {
public:
    enum class Form { Terminal, Plain, Events, Quiet };

    // The host's own reports, besides the library's progress reports.
    virtual void Message(const std::string& text) = 0; // the update's message
    virtual void Failure(const std::string& text) = 0; // the job failed
    virtual void Note(const std::string& text) = 0;    // anything else for the person
    // A result that programs read too: {key: value} as an event, else `text` as a note
    // (or, when quiet, only if it is a `problem`).
    virtual void Fact(const std::string& key, const nlohmann::ordered_json& value,
                      const std::string& text, bool problem) = 0;
    // Ends the live line, if any, so what follows starts on a clean line.
    virtual void Finish() = 0;
};

// `out` takes the display; `err` what is not for it (in the Events form, every line
// that is not an event). `width` is the terminal's width for the Terminal form.
std::unique_ptr<ConsoleDisplay> MakeConsoleDisplay(ConsoleDisplay::Form form, std::ostream& out,
                                                   std::ostream& err, unsigned int width = 80);

} // namespace midiupdate
