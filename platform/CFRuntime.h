// Registering further CF object types (bundles, locales, date formatters, ...).
//
// An object type is a struct whose first member is a CFRuntimeBase:
//
//     struct __CFBundle { CFRuntimeBase base; std::string path; };
//     static const CFRuntimeClass kBundleClass = {"CFBundle", finalizeBundle, nullptr,
//                                                 nullptr, nullptr};
//     CFTypeID id = _CFRuntimeRegisterClass(&kBundleClass);     // once
//     auto* b = (__CFBundle*)_CFRuntimeCreateInstance(nullptr, id, sizeof(__CFBundle));
//     new (&b->path) std::string(...);   // the memory comes zero-filled
//
// CFRetain/CFRelease/CFEqual/CFHash/CFCopyDescription then work on it; finalize runs
// (and must destroy any C++ members) right before the memory is freed. The instance
// starts with one reference.
#pragma once

#include "platform/CoreFoundation.h"

#include <atomic>
#include <cstdint>

struct CFRuntimeClass {
    const char* className;
    void (*finalize)(CFTypeRef cf);                 // may be NULL
    Boolean (*equal)(CFTypeRef cf1, CFTypeRef cf2); // NULL: identity
    CFHashCode (*hash)(CFTypeRef cf);               // NULL: the address
    CFStringRef (*copyDebugDesc)(CFTypeRef cf);     // NULL: "<className 0x...>"
};

// The header of every object. Immortal objects (constants) have a negative count.
struct CFRuntimeBase {
    CFTypeID typeID;
    std::atomic<int32_t> refCount;
};

// Returns the new type's id (never 0); the class record must outlive the process.
CFTypeID _CFRuntimeRegisterClass(const CFRuntimeClass* cls);
// A zero-filled block of `size` bytes (size >= sizeof(CFRuntimeBase)) whose base is set
// to typeID with one reference; NULL for an unknown type id or a too small size.
CFTypeRef _CFRuntimeCreateInstance(CFAllocatorRef allocator, CFTypeID typeID, CFIndex size);
