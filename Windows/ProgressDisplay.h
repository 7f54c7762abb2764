#pragma once

// The window thread's side of the private messages: progress bar, status and product
// lines, error and completion boxes, the header image, and the animation of the bar
// while the share of the job is unknown.

#include <windows.h>

// Acts on one of the private messages; false for any other message.
bool HandleProgressMessage(UINT message, WPARAM wParam, LPARAM lParam);

// The animated bar's next position: steps of 3, back to 0 after 99.
int NextAnimationPosition(int position);
