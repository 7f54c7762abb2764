#include "Application/LumoAppDelegateUpdateProgress.h"

#include "Application/AutoreleaseScope.h"
#include "Application/TextBridge.h"

#import "Application/LumoAppDelegate.h"

void LumoAppDelegateUpdateProgress::Perform(SEL selector, id object) {
    [delegate performSelectorOnMainThread:selector withObject:object waitUntilDone:NO];
}

void LumoAppDelegateUpdateProgress::Progress(float fraction) {
    AutoreleaseScope pool;
    Perform(@selector(progress:), [NSNumber numberWithFloat:fraction]);
}

void LumoAppDelegateUpdateProgress::ProgressIndeterminate() {
    Perform(@selector(progressIndeterminate), nil);
}

void LumoAppDelegateUpdateProgress::Status(const std::string& text) {
    AutoreleaseScope pool;
    Perform(@selector(status:), NSStringFromText(text));
}

void LumoAppDelegateUpdateProgress::Error(const std::string& text) {
    AutoreleaseScope pool;
    Perform(@selector(error:), NSStringFromText(text));
}

void LumoAppDelegateUpdateProgress::Completed(const std::string& text) {
    AutoreleaseScope pool;
    Perform(@selector(completed:), NSStringFromText(text));
}
