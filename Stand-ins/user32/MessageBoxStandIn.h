#pragma once

// Stands in for MessageBoxA in test builds of code compiled with -D_USER32_: answers each
// question from a script instead of a person, and keeps the questions.
//
// A program linked with it must compile every source that calls MessageBoxA with
// -D_USER32_: a dllimport call elsewhere pulls the real MessageBoxA from user32's import
// library, and the two definitions clash at link time.
//
// Threads: any; set the answers before the code under test asks.

#include <string>
#include <vector>

namespace user32standin {

struct Question {
    std::string text;
    std::string caption;
    unsigned int style;
};

// The answers (IDYES, IDNO, ...), in order; once they run out every answer is IDNO.
// Forgets the questions asked so far.
void SetAnswers(std::vector<int> answers);
std::vector<Question> Questions();

} // namespace user32standin
