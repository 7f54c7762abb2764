#pragma once

// An autorelease pool for one C++ scope, for Foundation calls on threads that have
// none (the job thread's own pool lives as long as the job; reports need shorter ones).
// Released on every way out, exceptions included.

#import <Foundation/Foundation.h>

class AutoreleaseScope {
public:
    AutoreleaseScope() : pool([[NSAutoreleasePool alloc] init]) {}
    ~AutoreleaseScope() { [pool release]; }
    AutoreleaseScope(const AutoreleaseScope&) = delete;
    AutoreleaseScope& operator=(const AutoreleaseScope&) = delete;

private:
    NSAutoreleasePool* pool;
};
