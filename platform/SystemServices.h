// Process-manager and system queries of the platform layer.
//
// The product calls these as it would on its original platform; on Linux they
// do what the uninstaller needs and nothing more:
//   Gestalt(gestaltSystemVersion, &v)  -> noErr, v = kOrvikReportedSystemVersion
//                                         (newer than every version class the
//                                         library distinguishes); other
//                                         selectors -> gestaltUndefSelectorErr.
//   TickCount()                        -> monotonic clock in ticks of 1/60 s.
//   Delay(n, &final)                   -> sleeps n ticks, final = TickCount().
//   GetCurrentProcess(&psn)            -> noErr, psn = {0, kCurrentProcess}.
//   SetFrontProcess(&psn)              -> noErr; there is no window to raise.
#pragma once

#include <cstdint>

#if __has_include("platform/CoreFoundation.h")
#include "platform/CoreFoundation.h"
#endif
#if __has_include("platform/LaunchServices.h")
#include "platform/LaunchServices.h"
#endif

// Identical redeclarations of the platform's scalar types, so that this header
// stands on its own.
typedef std::int16_t OSErr;
typedef std::int32_t OSStatus;
typedef std::uint32_t OSType;
typedef std::int32_t SInt32;
typedef std::uint32_t UInt32;

struct ProcessSerialNumber {
    UInt32 highLongOfPSN;
    UInt32 lowLongOfPSN;
};
typedef ProcessSerialNumber* ProcessSerialNumberPtr;

enum : UInt32 { kNoProcess = 0, kSystemProcess = 1, kCurrentProcess = 2 };

// Selector of the system version, packed decimal digits (0x1048 = 10.4.8).
constexpr OSType gestaltSystemVersion = 0x73797376; // 'sysv'
constexpr OSErr gestaltUndefSelectorErr = -5551;
// The version Gestalt reports: 10.15.0, above every class of 10.4 and older.
constexpr SInt32 kOrvikReportedSystemVersion = 0x10F0;

OSErr Gestalt(OSType selector, SInt32* response);
UInt32 TickCount();
void Delay(unsigned long numTicks, unsigned long* finalTicks);
OSErr GetCurrentProcess(ProcessSerialNumber* psn);
OSErr SetFrontProcess(const ProcessSerialNumber* psn);
