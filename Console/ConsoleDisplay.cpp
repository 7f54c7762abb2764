#include "Console/ConsoleDisplay.h"

#include "Console/UpdateJson.h"
#include "Console/UpdateSummary.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <thread>

namespace midiupdate {
namespace {

// Progress fractions from the library are not clamped; the display keeps them sane.
float Clamp(float fraction) {
    if (!(fraction >= 0.0f))
        return 0.0f;
    return fraction > 1.0f ? 1.0f : fraction;
}

int Percent(float fraction) {
    return static_cast<int>(std::floor(Clamp(fraction) * 100.0f));
}

// One line rewritten in place: bar, percentage and the current status. While the
// share cannot be told, a ticker keeps the bar moving so a long wait still looks alive.
class TerminalDisplay : public ConsoleDisplay {
public:
    TerminalDisplay(std::ostream& out, unsigned int width)
        : out(out), width(width < 40 ? 40 : width), ticker([this] { Tick(); }) {}

    ~TerminalDisplay() override {
        {
            std::lock_guard<std::mutex> guard(lock);
            stopping = true;
        }
        wake.notify_all();
        ticker.join();
    }

    void Progress(float fraction) override {
        std::lock_guard<std::mutex> guard(lock);
        indeterminate = false;
        this->fraction = Clamp(fraction);
        Draw();
    }
    void ProgressIndeterminate() override {
        std::lock_guard<std::mutex> guard(lock);
        indeterminate = true;
        Draw();
    }
    void Status(const std::string& text) override {
        std::lock_guard<std::mutex> guard(lock);
        status = Printable(text);
        Draw();
    }
    void Error(const std::string& text) override { Line("Error: " + Printable(text)); }
    void Completed(const std::string& text) override {
        std::lock_guard<std::mutex> guard(lock);
        // The verdict ends the live display: the last bar stays above it.
        if (drawn)
            out << '\n';
        drawn = false;
        done = true;
        out << Printable(text) << '\n' << std::flush;
    }
    void Message(const std::string& text) override { Line(Printable(text)); }
    void Failure(const std::string& text) override { Line("Update failed: " + Printable(text)); }
    void Note(const std::string& text) override { Line(Printable(text)); }
    void Fact(const std::string&, const nlohmann::ordered_json&, const std::string& text,
              bool) override {
        Note(text);
    }
    void Finish() override {
        std::lock_guard<std::mutex> guard(lock);
        Clear();
        done = true;
    }

private:
    static const unsigned int barWidth = 30;

    void Tick() {
        std::unique_lock<std::mutex> guard(lock);
        while (!stopping) {
            wake.wait_for(guard, std::chrono::milliseconds(120));
            if (indeterminate && drawn && !stopping) {
                ++tick;
                Draw();
            }
        }
    }

    void Clear() {
        if (drawn)
            out << "\r\033[K" << std::flush;
        drawn = false;
    }

    void Draw() {
        if (done)
            return;
        std::string bar(barWidth, ' ');
        std::string percent;
        if (indeterminate) {
            // A short block sweeping to and fro.
            const unsigned int span = barWidth - 3;
            const unsigned int step = tick % (2 * span);
            bar.replace(step < span ? step : 2 * span - step, 3, "<=>");
            percent = "  ...";
        } else {
            const unsigned int filled =
                static_cast<unsigned int>(std::lround(fraction * static_cast<float>(barWidth)));
            bar.replace(0, filled, std::string(filled, '#'));
            const std::string number = std::to_string(Percent(fraction)) + "%";
            percent = std::string(5 - number.size(), ' ') + number;
        }
        // Longer than the terminal would wrap, and \r could not take it back.
        const std::string line = FitToColumns("[" + bar + "]" + percent + "  " + status, width - 1);
        out << "\r\033[K" << line << std::flush;
        drawn = true;
    }

    void Line(const std::string& text) {
        std::lock_guard<std::mutex> guard(lock);
        Clear();
        out << text << '\n';
        if (!status.empty() || indeterminate)
            Draw();
        out << std::flush;
    }

    std::ostream& out;
    const unsigned int width;
    std::mutex lock; // the job's thread and the ticker
    std::condition_variable wake;
    float fraction = 0.0f;
    bool indeterminate = false;
    unsigned int tick = 0;
    std::string status;
    bool drawn = false;
    bool done = false;
    bool stopping = false;
    std::thread ticker; // last: starts once everything above exists
};

// Lines for a log or a pipe: every status, and the progress in steps of ten percent.
// Quiet: only the verdict and errors.
class PlainDisplay : public ConsoleDisplay {
public:
    PlainDisplay(std::ostream& out, bool quiet) : out(out), quiet(quiet) {}

    void Progress(float fraction) override {
        const int percent = Percent(fraction);
        waiting = false;
        if (quiet ||
            (percent / 10 == shownPercent / 10 && !(percent == 100 && shownPercent != 100)))
            return;
        shownPercent = percent;
        out << "Progress: " << percent << "%\n" << std::flush;
    }
    void ProgressIndeterminate() override {
        if (waiting || quiet)
            return;
        waiting = true;
        out << "Progress: waiting\n" << std::flush;
    }
    void Status(const std::string& text) override { Write("Status: " + Printable(text), false); }
    void Error(const std::string& text) override { Write("Error: " + Printable(text), true); }
    void Completed(const std::string& text) override { Write(Printable(text), true); }
    void Message(const std::string& text) override { Write(Printable(text), false); }
    void Failure(const std::string& text) override {
        Write("Update failed: " + Printable(text), true);
    }
    void Note(const std::string& text) override { Write(Printable(text), false); }
    void Fact(const std::string&, const nlohmann::ordered_json&, const std::string& text,
              bool problem) override {
        Write(Printable(text), problem);
    }
    void Finish() override {}

private:
    void Write(const std::string& line, bool essential) {
        if (essential || !quiet)
            out << line << '\n' << std::flush;
    }

    std::ostream& out;
    const bool quiet;
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
    void Fact(const std::string& key, const nlohmann::ordered_json& value, const std::string&,
              bool) override {
        Event(key.c_str(), value);
    }
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
    case ConsoleDisplay::Form::Quiet:
        return std::make_unique<PlainDisplay>(out, form == ConsoleDisplay::Form::Quiet);
    case ConsoleDisplay::Form::Events:
        return std::make_unique<EventsDisplay>(out, err);
    }
    return nullptr;
}

} // namespace midiupdate
