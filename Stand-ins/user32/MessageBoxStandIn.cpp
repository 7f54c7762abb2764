#include "Stand-ins/user32/MessageBoxStandIn.h"

#include <windows.h>

#include <deque>
#include <mutex>

namespace user32standin {
namespace {

std::mutex lock;
std::deque<int> answers;
std::vector<Question> questions;

} // namespace

void SetAnswers(std::vector<int> scripted) {
    std::lock_guard<std::mutex> guard(lock);
    answers.assign(scripted.begin(), scripted.end());
    questions.clear();
}

std::vector<Question> Questions() {
    std::lock_guard<std::mutex> guard(lock);
    return questions;
}

} // namespace user32standin

extern "C" int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT style) {
    using namespace user32standin;
    std::lock_guard<std::mutex> guard(lock);
    questions.push_back({text ? text : "", caption ? caption : "", style});
    if (answers.empty())
        return IDNO;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}
