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
