// Basic scalar types and status codes shared by every platform header.
//
// Integer widths follow the original platform: OSErr is 16 bits, OSStatus 32 bits,
// Boolean an unsigned char, UniChar a UTF-16 code unit (char16_t). Status values are
// plain constants; 0 (noErr) is success everywhere.
#pragma once

#include <cstdint>

typedef uint8_t UInt8;
typedef int8_t SInt8;
typedef uint16_t UInt16;
typedef int16_t SInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef uint64_t UInt64;
typedef int64_t SInt64;
typedef float Float32;
typedef double Float64;

typedef unsigned char Boolean;
typedef char16_t UniChar;
typedef unsigned long UniCharCount;
typedef uint32_t UTF32Char;
typedef uint32_t FourCharCode;
typedef FourCharCode OSType;

typedef int16_t OSErr;
typedef int32_t OSStatus;

#ifndef ORVIK_MACTYPES_STATUS_CODES
#define ORVIK_MACTYPES_STATUS_CODES
// Status codes that the platform layer reports. One list for every platform header.
enum : int16_t {
    noErr = 0,
    ioErr = -36,
    eofErr = -39,
    fnfErr = -43,
    wPrErr = -44,
    fLckdErr = -45,
    fBsyErr = -47,
    dupFNErr = -48,
    opWrErr = -49,
    paramErr = -50,
    permErr = -54,
    memFullErr = -108,
    dirNFErr = -120,
    afpAccessDenied = -5000,
    notAFileErr = -1302,
    diffVolErr = -1303,
    errFSBadFSRef = -1401,
    errFSBadForkName = -1403,
    errFSBadItemCount = -1408,
    errFSForkNotFound = -1409,
    errFSNoMoreItems = -1417,
};
#endif
