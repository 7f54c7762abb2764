#include "Application/TestHooks.h"

#include "Stand-ins/CoreMIDI/Simulation.h"

#include <cstdlib>

#import "Application/LumoAppDelegate.h"

// Offers a file each time the test creates the signal file, as a drop would: the path the
// signal file holds, or the launch file when it is empty. Looked for in the default
// run-loop mode only, so never while a panel is up.
@interface LumoOpenAgainTrigger : NSObject {
    LumoAppDelegate* delegate;
    NSString* file;
    NSString* signalFile;
}
- (id)initWithDelegate:(LumoAppDelegate*)target file:(NSString*)path signal:(NSString*)signal;
- (void)look:(NSTimer*)timer;
@end

@implementation LumoOpenAgainTrigger
- (id)initWithDelegate:(LumoAppDelegate*)target file:(NSString*)path signal:(NSString*)signal {
    if ((self = [super init]) != nil) {
        delegate = target;
        file = [path copy];
        signalFile = [signal copy];
    }
    return self;
}

- (void)dealloc {
    [file release];
    [signalFile release];
    [super dealloc];
}

- (void)look:(NSTimer*)timer {
    NSFileManager* files = [NSFileManager defaultManager];
    if (![files fileExistsAtPath:signalFile])
        return;
    (void)timer;
    NSString* named = [NSString stringWithContentsOfFile:signalFile
                                                encoding:NSUTF8StringEncoding
                                                   error:NULL];
    [files removeItemAtPath:signalFile error:NULL];
    named = [named stringByTrimmingCharactersInSet:[NSCharacterSet newlineCharacterSet]];
    [delegate updateWithFile:[named length] > 0 ? named : file];
}
@end

namespace {

// Every item of the menus as the program loaded them, one line each, for the test to
// compare: "Menu: File > Close | cmd+w | performClose:".
void LogMenu(NSMenu* menu, NSString* path) {
    NSArray* items = [menu itemArray];
    for (NSUInteger index = 0; index < [items count]; ++index) {
        NSMenuItem* item = [items objectAtIndex:index];
        if ([item isSeparatorItem])
            continue;
        NSString* itemPath =
            path ? [NSString stringWithFormat:@"%@ > %@", path, [item title]] : [item title];
        if ([item hasSubmenu]) {
            LogMenu([item submenu], itemPath);
            continue;
        }
        NSMutableString* key = [NSMutableString string];
        if ([[item keyEquivalent] length] > 0) {
            const NSUInteger mask = [item keyEquivalentModifierMask];
            if (mask & NSControlKeyMask)
                [key appendString:@"ctrl+"];
            if (mask & NSAlternateKeyMask)
                [key appendString:@"opt+"];
            if (mask & NSShiftKeyMask)
                [key appendString:@"shift+"];
            if (mask & NSCommandKeyMask)
                [key appendString:@"cmd+"];
            [key appendString:[item keyEquivalent]];
        }
        NSLog(@"Menu: %@ | %@ | %@", itemPath, key, NSStringFromSelector([item action]));
    }
}

} // namespace

void StartLaunchTriggers(LumoAppDelegate* delegate) {
    if (std::getenv("MIDI_UPDATER_LIST_MENUS") != nullptr)
        LogMenu([NSApp mainMenu], nil);
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
    if (again == nullptr || *again == '\0')
        return;
    LumoOpenAgainTrigger* trigger = [[[LumoOpenAgainTrigger alloc]
        initWithDelegate:delegate
                    file:file
                  signal:[NSString stringWithUTF8String:again]] autorelease];
    // A quarter second: quick enough for a test, idle enough for a program.
    [NSTimer scheduledTimerWithTimeInterval:0.25
                                     target:trigger
                                   selector:@selector(look:)
                                   userInfo:nil
                                    repeats:YES];
}

bool PrepareDevice(const Update& update, std::string& error) {
    return coremidistandin::SimulateFromEnvironment(update, error);
}

std::string DeviceReport() {
    return coremidistandin::EnvironmentDeviceIntegrity();
}
