#include "Application/LaunchTriggers.h"

#include <cstdlib>

#import "Application/LumoAppDelegate.h"

void StartLaunchTriggers(LumoAppDelegate* delegate) {
    const char* path = std::getenv("MIDI_UPDATER_OPEN");
    if (path == nullptr || *path == '\0')
        return;
    NSString* file = [NSString stringWithUTF8String:path];
    if (file == nil) {
        NSLog(@"MIDI_UPDATER_OPEN is not UTF-8");
        return;
    }
    [delegate application:NSApp openFile:file];

    const char* again = std::getenv("MIDI_UPDATER_OPEN_AGAIN");
    if (again != nullptr && *again != '\0')
        [delegate performSelector:@selector(updateWithFile:)
                       withObject:file
                       afterDelay:std::strtod(again, nullptr)];
}
