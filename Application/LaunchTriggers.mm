#include "Application/LaunchTriggers.h"

void StartLaunchTriggers(LumoAppDelegate*) {}
