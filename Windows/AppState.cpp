#include "Windows/AppState.h"

AppState app;
