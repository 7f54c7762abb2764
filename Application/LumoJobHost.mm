#include "Application/LumoJobHost.h"

#include "Application/AutoreleaseScope.h"
#include "Application/CoreMidiPort.h"
#include "Application/HeaderImage.h"
#include "Application/TestHooks.h"
#include "Application/TextBridge.h"
#include "MidiUpdateLib/PlatformForm.h"

#include <stdexcept>

#import "Application/LumoAppDelegate.h"

void LumoJobHost::JobStarted() {
    [delegate performSelectorOnMainThread:@selector(updateDidStart)
                               withObject:nil
                            waitUntilDone:YES];
}

void LumoJobHost::ShowProduct(const std::string& name, const Version& version) {
    AutoreleaseScope pool;
    [[delegate productName] performSelectorOnMainThread:@selector(setStringValue:)
                                             withObject:NSStringFromText(name)
                                          waitUntilDone:NO];
    [[delegate firmwareVersion] performSelectorOnMainThread:@selector(setStringValue:)
                                                 withObject:NSStringFromText(version.ToString())
                                              waitUntilDone:NO];
}

void LumoJobHost::ConfirmMessage(const std::string& message) {
    AutoreleaseScope pool;
    [delegate performSelectorOnMainThread:@selector(messageBeforeUpdate:)
                               withObject:NSStringFromText(message)
                            waitUntilDone:YES];
}

void LumoJobHost::ShowImage(const std::vector<unsigned char>& bytes) {
    AutoreleaseScope pool;
    NSData* data = [NSData dataWithBytes:bytes.data() length:bytes.size()];
    std::string why;
    if (!HeaderImageFits(data, why)) {
        Log(why); // as a damaged image: the header stays as it was, the update goes on
        return;
    }
    NSImage* image = [[NSImage alloc] initWithData:data];
    if (image == nil)
        return; // bytes that are no image leave the header as it was
    [[delegate imageView] performSelectorOnMainThread:@selector(setImage:)
                                           withObject:image
                                        waitUntilDone:NO];
    [image release];
}

void LumoJobHost::TransferStarting() {
    AutoreleaseScope pool;
    [delegate performSelectorOnMainThread:@selector(progress:) withObject:nil waitUntilDone:NO];
    [delegate performSelectorOnMainThread:@selector(status:)
                               withObject:@"Updating..."
                            waitUntilDone:NO];
}

std::unique_ptr<MidiPort> LumoJobHost::CreatePort(const Update& update) {
    std::string error;
    if (!PrepareDevice(update, error)) {
        Log(error);
        throw std::runtime_error(error);
    }
    return std::make_unique<CoreMidiPort>(update.macPortNames);
}

void LumoJobHost::ReportFailure(JobFailure kind, const std::string& reason) {
    AutoreleaseScope pool;
    NSString* text = NSStringFromText(midiupdate::JobFailureText(kind, reason));
    [delegate showAlert:text];
    [delegate performSelectorOnMainThread:@selector(error:) withObject:text waitUntilDone:NO];
    [delegate performSelectorOnMainThread:@selector(progress:) withObject:nil waitUntilDone:NO];
}

void LumoJobHost::JobFinished(bool) {
    [delegate performSelectorOnMainThread:@selector(updateDidComplete)
                               withObject:nil
                            waitUntilDone:YES];
}

void LumoJobHost::Log(const std::string& line) {
    AutoreleaseScope pool;
    NSLog(@"%@", NSStringFromText(line));
}
