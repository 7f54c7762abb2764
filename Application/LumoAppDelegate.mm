#import "Application/LumoAppDelegate.h"

#include "Application/AutoreleaseScope.h"
#include "Application/CoreMidiPort.h"
#include "Application/LumoJobHost.h"
#include "Application/TestHooks.h"
#include "Application/TextBridge.h"
#include "MidiUpdateLib/UpdateJob.h"
#include "MidiUpdateLib/Version.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

// Job threads not yet at their very end; they are never joined.
std::atomic<int> liveJobThreads{0};

// Ends the program at once, as `exit` would not: its static destructors, and those of
// the frameworks, would run under a job thread still sending and logging.
[[noreturn]] void EndUnderLiveJob(NSString* why) {
    NSLog(@"%@", why);
    std::fflush(nullptr);
    std::_Exit(0);
}

// The system's stop-alert icon, by its type code 'stop'; systems without one get ours.
NSImage* StopIcon() {
    const unsigned int stopCode = ('s' << 24) | ('t' << 16) | ('o' << 8) | 'p';
    NSString* type = NSFileTypeForHFSTypeCode(stopCode);
    NSImage* icon = type ? [[NSWorkspace sharedWorkspace] iconForFileType:type] : nil;
    return icon ? icon : [NSImage imageNamed:@"StopAlert"];
}

// The status line has one line: a failure's reason follows its first line there, rather
// than vanishing below it.
NSString* OneLine(NSString* text) {
    return [[text componentsSeparatedByCharactersInSet:[NSCharacterSet newlineCharacterSet]]
        componentsJoinedByString:@" "];
}

} // namespace

@implementation LumoAppDelegate

// Plain accessors, written out: the compiler here warns about synthesized ones.
- (NSWindow*)window {
    return window;
}
- (void)setWindow:(NSWindow*)value {
    window = value;
}
- (NSImageView*)imageView {
    return imageView;
}
- (void)setImageView:(NSImageView*)value {
    imageView = value;
}
- (NSProgressIndicator*)progressIndicator {
    return progressIndicator;
}
- (void)setProgressIndicator:(NSProgressIndicator*)value {
    progressIndicator = value;
}
- (NSTextField*)textField {
    return textField;
}
- (void)setTextField:(NSTextField*)value {
    textField = value;
}
- (NSTextField*)productName {
    return productName;
}
- (void)setProductName:(NSTextField*)value {
    productName = value;
}
- (NSTextField*)firmwareVersion {
    return firmwareVersion;
}
- (void)setFirmwareVersion:(NSTextField*)value {
    firmwareVersion = value;
}

- (void)awakeFromNib {
    [window center];
    [window registerForDraggedTypes:[NSArray arrayWithObject:NSFilenamesPboardType]];
    // Drops on the header image reach the window.
    [imageView unregisterDraggedTypes];
    // Otherwise an idle bar vanishes where the interface toolkit hides stopped bars.
    [progressIndicator setDisplayedWhenStopped:YES];
    ListInterfaces();
}

- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    (void)notification;
    StartLaunchTriggers(self);
}

// The Finder's Open With and drops on the Dock icon take the way of a drop.
- (BOOL)application:(NSApplication*)application openFile:(NSString*)path {
    (void)application;
    const BOOL accepted = !sendingUpdate;
    [self updateWithFile:path];
    return accepted;
}

- (NSApplicationTerminateReply)applicationShouldTerminate:(NSApplication*)sender {
    (void)sender;
    if (sendingUpdate) {
        NSAlert* alert = [[[NSAlert alloc] init] autorelease];
        [alert setMessageText:@"An update is in progress"];
        [alert setInformativeText:@"An update is in progress.\n"
                                  @"Are you sure you want to close this program?"];
        [alert addButtonWithTitle:@"Do not close"];
        NSButton* close = [alert addButtonWithTitle:@"Close"];
        // A stray key must not put the device at risk: "Close" has no key at all.
        [close setKeyEquivalent:@""];
        // Only the button itself ends the job: Escape, or the panel ended any other
        // way, keeps it running.
        if ([alert runModal] != NSAlertSecondButtonReturn) {
            NSLog(@"Kept running during the update");
            return NSTerminateCancel;
        }
    }
    if (liveJobThreads.load() > 0)
        EndUnderLiveJob(sendingUpdate ? @"Closing during the update: it ends with the program"
                                      : @"Closing as the update's thread ends");
    return NSTerminateNow;
}

- (BOOL)windowShouldClose:(id)sender {
    (void)sender;
    [NSApp terminate:self]; // returns only when the user keeps the program running
    return NO;
}

- (IBAction)openDocument:(id)sender {
    (void)sender;
    if (openSheet != nil || sendingUpdate)
        return;
    openSheet = [[NSOpenPanel openPanel] retain];
    // Some toolkits run sheets modally, returning after the end selector: nothing follows.
    [openSheet beginSheetForDirectory:nil
                                 file:nil
                                types:[NSArray arrayWithObjects:@"upd", @"syx", nil]
                       modalForWindow:window
                        modalDelegate:self
                       didEndSelector:@selector(browseDidEnd:returnCode:contextInfo:)
                          contextInfo:NULL];
}

- (void)browseDidEnd:(NSOpenPanel*)panel returnCode:(NSInteger)code contextInfo:(void*)context {
    (void)context;
    openSheet = nil;
    if (code == NSOKButton) {
        NSString* file = [[[panel filename] retain] autorelease];
        [panel close];
        [self updateWithFile:file];
    }
    // The panel may still be inside its own sheet code here.
    [panel autorelease];
}

- (IBAction)aboutDialogue:(id)sender {
    (void)sender;
    NSDictionary* options = [NSDictionary
        dictionaryWithObjectsAndKeys:NSStringFromText(MidiUpdateLib_Version), @"ApplicationVersion",
                                     NSStringFromText(MidiUpdateLib_Build), @"Version", nil];
    [NSApp orderFrontStandardAboutPanelWithOptions:options];
}

- (NSDragOperation)draggingEntered:(id<NSDraggingInfo>)sender {
    if (sendingUpdate || alertSheet != nil || openSheet != nil)
        return NSDragOperationNone;
    return [sender draggingSourceOperationMask] & NSDragOperationCopy;
}

- (BOOL)prepareForDragOperation:(id<NSDraggingInfo>)sender {
    (void)sender;
    return YES;
}

- (BOOL)performDragOperation:(id<NSDraggingInfo>)sender {
    NSArray* files = [[sender draggingPasteboard] propertyListForType:NSFilenamesPboardType];
    if ([files count] > 0) // a drop of no file names is nothing to do
        [self updateWithFile:[files objectAtIndex:0]];
    return YES;
}

- (void)updateWithFile:(NSString*)path {
    NSLog(@"%s: Update file: %@", "-[LumoAppDelegate updateWithFile:]", path);
    if (sendingUpdate) {
        [self showAlert:@"Already performing an update."];
        return;
    }
    sendingUpdate = YES;
    ++liveJobThreads;
    [NSThread detachNewThreadSelector:@selector(updateThreadFile:) toTarget:self withObject:path];
}

- (void)updateThreadFile:(NSString*)path {
    NSAutoreleasePool* pool = [[NSAutoreleasePool alloc] init];
    {
        LumoJobHost host(self);
        RunUpdateJob(TextFromNSString(path), host);
        const std::string report = DeviceReport();
        if (!report.empty())
            host.Log("Device: " + report);
    }
    NSLog(@"Update thread releasing pool...");
    [pool release];
    {
        AutoreleaseScope last; // the log's own objects need one
        NSLog(@"Update thread done");
    }
    --liveJobThreads;
}

- (void)updateDidStart {
    sendingUpdate = YES;
}

- (void)updateDidComplete {
    sendingUpdate = NO;
}

- (void)messageBeforeUpdate:(NSString*)message {
    NSAlert* alert = [[[NSAlert alloc] init] autorelease];
    [alert setMessageText:@"Important note about this update"];
    [alert setInformativeText:message];
    [alert addButtonWithTitle:@"Start update"];
    [alert runModal]; // there is no declining: the job goes on
    NSLog(@"Message read");
}

- (void)progress:(NSNumber*)value {
    NSLog(@"Progress: %@", value);
    const double fraction = value ? [value doubleValue] : 0.0;
    if (fraction == 0.0) {
        [progressIndicator setIndeterminate:YES];
        [progressIndicator startAnimation:self];
    } else if (fraction >= 1.0) {
        [progressIndicator setDoubleValue:fraction];
        [progressIndicator setIndeterminate:NO];
        [progressIndicator stopAnimation:self];
    } else {
        [progressIndicator setIndeterminate:NO];
        [progressIndicator setDoubleValue:fraction];
    }
}

- (void)progressIndeterminate {
    [progressIndicator setIndeterminate:YES];
    [progressIndicator startAnimation:self];
}

- (void)status:(NSString*)text {
    NSLog(@"Status: %@", text);
    [textField setStringValue:OneLine(text)];
}

- (void)error:(NSString*)text {
    NSLog(@"Error: %@", text);
    [textField setStringValue:OneLine(text)];
}

- (void)completed:(NSString*)text {
    NSLog(@"Completed: %@", text);
    [self progress:[NSNumber numberWithDouble:1.0]];
    [textField setStringValue:OneLine(text)];
    NSAlert* alert = [[NSAlert alloc] init];
    [alert setMessageText:@"Completed"];
    [alert setInformativeText:text]; // as it is: percent signs in it are no format
    [alert addButtonWithTitle:@"OK"];
    [self showSheet:alert];
}

- (void)completedSheetDidEnd:(NSAlert*)alert returnCode:(NSInteger)code contextInfo:(void*)context {
    (void)code;
    (void)context;
    [alert autorelease]; // the alert may still be inside its own sheet code here
    [self sheetEnded];
}

- (void)showAlert:(NSString*)text {
    if (![NSThread isMainThread]) {
        [self performSelectorOnMainThread:_cmd withObject:text waitUntilDone:NO];
        return;
    }
    NSLog(@"Alert: %@", text);
    // One that comes while another panel is shown waits for it: no failure is lost.
    NSAlert* alert = [[NSAlert alloc] init];
    [alert setMessageText:@"Update failed"];
    [alert setInformativeText:text];
    [alert setIcon:StopIcon()];
    if (failureAlerts == nil)
        failureAlerts = [[NSMutableArray alloc] init];
    [failureAlerts addObject:alert];
    [self showSheet:alert];
}

- (void)alertSheetDidEnd:(NSAlert*)alert returnCode:(NSInteger)code contextInfo:(void*)context {
    (void)code;
    (void)context;
    [alert autorelease]; // the alert may still be inside its own sheet code here
    alertSheet = nil;
    [self sheetEnded];
}

// One sheet at a time on the window: one that comes while another is shown waits for it,
// as on a Mac. A sheet is begun on a later pass of the run loop, as work queued for the
// main thread: where sheets run modally, reports the job queued together with the one
// that asked for it (the job's end above all) would otherwise wait for the user, and only
// a sheet begun that way lets the job's later reports through while it is up.
- (void)showSheet:(NSAlert*)alert {
    if (sheetShown) {
        if (waitingSheets == nil)
            waitingSheets = [[NSMutableArray alloc] init];
        [waitingSheets addObject:alert];
        return;
    }
    sheetShown = YES;
    [self performSelectorOnMainThread:@selector(beginSheet:) withObject:alert waitUntilDone:NO];
}

- (void)beginSheet:(NSAlert*)alert {
    [window displayIfNeeded]; // where sheets run modally, the window is not drawn under them
    const NSUInteger failure = [failureAlerts indexOfObjectIdenticalTo:alert];
    if (failure != NSNotFound) {
        alertSheet = alert;
        [failureAlerts removeObjectAtIndex:failure];
    }
    const SEL end = alert == alertSheet ? @selector(alertSheetDidEnd:returnCode:contextInfo:)
                                        : @selector(completedSheetDidEnd:returnCode:contextInfo:);
    [alert beginSheetModalForWindow:window modalDelegate:self didEndSelector:end contextInfo:NULL];
}

- (void)sheetEnded {
    sheetShown = NO;
    if ([waitingSheets count] == 0)
        return;
    NSAlert* next = [[[waitingSheets objectAtIndex:0] retain] autorelease];
    [waitingSheets removeObjectAtIndex:0];
    [self showSheet:next];
}

@end
