#include "Windows/TestHooks.h"

void StartTestHooks(HWND) {}
