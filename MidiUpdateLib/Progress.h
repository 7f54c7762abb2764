#pragma once

#include <string>

// The one channel through which the library talks to the user. Implementations hand
// each report to their window's thread without waiting, copying the text.
class UpdateProgress {
public:
    virtual ~UpdateProgress() = default;
    virtual void Progress(float fraction) = 0; // share of the whole job, 0.0 to 1.0
    virtual void ProgressIndeterminate() = 0;  // busy, share unknown, until the next Progress
    virtual void Status(const std::string& text) = 0;
    virtual void Error(const std::string& text) = 0;
    virtual void Completed(const std::string& text) = 0; // the closing message of a run
};

// Lets one step report 0.0 to 1.0 while the target sees the step's share of the whole:
// the part from inFrom to inTo of a whole of inOutOf.
class UpdateProgressConverter : public UpdateProgress {
public:
    UpdateProgressConverter(UpdateProgress& target, float inFrom, float inTo, float inOutOf);

    void Progress(float fraction) override;
    void ProgressIndeterminate() override;
    void Status(const std::string& text) override;
    void Error(const std::string& text) override;
    void Completed(const std::string& text) override;

private:
    UpdateProgress& target;
    float offset;
    float scale;
};
