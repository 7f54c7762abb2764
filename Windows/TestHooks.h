#pragma once

// What the test program does to itself that a user would do by hand (TestHooks.cpp is
// the shipped program's: nothing; TestHooks_Simulated.cpp the test program's). Window
// thread.

#include <windows.h>

// Called once the window is shown.
void StartTestHooks(HWND window);
