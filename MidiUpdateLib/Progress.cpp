#include "MidiUpdateLib/Progress.h"

#include <cassert>

UpdateProgressConverter::UpdateProgressConverter(UpdateProgress& target, float inFrom, float inTo,
                                                 float inOutOf)
    : target(target), offset(0.0f), scale(0.0f) {
    assert(inFrom <= inTo);
    assert(inFrom <= inOutOf);
    assert(inTo <= inOutOf);
    // An empty whole (an update whose portions hold no bytes) has no share to show: 0/0
    // would put NaN on the progress bar, so such a step counts as done.
    if (inOutOf > 0.0f) {
        offset = inFrom / inOutOf;
        scale = (inTo - inFrom) / inOutOf;
    } else {
        offset = 1.0f;
        scale = 0.0f;
    }
}

void UpdateProgressConverter::Progress(float fraction) {
    target.Progress(fraction * scale + offset);
}
void UpdateProgressConverter::ProgressIndeterminate() {
    target.ProgressIndeterminate();
}
void UpdateProgressConverter::Status(const std::string& text) {
    target.Status(text);
}
void UpdateProgressConverter::Error(const std::string& text) {
    target.Error(text);
}
void UpdateProgressConverter::Completed(const std::string& text) {
    target.Completed(text);
}
