// The output of the format engine: the text is written straight into the
// block of the string that will hold it. Private to CFFormat.cpp.
#pragma once

#include "platform/cf/CFInternal.h"

#include <algorithm>
#include <cstddef>

namespace orvik::cf::format {

// ---------------------------------------------------------------------------------------
// Output buffer
// ---------------------------------------------------------------------------------------

// The text is written straight into the block of the string that will hold it: a block from
// the thread's pool to start with (enough for most texts), moved to a larger one only when the
// text outgrows it.
class Out {
public:
    Out() : s_(newString(kPooledUnits)), buf_(s_->chars), cap_(static_cast<size_t>(kPooledUnits)) {}
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;
    ~Out() {
        if (s_ != nullptr)
            CFRelease(s_);
    }
    void put(UniChar c) {
        if (len_ == cap_)
            grow(1);
        buf_[len_++] = c;
    }
    void put(const UniChar* p, size_t n) {
        if (n == 0)
            return; // p may be null for an empty piece ("%.0s")
        if (len_ + n > cap_)
            grow(n);
        copyUnits(buf_ + len_, p, n);
        len_ += n;
    }
    void putAscii(const char* p, size_t n) {
        if (len_ + n > cap_)
            grow(n);
        for (size_t i = 0; i < n; ++i)
            buf_[len_ + i] = static_cast<unsigned char>(p[i]);
        len_ += n;
    }
    void fill(UniChar c, size_t n) {
        if (len_ + n > cap_)
            grow(n);
        for (size_t i = 0; i < n; ++i)
            buf_[len_ + i] = c;
        len_ += n;
    }
    // Room for n more units at the end; commit() what was written.
    UniChar* reserveTail(size_t n) {
        if (len_ + n > cap_)
            grow(n);
        return buf_ + len_;
    }
    void commit(size_t n) { len_ += n; }
    const UniChar* data() const { return buf_; }
    size_t size() const { return len_; }
    // The text as an immutable string (its block trimmed to fit); the output is spent.
    __CFString* take() {
        CFIndex n = static_cast<CFIndex>(len_);
        __CFString* s = s_->pooled ? s_ : resizeString(s_, n, n);
        s->length = n;
        s->capacity = n;
        s->chars[n] = 0;
        s_ = nullptr;
        return s;
    }

private:
    void grow(size_t more) {
        size_t cap = std::max(cap_ * 2, len_ + more + 64);
        s_ = resizeString(s_, static_cast<CFIndex>(len_), static_cast<CFIndex>(cap));
        buf_ = s_->chars;
        cap_ = cap;
    }
    __CFString* s_;
    UniChar* buf_;
    size_t len_ = 0;
    size_t cap_;
};

} // namespace orvik::cf::format
