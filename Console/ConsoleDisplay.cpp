#include "Console/ConsoleDisplay.h"

#include "Console/UpdateJson.h"
#include "Console/UpdateSummary.h"

#include <cmath>
#include <ostream>

namespace midiupdate {
namespace {

// Progress fractions from the library are not clamped; the display keeps them sane.
float Clamp(float fraction) {
    if (!(fraction >= 0.0f))
        return 0.0f;
    return fraction > 1.0f ? 1.0f : fraction;
}

int Percent(float fraction) { return static_cast<int>(std::floor(Clamp(fraction) * 100.0f)); }

// One line rewritten in place: bar, percentage and the current status.
class TerminalDisplay : public ConsoleDisplay {
public:
    TerminalDisplay(std::ostream& out, unsigned int width) : out(out), width(width < 40 ? 40 : width) {}

    void Progress(float fraction) override {
        indeterminate = false;
        this->fraction = Clamp(fraction);
        Draw();
    }
    void ProgressIndeterminate() override {
        indeterminate = true;
        ++tick;
        Draw();
    }
    void Status(const std::string& text) override {
        status = Printable(text);
        Draw();
    }
    void Error(const std::string& text) override { Line("Error: " + Printable(text)); }
    void Completed(const std::string& text) override { Line(Printable(text)); }
    void Message(const std::string& text) override { Line(Printable(text)); }
    void Failure(const std::string& text) override { Line("Update failed: " + Printable(text)); }
    void Note(const std::string& text) override { Line(Printable(text)); }
    void Finish() override {
        if (drawn)
            out << "\r\033[K" << std::flush;
        drawn = false;
    }

private:
    static const unsigned int barWidth = 30;

    void Draw() {
        std::string bar(barWidth, ' ');
        std::string percent;
        if (indeterminate) {
            // A short block that moves with every report, so waiting still looks alive.
            const unsigned int at = tick % (barWidth - 2);
            bar.replace(at, 3, "<=>");
            percent = "  ...";
        } else {
            const unsigned int filled =
                static_cast<unsigned int>(std::lround(fraction * static_cast<float>(barWidth)));
            bar.replace(0, filled, std::string(filled, '#'));
            percent = std::string(Percent(fraction) < 100 ? (Percent(fraction) < 10 ? "   " : "  ") : " ") +
                      std::to_string(Percent(fraction)) + "%";
        }
        std::string line = "[" + bar + "]" + percent + "  " + status;
        // Longer than the terminal would wrap, and \r could not take it back.
        if (line.size() > width - 1)
            line.resize(width - 1);
        out << "\r\033[K" << line << std::flush;
        drawn = true;
    }

    void Line(const std::string& text) {
        Finish();
        out << text << '\n';
        if (!status.empty() || indeterminate)
            Draw();
    }

    std::ostream& out;
    const unsigned int width;
    float fraction = 0.0f;
    bool indeterminate = false;
    unsigned int tick = 0;
    std::string status;
    bool drawn = false;
};

// Lines for a log or a pipe: every status, and the progress in steps of ten percent.
class PlainDisplay : public ConsoleDisplay {
public:
    explicit PlainDisplay(std::ostream& out) : out(out) {}

    void Progress(float fraction) override {
        const int percent = Percent(fraction);
        waiting = false;
        if (percent / 10 == shownPercent / 10 && !(percent == 100 && shownPercent != 100))
            return;
        shownPercent = percent;
        out << "Progress: " << percent << "%\n" << std::flush;
    }
    void ProgressIndeterminate() override {
        if (waiting)
            return;
        waiting = true;
        out << "Progress: waiting\n" << std::flush;
    }
    void Status(const std::string& text) override { Write("Status: " + Printable(text)); }
    void Error(const std::string& text) override { Write("Error: " + Printable(text)); }
    void Completed(const std::string& text) override { Write(Printable(text)); }
    void Message(const std::string& text) override { Write(Printable(text)); }
    void Failure(const std::string& text) override { Write("Update failed: " + Printable(text)); }
    void Note(const std::string& text) override { Write(Printable(text)); }
    void Finish() override {}

private:
    void Write(const std::string& line) { out << line << '\n' << std::flush; }

    std::ostream& out;
    int shownPercent = -100;
    bool waiting = false;
};

// One JSON object per line on `out`; the person's notes go to `err`.
class EventsDisplay : public ConsoleDisplay {
public:
    EventsDisplay(std::ostream& out, std::ostream& err) : out(out), err(err) {}

    void Progress(float fraction) override {
        // Four decimals: finer than any display, and stable to compare.
        const double rounded = std::round(static_cast<double>(fraction) * 10000.0) / 10000.0;
        Event("progress", rounded);
    }
    void ProgressIndeterminate() override { Event("indeterminate", true); }
    void Status(const std::string& text) override { Event("status", text); }
    void Error(const std::string& text) override { Event("error", text); }
    void Completed(const std::string& text) override { Event("completed", text); }
    void Message(const std::string& text) override { Event("message", text); }
    void Failure(const std::string& text) override { Event("failure", text); }
    void Note(const std::string& text) override { err << Printable(text) << '\n' << std::flush; }
    void Finish() override {}

private:
    template <class Value> void Event(const char* key, const Value& value) {
        nlohmann::ordered_json event;
        event[key] = value;
        out << DumpJson(event) << '\n' << std::flush;
    }

    std::ostream& out;
    std::ostream& err;
};

} // namespace

std::unique_ptr<ConsoleDisplay> MakeConsoleDisplay(ConsoleDisplay::Form form, std::ostream& out,
                                                   std::ostream& err, unsigned int width) {
    switch (form) {
    case ConsoleDisplay::Form::Terminal:
        return std::make_unique<TerminalDisplay>(out, width);
    case ConsoleDisplay::Form::Plain:
        return std::make_unique<PlainDisplay>(out);
    case ConsoleDisplay::Form::Events:
        return std::make_unique<EventsDisplay>(out, err);
    }
    return nullptr;
}

} // namespace midiupdate
