#pragma once

// Stands in for MessageBoxA in test builds of code compiled with -D_USER32_: answers each
// question from a script instead of a person, and keeps the questions.
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
