// Path text between UTF-16 and bytes. Paths are mostly ASCII: each direction
// copies a run of ASCII straight into a buffer sized for it and only falls to
// the per-character work at the first other unit or byte.
#include "platform/PathBytes.h"

#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvik::pathbytes {

bool IsValidUtf8(const char* bytes, size_t length) {
    auto p = reinterpret_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < length;) {
        if (p[i] < 0x80) {
            ++i;
            continue;
        }
        const size_t len = SequenceLength(p + i, length - i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

bool EncodePathBytes(const char16_t* units, size_t count, std::string& out) {
    out.resize(count);
    char* ascii = out.data();
    size_t i = 0;
    // Eight units a step while all are ASCII: deep paths are long.
#if defined(__SSE2__)
    const __m128i notAscii = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    for (; i + 8 <= count; i += 8) {
        const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(eight, notAscii), zero)) != 0xFFFF)
            break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(ascii + i), _mm_packus_epi16(eight, eight));
    }
#endif
    while (i < count && units[i] < 0x80) {
        ascii[i] = char(units[i]);
        ++i;
    }
    if (i == count)
        return true;
    out.resize(i);
    out.reserve(i + (count - i) * 3);
    for (; i < count; ++i) {
        uint32_t c = units[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xDC80 && c <= 0xDCFF) {
            out.push_back(char(c & 0xFF)); // an escaped byte
            continue;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return false;
        }
        if (c < 0x80) {
            out.push_back(char(c));
        } else if (c < 0x800) {
            out.push_back(char(0xC0 | (c >> 6)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(char(0xE0 | (c >> 12)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        } else {
            out.push_back(char(0xF0 | (c >> 18)));
            out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(char(0x80 | (c & 0x3F)));
        }
    }
    return true;
}

void DecodePathBytes(std::string_view bytes, std::u16string& out) {
    out.resize(bytes.size()); // never more units than bytes
    char16_t* units = out.data();
    size_t n = 0;
    DecodePathBytes(bytes, [&](char16_t unit) { units[n++] = unit; });
    out.resize(n);
}

} // namespace orvik::pathbytes
