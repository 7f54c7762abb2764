// Built only with GNUstep, where a selector performed on the main thread from another
// thread waits in the run-loop modes this method names, and only in the default mode
// when it is missing. On a Mac such work is also done while a panel or sheet runs
// modally; without it here the job thread would hang on its end until the user closed
// the completion sheet.

#import <Cocoa/Cocoa.h>

@interface NSApplication (LumoRunLoopModes)
+ (NSArray*)allRunLoopModes;
@end

@implementation NSApplication (LumoRunLoopModes)
+ (NSArray*)allRunLoopModes {
    return [NSArray arrayWithObjects:NSDefaultRunLoopMode, NSModalPanelRunLoopMode,
                                     NSEventTrackingRunLoopMode, NSConnectionReplyMode, nil];
}
@end
