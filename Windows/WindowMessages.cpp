#include "Windows/WindowMessages.h"

#include <cstdlib>
#include <cstring>

bool MainWindowPost::Post(UINT message, WPARAM wParam, LPARAM lParam) {
    return PostMessageA(window, message, wParam, lParam) != FALSE;
}

bool PostText(WindowPost& window, UINT message, WPARAM wParam, const std::string& text) {
    char* copy = _strdup(text.c_str());
    if (!copy)
        return false;
    if (window.Post(message, wParam, reinterpret_cast<LPARAM>(copy)))
        return true;
    std::free(copy);
    return false;
}

void FreeText::operator()(char* text) const {
    std::free(text);
}

PostedText TakeText(LPARAM lParam) {
    return PostedText(reinterpret_cast<char*>(lParam));
}
