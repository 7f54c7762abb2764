#pragma once

#include "MidiUpdateLib/Progress.h"

#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// Keeps every report in order, as text: "Progress 0.85", "Indeterminate",
// "Status: ...", "Error: ...", "Completed: ...". Safe to report from any thread.
class RecordingProgress : public UpdateProgress {
public:
    void Progress(float fraction) override;
    void ProgressIndeterminate() override;
    void Status(const std::string& text) override;
    void Error(const std::string& text) override;
    void Completed(const std::string& text) override;

    std::vector<std::string> Events() const;
    std::vector<float> Values() const; // every Progress value
    std::vector<std::string> Statuses() const;
    std::vector<std::string> Completions() const;

private:
    void Record(std::string event);
    std::vector<std::string> Texts(const std::string& prefix) const;

    mutable std::mutex lock;
    std::vector<std::string> events;
    std::vector<float> values;
};

} // namespace testsupport
