// The encodings the platform knows and how each one converts: UTF-8, UTF-16, UTF-32, ASCII
// and ISO Latin-1 by hand; single-byte encodings through two lookup tables built from ICU
// once, on first use; every other one through an ICU converter. Private to CFEncoding*.cpp.
#pragma once

#include "platform/CoreFoundation.h"

#include <unicode/ucnv.h>

#include <atomic>
#include <cstdint>
#include <memory>

namespace orvik::cf::encoding {

enum class Kind { Unknown, UTF8, Latin1, ASCII, UTF16, UTF32, SingleByte, Multi };

struct SingleByteTable {
    UniChar toUnicode[256];
    bool valid[256];
    std::unique_ptr<uint16_t[]> fromUnicode; // 65536 entries; 0xFFFF: not in the encoding
    bool asciiSame;                          // bytes 0..0x7F are ASCII
};

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// An ICU converter that stops at the first character it cannot convert, either way; NULL
// when ICU has no converter of that name.
Converter openStopping(const char* name);

// The kind of an encoding that is neither hand-written nor a cached table: SingleByte with
// *table, Multi with *icuName, or Unknown.
Kind tableKindOf(CFStringEncoding enc, const SingleByteTable** table, const char** icuName);

// Mac OS Roman's table once built: the 8-bit strings of the string classes convert through
// it on every call, so it is found without the search through the encodings.
extern std::atomic<const SingleByteTable*> gMacRomanTable;

// How enc converts: SingleByte with *table, Multi with *icuName; Unknown when it cannot.
inline Kind kindOf(CFStringEncoding enc, const SingleByteTable** table, const char** icuName) {
    if (enc == kCFStringEncodingMacRoman) {
        if (const SingleByteTable* t = gMacRomanTable.load(std::memory_order_acquire)) {
            *table = t;
            return Kind::SingleByte;
        }
    }
    switch (enc) {
    case kCFStringEncodingUTF8:
        return Kind::UTF8;
    case kCFStringEncodingISOLatin1:
        return Kind::Latin1;
    case kCFStringEncodingASCII:
        return Kind::ASCII;
    case kCFStringEncodingUTF16:
    case kCFStringEncodingUTF16BE:
    case kCFStringEncodingUTF16LE:
        return Kind::UTF16;
    case kCFStringEncodingUTF32:
    case kCFStringEncodingUTF32BE:
    case kCFStringEncodingUTF32LE:
        return Kind::UTF32;
    default:
        return tableKindOf(enc, table, icuName);
    }
}

} // namespace orvik::cf::encoding
