// The one owner of a platform object: it releases its reference when it
// goes, so no path through a function forgets one or releases one twice.
//
//   orvik::CFRef<CFStringRef> text(CFStringCreateWithCString(nullptr, "x", enc)); // adopts
//   if (!text) return;
//   CFStringGetLength(text.get());
//   auto shared = orvik::CFRef<CFStringRef>::Retain(borrowed);                     // adds one
#pragma once

#include "platform/CoreFoundation.h"

namespace orvik {

template <class T> class CFRef {
public:
    CFRef() = default;
    // Takes over the reference the caller holds (a Create or Copy result).
    explicit CFRef(T ref) : ref_(ref) {}
    // Adds a reference of its own to an object someone else owns.
    static CFRef Retain(T ref) {
        if (ref != nullptr)
            CFRetain(ref);
        return CFRef(ref);
    }
    CFRef(CFRef&& other) noexcept : ref_(other.release()) {}
    CFRef& operator=(CFRef&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    CFRef(const CFRef&) = delete;
    CFRef& operator=(const CFRef&) = delete;
    ~CFRef() { reset(); }

    T get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }
    // Gives the reference to the caller, who releases it.
    T release() {
        T ref = ref_;
        ref_ = nullptr;
        return ref;
    }
    void reset(T ref = nullptr) {
        T old = ref_;
        ref_ = ref;
        if (old != nullptr)
            CFRelease(old);
    }

private:
    T ref_ = nullptr;
};

} // namespace orvik
