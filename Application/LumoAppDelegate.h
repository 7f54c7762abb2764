#pragma once

// The Mac program's one window and its panels, and the start of each update job.
// Threads: every method runs on the main thread, except updateThreadFile:, which is
// the job's own thread and reaches the window only by performing on the main thread.

#import <Cocoa/Cocoa.h>

@interface LumoAppDelegate : NSObject {
    NSWindow* window;
    NSImageView* imageView;
    NSTextField* productName;
    NSTextField* firmwareVersion;
    NSProgressIndicator* progressIndicator; // range 0.0 to 1.0, set in the interface file
    NSTextField* textField;                 // the status line
    NSOpenPanel* openSheet;                 // retained while shown as a sheet, else nil
    NSAlert* alertSheet;                    // the failure alert while shown, else nil
    BOOL sendingUpdate;                     // a job is under way
    BOOL sheetShown;                        // a sheet is on the window or about to be
    NSMutableArray* waitingSheets;          // alerts waiting for the sheet before them
    NSMutableArray* failureAlerts;          // failure alerts not yet begun
}

@property(assign) IBOutlet NSWindow* window;
@property(assign) IBOutlet NSImageView* imageView;
@property(assign) IBOutlet NSProgressIndicator* progressIndicator;
@property(assign) IBOutlet NSTextField* textField;
@property(assign) IBOutlet NSTextField* productName;
@property(assign) IBOutlet NSTextField* firmwareVersion;

// Menu actions.
- (IBAction)openDocument:(id)sender;
- (IBAction)aboutDialogue:(id)sender;

// Sheet ends.
- (void)browseDidEnd:(NSOpenPanel*)panel returnCode:(NSInteger)code contextInfo:(void*)context;
- (void)alertSheetDidEnd:(NSAlert*)alert returnCode:(NSInteger)code contextInfo:(void*)context;
- (void)completedSheetDidEnd:(NSAlert*)alert returnCode:(NSInteger)code contextInfo:(void*)context;
- (void)showSheet:(NSAlert*)alert; // takes over the caller's reference
- (void)beginSheet:(NSAlert*)alert;
- (void)sheetEnded;

// The Finder's Open With and drops on the Dock icon; YES when the job starts.
- (BOOL)application:(NSApplication*)application openFile:(NSString*)path;

// One file to send: a chosen, dropped or opened file. Refused while a job runs.
- (void)updateWithFile:(NSString*)path;
- (void)updateThreadFile:(NSString*)path; // the job thread
- (void)updateDidStart;
- (void)updateDidComplete;
- (void)messageBeforeUpdate:(NSString*)message; // returns when the user has read it

// What the job reports. A nil or 0.0 progress spins; 1.0 or more fills and stops.
- (void)progress:(NSNumber*)value;
- (void)progressIndeterminate;
- (void)status:(NSString*)text;
- (void)error:(NSString*)text;
- (void)completed:(NSString*)text;
- (void)showAlert:(NSString*)text; // any thread
@end
