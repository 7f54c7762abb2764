#include "MidiUpdateLib/Progress.h"
#include "tests/RecordingProgress.h"

#include <gtest/gtest.h>

#include <cmath>

using testsupport::RecordingProgress;

TEST(UpdateProgressConverter, MapsAStepOntoItsShareOfTheWhole) {
    struct Case {
        float from, to, outOf, x, expected;
    };
    const Case cases[] = {
        {700, 1000, 1000, 0.0f, 0.7f}, {700, 1000, 1000, 0.5f, 0.85f},
        {700, 1000, 1000, 1.0f, 1.0f}, {300, 300, 1000, 0.0f, 0.3f},  // an empty step
        {300, 300, 1000, 1.0f, 0.3f},  {0, 1000, 1000, 0.37f, 0.37f}, // the whole job
        {0, 1000, 1000, 1.5f, 1.5f},                                  // not clamped
        {0, 0, 0, 0.0f, 1.0f}, // an empty whole counts as done, never NaN
        {0, 0, 0, 0.5f, 1.0f},
    };
    for (const Case& c : cases) {
        RecordingProgress target;
        UpdateProgressConverter converter(target, c.from, c.to, c.outOf);
        converter.Progress(c.x);
        ASSERT_EQ(target.Values().size(), 1u);
        const float reported = target.Values()[0];
        EXPECT_FALSE(std::isnan(reported));
        EXPECT_NEAR(reported, c.expected, 1e-6)
            << c.from << ".." << c.to << " of " << c.outOf << " at " << c.x;
    }
}

TEST(UpdateProgressConverter, PassesEverythingElseOnUnchanged) {
    RecordingProgress target;
    UpdateProgressConverter converter(target, 1, 2, 4);
    const std::string text = "two\nlines, 100% \xC3\xA9";
    converter.ProgressIndeterminate();
    converter.Status(text);
    converter.Error(text);
    converter.Completed(text);
    EXPECT_EQ(target.Events(), (std::vector<std::string>{"Indeterminate", "Status: " + text,
                                                         "Error: " + text, "Completed: " + text}));
}
