#pragma once

// GDI+ through its flat functions. Its headers want min and max, which builds with
// NOMINMAX do not get from windows.h.

#include <windows.h>

#include <objidl.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
} // namespace Gdiplus
#include <gdiplus.h>
