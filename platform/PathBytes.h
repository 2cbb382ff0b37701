// Path text between UTF-16 and bytes, as the file manager and file URLs both
// see it: UTF-8, except that a byte that is not part of valid UTF-8 travels as
// the lone surrogate U+DC80..U+DCFF, so a name on disk that is not UTF-8
// survives the round trip. Private to platform/.
//
//   EncodePathBytes(u"caf\u00E9/\xDC80")  -> "caf\xC3\xA9/\x80"
//   DecodePathBytes("caf\xC3\xA9/\x80")   -> u"caf\u00E9/\xDC80"
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvik::pathbytes {

// Length of the valid UTF-8 sequence at p (1..4), or 0 when the byte there
// does not start one (overlong forms, surrogates and values past U+10FFFF
// included).
inline size_t SequenceLength(const unsigned char* p, size_t left) {
    const unsigned char b = p[0];
    if (b < 0x80)
        return 1;
    auto cont = [&](size_t i, unsigned char lo, unsigned char hi) {
        return i < left && p[i] >= lo && p[i] <= hi;
    };
    if (b >= 0xC2 && b <= 0xDF)
        return cont(1, 0x80, 0xBF) ? 2 : 0;
    if (b == 0xE0)
        return cont(1, 0xA0, 0xBF) && cont(2, 0x80, 0xBF) ? 3 : 0;
    if ((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF)
        return cont(1, 0x80, 0xBF) && cont(2, 0x80, 0xBF) ? 3 : 0;
    if (b == 0xED)
        return cont(1, 0x80, 0x9F) && cont(2, 0x80, 0xBF) ? 3 : 0;
    if (b == 0xF0)
        return cont(1, 0x90, 0xBF) && cont(2, 0x80, 0xBF) && cont(3, 0x80, 0xBF) ? 4 : 0;
    if (b >= 0xF1 && b <= 0xF3)
        return cont(1, 0x80, 0xBF) && cont(2, 0x80, 0xBF) && cont(3, 0x80, 0xBF) ? 4 : 0;
    if (b == 0xF4)
        return cont(1, 0x80, 0x8F) && cont(2, 0x80, 0xBF) && cont(3, 0x80, 0xBF) ? 4 : 0;
    return 0;
}

bool IsValidUtf8(const char* bytes, size_t length);

// The bytes of `count` units into out (replacing its content); false for a
// lone surrogate outside U+DC80..U+DCFF, which no byte stands for.
bool EncodePathBytes(const char16_t* units, size_t count, std::string& out);

// Calls put(unit) for every unit the bytes decode to.
template <typename Put> void DecodePathBytes(std::string_view bytes, Put put) {
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        if (p[i] < 0x80) {
            put(char16_t(p[i++]));
            continue;
        }
        const size_t len = SequenceLength(p + i, n - i);
        if (len == 0) {
            put(char16_t(0xDC00 | p[i]));
            i += 1;
            continue;
        }
        uint32_t c;
        switch (len) {
        case 2:
            c = (p[i] & 0x1Fu) << 6 | (p[i + 1] & 0x3Fu);
            break;
        case 3:
            c = (p[i] & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6 | (p[i + 2] & 0x3Fu);
            break;
        default:
            c = (p[i] & 0x07u) << 18 | (p[i + 1] & 0x3Fu) << 12 | (p[i + 2] & 0x3Fu) << 6 |
                (p[i + 3] & 0x3Fu);
        }
        if (c >= 0x10000) {
            put(char16_t(0xD800 + ((c - 0x10000) >> 10)));
            put(char16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            put(char16_t(c));
        }
        i += len;
    }
}

// The units of the bytes into out (replacing its content).
void DecodePathBytes(std::string_view bytes, std::u16string& out);

} // namespace orvik::pathbytes
