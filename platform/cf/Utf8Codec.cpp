// Whole texts through the codec. Each direction copies a run of ASCII straight into a
// buffer sized for it and only falls to the per-character work at the first other unit
// or byte; a buffer is sized once for the worst case and trimmed at the end.
#include "platform/cf/Utf8Codec.h"

namespace orvik::utf8 {

bool IsValid(const char* bytes, size_t length) {
    auto p = reinterpret_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < length;) {
        if (p[i] < 0x80) {
            i += asciiPrefix(p + i, length - i);
            continue;
        }
        const size_t len = SequenceLength(p + i, length - i);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

namespace {

// One loop for counting and one for writing: the choice is made once, not per character.
template <bool Write> ptrdiff_t decodeStrict(const unsigned char* p, size_t n, char16_t* out) {
    size_t units = 0;
    for (size_t i = 0; i < n;) {
        if (p[i] < 0x80) {
            const size_t run =
                Write ? widenAscii(p + i, n - i, out + units) : asciiPrefix(p + i, n - i);
            units += run;
            i += run;
            continue;
        }
        size_t length;
        const UChar32 c = CodePointAt(p + i, n - i, length);
        if (c < 0)
            return -1;
        i += length;
        if (Write)
            U16_APPEND_UNSAFE(out, units, c);
        else
            units += U16_LENGTH(c);
    }
    return static_cast<ptrdiff_t>(units);
}

} // namespace

ptrdiff_t DecodeStrict(const unsigned char* p, size_t n, char16_t* out) {
    return out != nullptr ? decodeStrict<true>(p, n, out) : decodeStrict<false>(p, n, nullptr);
}

void DecodePath(std::string_view bytes, std::u16string& out) {
    out.resize(bytes.size()); // never more units than bytes
    char16_t* units = out.data();
    size_t count = 0;
    auto put = [&](char16_t unit) { units[count++] = unit; };
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    for (size_t i = 0; i < n;) {
        if (p[i] < 0x80) {
            const size_t run = widenAscii(p + i, n - i, units + count);
            count += run;
            i += run;
        } else {
            i += DecodeEscapedAt(p + i, n - i, put);
        }
    }
    out.resize(count);
}

bool EncodePath(const char16_t* units, size_t count, std::string& out) {
    out.resize(count);
    size_t i = narrowAscii(units, count, reinterpret_cast<unsigned char*>(out.data()));
    if (i == count)
        return true;
    // At most three bytes a unit: a pair's four bytes stand for two units.
    out.resize(i + (count - i) * 3);
    auto bytes = reinterpret_cast<unsigned char*>(out.data());
    size_t n = i;
    for (; i < count; ++i) {
        UChar32 c = units[i];
        if (c < 0x80) {
            bytes[n++] = static_cast<unsigned char>(c);
            continue;
        }
        if (U16_IS_SURROGATE(c)) {
            if (U16_IS_SURROGATE_LEAD(c) && i + 1 < count && U16_IS_TRAIL(units[i + 1])) {
                c = U16_GET_SUPPLEMENTARY(c, units[i + 1]);
                ++i;
            } else if (c >= 0xDC80 && c <= 0xDCFF) {
                bytes[n++] = static_cast<unsigned char>(c & 0xFF); // an escaped byte
                continue;
            } else {
                return false;
            }
        }
        U8_APPEND_UNSAFE(bytes, n, c);
    }
    out.resize(n);
    return true;
}

std::string EncodeForDisplay(const char16_t* units, size_t count) {
    std::string out(count * 3, '\0'); // a pair's four bytes stand for two units
    auto bytes = reinterpret_cast<unsigned char*>(out.data());
    size_t i = narrowAscii(units, count, bytes);
    size_t n = i;
    while (i < count) {
        UChar32 c;
        U16_NEXT(units, i, count, c);
        if (U_IS_SURROGATE(c))
            c = 0xFFFD;
        U8_APPEND_UNSAFE(bytes, n, c);
    }
    out.resize(n);
    return out;
}

} // namespace orvik::utf8
