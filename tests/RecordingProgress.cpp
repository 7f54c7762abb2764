#include "tests/RecordingProgress.h"

#include <cstdio>

namespace testsupport {

void RecordingProgress::Progress(float fraction) {
    char text[64];
    std::snprintf(text, sizeof text, "Progress %g", static_cast<double>(fraction));
    std::lock_guard<std::mutex> guard(lock);
    events.push_back(text);
    values.push_back(fraction);
}

void RecordingProgress::ProgressIndeterminate() {
    Record("Indeterminate");
}
void RecordingProgress::Status(const std::string& text) {
    Record("Status: " + text);
}
void RecordingProgress::Error(const std::string& text) {
    Record("Error: " + text);
}
void RecordingProgress::Completed(const std::string& text) {
    Record("Completed: " + text);
}

void RecordingProgress::Record(std::string event) {
    std::lock_guard<std::mutex> guard(lock);
    events.push_back(std::move(event));
}

std::vector<std::string> RecordingProgress::Events() const {
    std::lock_guard<std::mutex> guard(lock);
    return events;
}

std::vector<float> RecordingProgress::Values() const {
    std::lock_guard<std::mutex> guard(lock);
    return values;
}

std::vector<std::string> RecordingProgress::Texts(const std::string& prefix) const {
    std::vector<std::string> texts;
    for (const std::string& event : Events())
        if (event.compare(0, prefix.size(), prefix) == 0)
            texts.push_back(event.substr(prefix.size()));
    return texts;
}

std::vector<std::string> RecordingProgress::Statuses() const {
    return Texts("Status: ");
}
std::vector<std::string> RecordingProgress::Completions() const {
    return Texts("Completed: ");
}

} // namespace testsupport
