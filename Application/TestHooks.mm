#include "Application/TestHooks.h"

void StartLaunchTriggers(LumoAppDelegate*) {}

bool PrepareDevice(const Update&, std::string&) {
    return true;
}

std::string DeviceReport() {
    return std::string();
}
