// Code pages, lstr functions, last error, tick time and movable memory.
#include "win32compat/ProcessShims.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/CFRef.h"
#include "platform/SystemServices.h"

// ---- code pages ------------------------------------------------------------------

namespace {

// Windows code page -> platform encoding; unknown numbers fall back to UTF-8.
CFStringEncoding encodingForCodePage(UINT codePage) {
    CFStringEncoding encoding = CFStringConvertWindowsCodepageToEncoding(codePage);
    return encoding == kCFStringEncodingInvalidId ? kCFStringEncodingUTF8 : encoding;
}

} // namespace

int MultiByteToWideChar(UINT codePage, DWORD /*flags*/, LPCSTR src, int srcBytes, char16_t* dst,
                        int dstUnits) {
    if (src == nullptr || srcBytes == 0 || srcBytes < -1)
        return 0;
    if (dstUnits < 0 || (dstUnits > 0 && dst == nullptr))
        return 0;
    CFIndex length = srcBytes == -1 ? static_cast<CFIndex>(strlen(src)) : srcBytes;
    if (length == 0)
        return 0;
    const orvik::CFRef<CFStringRef> str(
        CFStringCreateWithBytes(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(src), length,
                                encodingForCodePage(codePage), false));
    if (!str)
        return 0;
    CFIndex units = CFStringGetLength(str.get());
    if (dstUnits > 0) {
        if (units > dstUnits)
            units = dstUnits;
        CFStringGetCharacters(str.get(), CFRangeMake(0, units), dst);
    }
    return static_cast<int>(units);
}

int WideCharToMultiByte(UINT codePage, DWORD /*flags*/, const char16_t* src, int srcUnits,
                        LPSTR dst, int dstBytes, LPCSTR defaultChar, LPBOOL usedDefault) {
    if (defaultChar != nullptr && usedDefault != nullptr)
        *usedDefault = FALSE;
    if (src == nullptr || srcUnits == 0 || srcUnits < -1)
        return 0;
    if (dstBytes < 0 || (dstBytes > 0 && dst == nullptr))
        return 0;
    CFIndex length = srcUnits == -1 ? static_cast<CFIndex>(ucalen(src)) : srcUnits;
    if (length == 0)
        return 0;
    const orvik::CFRef<CFStringRef> str(
        CFStringCreateWithCharacters(kCFAllocatorDefault, src, length));
    if (!str)
        return 0;
    CFIndex used = 0;
    CFStringGetBytes(str.get(), CFRangeMake(0, length), encodingForCodePage(codePage), '?', false,
                     dstBytes == 0 ? nullptr : reinterpret_cast<UInt8*>(dst), dstBytes, &used);
    return static_cast<int>(used);
}

// ---- last error --------------------------------------------------------------------

DWORD g_dwLastErrCode = 0;

DWORD GetLastError() {
    return g_dwLastErrCode;
}

void SetLastError(DWORD code) {
    g_dwLastErrCode = code;
}

// ---- time ----------------------------------------------------------------------------

DWORD TickCountToMilliseconds(uint32_t ticks) {
    uint32_t product = ticks * 1000u; // wraps, as the 32-bit original does
    return product / 60u;
}

DWORD GetTickCount() {
    return TickCountToMilliseconds(TickCount());
}

unsigned long SleepTicksFor(DWORD ms) {
    return static_cast<unsigned long>(ms / 1000) * 60;
}

void Sleep(DWORD ms) {
    unsigned long ticks = SleepTicksFor(ms);
    if (ticks == 0)
        return;
    unsigned long finalTicks = 0;
    Delay(ticks, &finalTicks);
}

// ---- movable memory --------------------------------------------------------------------

CFMutableDictionaryRef g_memTable = nullptr;

const void* DictionaryRetainNumBytes(CFAllocatorRef /*allocator*/, const void* value) {
    void* copy = malloc(sizeof(GlobalMemRecord));
    if (copy != nullptr)
        memcpy(copy, value, sizeof(GlobalMemRecord));
    return copy;
}

void DictionaryReleaseNumBytes(CFAllocatorRef /*allocator*/, const void* value) {
    free(const_cast<void*>(value));
}

const CFDictionaryValueCallBacks g_valueCallbacks = {0, DictionaryRetainNumBytes,
                                                     DictionaryReleaseNumBytes, nullptr, nullptr};

namespace {

// mlock and munlock as the kernel answers them. Called through syscall
// because AddressSanitizer replaces the library functions with ones that
// always succeed, which would hide a refused pin in sanitized builds.
int pinPages(const void* addr, size_t len) {
    return static_cast<int>(syscall(SYS_mlock, addr, len));
}
int unpinPages(const void* addr, size_t len) {
    return static_cast<int>(syscall(SYS_munlock, addr, len));
}

// The table's own record for h, or null when the table or the entry is missing.
GlobalMemRecord* recordFor(HGLOBAL h) {
    if (g_memTable == nullptr || h == nullptr)
        return nullptr;
    return static_cast<GlobalMemRecord*>(const_cast<void*>(CFDictionaryGetValue(g_memTable, h)));
}

} // namespace

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) {
    if (g_memTable == nullptr) {
        // Identity keys: the block address is compared and hashed as a pointer.
        g_memTable = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, nullptr, &g_valueCallbacks);
        if (g_memTable == nullptr)
            return nullptr;
    }
    if (bytes > UINT32_MAX)
        return nullptr; // the record holds a 32-bit size
    void* block = (flags & GMEM_ZEROINIT) ? calloc(bytes, 1) : malloc(bytes);
    if (block == nullptr)
        return nullptr;
    GlobalMemRecord record = {static_cast<uint32_t>(bytes), 0, flags};
    CFDictionarySetValue(g_memTable, block, &record);
    if (recordFor(block) == nullptr) { // the record copy could not be made
        CFDictionaryRemoveValue(g_memTable, block);
        free(block);
        return nullptr;
    }
    return block;
}

LPVOID GlobalLock(HGLOBAL h) {
    GlobalMemRecord* record = recordFor(h);
    if (record == nullptr)
        return nullptr;
    if (pinPages(h, record->size) != 0)
        return nullptr;
    ++record->lockCount;
    return h;
}

BOOL GlobalUnlock(HGLOBAL h) {
    GlobalMemRecord* record = recordFor(h);
    if (record == nullptr)
        return FALSE;
    if (unpinPages(h, record->size) != 0)
        return FALSE;
    --record->lockCount;
    return TRUE;
}

SIZE_T GlobalSize(HGLOBAL h) {
    GlobalMemRecord* record = recordFor(h);
    return record == nullptr ? 0 : record->size;
}

HGLOBAL GlobalFree(HGLOBAL h) {
    if (recordFor(h) == nullptr)
        return nullptr; // not ours: never handed to free
    CFDictionaryRemoveValue(g_memTable, h);
    free(h);
    return nullptr;
}

UINT GlobalFlags(HGLOBAL h) {
    GlobalMemRecord* record = recordFor(h);
    if (record == nullptr)
        return GMEM_INVALID_HANDLE;
    return (record->lockCount & 0xFF) | ((record->flags & 0xFF) << 4);
}
