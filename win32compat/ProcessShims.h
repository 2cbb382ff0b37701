// Process-wide Windows functions the rest of the library expects from the
// operating system: code-page conversions, the lstr string functions, the
// last-error code, tick time, and movable-memory handles.
//
// Contract: failures are reported only by results (0, null, FALSE, 0x8000);
// nothing here writes the last-error code. The process-wide state
// (g_dwLastErrCode, g_memTable) is unguarded: the library is single-threaded.
// 16-bit text is UTF-16 in char16_t; each function taking 16-bit text has an
// unsigned short twin that behaves identically.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/CoreFoundation.h"
#include "strings/UcaString.h"
#include "win32compat/WinTypes.h"

// ---- code pages ------------------------------------------------------------------
// The code page goes through the platform's table of Windows code pages;
// 65001 is UTF-8 and a number the table does not know selects UTF-8 too.
// flags are ignored. Neither direction writes or counts a terminator.

// Decodes srcBytes bytes of src (-1: up to its terminator) and returns the
// units produced: with dstUnits 0 the units the text needs, otherwise the
// first min(needed, dstUnits) units copied into dst. 0 for a null src, a
// count of 0 or below -1, an empty text, bytes not valid in the encoding, a
// negative capacity or a null dst with a capacity.
// MultiByteToWideChar(65001, 0, "a\xC3\xA9", -1, nullptr, 0) == 2.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcBytes, char16_t* dst,
                        int dstUnits);
inline int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcBytes,
                               unsigned short* dst, int dstUnits) {
    return MultiByteToWideChar(codePage, flags, src, srcBytes, reinterpret_cast<char16_t*>(dst),
                               dstUnits);
}

// Encodes srcUnits units of src (-1: up to its terminator) with '?' for a
// character the encoding lacks. With dstBytes 0 nothing is written and the
// bytes needed come back; otherwise at most dstBytes bytes (whole characters
// only) and the count written. 0 for a null src, a count of 0 or below -1,
// an empty text, a string the platform cannot make, a negative capacity or a
// null dst with a capacity. When defaultChar and usedDefault are both
// non-null, *usedDefault becomes FALSE (never TRUE).
int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* src, int srcUnits, LPSTR dst,
                        int dstBytes, LPCSTR defaultChar, LPBOOL usedDefault);
inline int WideCharToMultiByte(UINT codePage, DWORD flags, const unsigned short* src, int srcUnits,
                               LPSTR dst, int dstBytes, LPCSTR defaultChar, LPBOOL usedDefault) {
    return WideCharToMultiByte(codePage, flags, reinterpret_cast<const char16_t*>(src), srcUnits,
                               dst, dstBytes, defaultChar, usedDefault);
}

// ---- lstr functions ----------------------------------------------------------------
// A null source counts as empty; a null destination is returned as it is.

// An empty src leaves dst untouched; otherwise src with its terminator.
template <UcaUnit T> inline T* lstrcpy(T* dst, const T* src) {
    if (dst == nullptr || src == nullptr || src[0] == 0)
        return dst;
    return ucacpy(dst, src);
}

// An empty src leaves dst untouched; otherwise the first min(length, n)
// units, and no terminator. A count below 1 copies nothing.
// lstrcpyn(dst, u"abcde", 3) writes a b c and leaves dst[3] as it was.
template <UcaUnit T> inline T* lstrcpyn(T* dst, const T* src, int n) {
    if (dst == nullptr || src == nullptr || src[0] == 0)
        return dst;
    for (int i = 0; i < n && src[i] != 0; ++i)
        dst[i] = src[i];
    return dst;
}

// ucalen as a signed count; 0 for null.
template <UcaUnit T> inline int lstrlen(const T* s) {
    return s == nullptr ? 0 : static_cast<int>(ucalen(s));
}

// src with its terminator copied to the end of dst.
template <UcaUnit T> inline T* lstrcat(T* dst, const T* src) {
    if (dst == nullptr || src == nullptr)
        return dst;
    ucacpy(dst + ucalen(dst), src);
    return dst;
}

// ---- last error --------------------------------------------------------------------

extern DWORD g_dwLastErrCode; // 0 at start; only SetLastError writes it
DWORD GetLastError();
void SetLastError(DWORD code);

// ---- time ----------------------------------------------------------------------------

// The platform tick counter (1/60 s since start-up) in milliseconds:
// ticks * 1000 in wrapping 32-bit arithmetic, then / 60. 60 ticks -> 1000;
// at 4294968 ticks the product wraps (-> 11).
DWORD TickCountToMilliseconds(uint32_t ticks);
DWORD GetTickCount();

// Waits whole seconds only: (ms / 1000) * 60 ticks with the platform's Delay.
// Under 1000 ms returns at once; 2500 ms waits 2 s (120 ticks).
unsigned long SleepTicksFor(DWORD ms);
void Sleep(DWORD ms);

// ---- movable memory --------------------------------------------------------------------
// A handle is the block's own address. Every block GlobalAlloc returns has a
// record in g_memTable (identity keys; the dictionary keeps its own 12-byte
// copy of the record through g_valueCallbacks). Only GMEM_ZEROINIT (0x40)
// changes the allocation; other flags are recorded.

struct GlobalMemRecord {
    uint32_t size;      // bytes asked for
    uint32_t lockCount; // 0 at allocation; may go below 0 by unbalanced unlocks
    uint32_t flags;     // allocation flags as passed
};

extern CFMutableDictionaryRef g_memTable; // null until the first GlobalAlloc
extern const CFDictionaryValueCallBacks g_valueCallbacks;

// The value callbacks: a fresh malloc'd copy of the record in, free out.
const void* DictionaryRetainNumBytes(CFAllocatorRef allocator, const void* value);
void DictionaryReleaseNumBytes(CFAllocatorRef allocator, const void* value);

// A new block of bytes (zero-filled with 0x40) entered in the table; null
// when the allocation fails.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
// Pins the block's pages (mlock) and counts the lock; null when the handle is
// unknown or pinning is refused.
LPVOID GlobalLock(HGLOBAL h);
// Unpins (munlock) and uncounts the lock; FALSE when the handle is unknown or
// unpinning fails.
BOOL GlobalUnlock(HGLOBAL h);
// The recorded size; 0 for an unknown handle.
SIZE_T GlobalSize(HGLOBAL h);
// Removes the record and frees the block; always null. An address the table
// does not know is left alone (never handed to free).
HGLOBAL GlobalFree(HGLOBAL h);
// (lockCount & 0xFF) | ((flags & 0xFF) << 4); 0x8000 for an unknown handle.
// GlobalAlloc(0x40, 16) -> 0x400; after one GlobalLock -> 0x401.
UINT GlobalFlags(HGLOBAL h);
