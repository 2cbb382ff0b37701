// Feeds arbitrary bytes to the Unicode conversion routines as UTF-8, UTF-16
// and UTF-32, with target sizes chosen by the input, and checks what must hold
// whatever the input: no write outside the target, pointers inside their
// ranges, UTF-8 and UTF-32 decoders agreeing, lossless round trips of what
// converted, and strict UTF-8 validity exactly as ICU judges it.
#include <unicode/ustring.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzInput.h"
#include "strings/ConvertUTF.h"

namespace {

using fuzzinput::check;

// memcmp and memcpy that accept the null data() of empty vectors.
bool same(const void* a, const void* b, size_t n) {
    return n == 0 || memcmp(a, b, n) == 0;
}
void copy(void* dst, const void* src, size_t n) {
    if (n != 0)
        memcpy(dst, src, n);
}

template <class Src, class Dst, class Fn>
ConversionResult run(Fn fn, const std::vector<Src>& src, size_t room, std::vector<Dst>& out,
                     size_t& consumed, ConversionFlags flags) {
    std::vector<Dst> buf(room + 4, static_cast<Dst>(0x5A));
    const Src* s = src.data();
    Dst* t = buf.data();
    ConversionResult r = fn(&s, src.data() + src.size(), &t, buf.data() + room, flags);
    check(s >= src.data() && s <= src.data() + src.size());
    check(t >= buf.data() && t <= buf.data() + room);
    for (size_t i = room; i < room + 4; ++i)
        check(buf[i] == static_cast<Dst>(0x5A));
    check(r >= conversionOK && r <= sourceIllegal);
    out.assign(buf.data(), t);
    consumed = static_cast<size_t>(s - src.data());
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const ConversionFlags flags = (data[0] & 1) ? lenientConversion : strictConversion;
    const size_t room = (data[0] & 0x80) ? size * 4 : (data[0] >> 1) % 16;
    std::vector<UTF8> u8(data + 1, data + size);

    // UTF-8 in: the UTF-16 and UTF-32 decoders stop at the same byte with the
    // same result when the target is large enough for both.
    std::vector<UTF16> o16;
    std::vector<UTF32> o32;
    size_t c16 = 0, c32 = 0;
    ConversionResult r16 =
        run<UTF8, UTF16>(ConvertUTF8toUTF16, u8, u8.size() * 2 + 2, o16, c16, flags);
    ConversionResult r32 = run<UTF8, UTF32>(ConvertUTF8toUTF32, u8, u8.size() + 1, o32, c32, flags);
    check(r16 == r32 && c16 == c32);
    check(r16 != targetExhausted);

    // Strict validity agrees with ICU, and what decoded re-encodes to the same bytes.
    if (flags == strictConversion) {
        UErrorCode err = U_ZERO_ERROR;
        std::vector<UChar> icu(u8.size() + 1);
        int32_t icuLen = 0;
        u_strFromUTF8(icu.data(), static_cast<int32_t>(icu.size()), &icuLen,
                      reinterpret_cast<const char*>(u8.data()), static_cast<int32_t>(u8.size()),
                      &err);
        check((r16 == conversionOK) == static_cast<bool>(U_SUCCESS(err)));
        if (r16 == conversionOK) {
            check(o16.size() == static_cast<size_t>(icuLen) &&
                  same(o16.data(), icu.data(), o16.size() * 2));
        }
    }
    std::vector<UTF8> back;
    size_t cb = 0;
    std::vector<UTF16> prefix16(o16);
    if (run<UTF16, UTF8>(ConvertUTF16toUTF8, prefix16, c16 + 4, back, cb, strictConversion) ==
        conversionOK) {
        check(back.size() == c16 && same(back.data(), u8.data(), c16));
    }

    // Small targets: whatever was produced is a prefix of the full result.
    std::vector<UTF16> small16;
    size_t cs = 0;
    ConversionResult rs = run<UTF8, UTF16>(ConvertUTF8toUTF16, u8, room, small16, cs, flags);
    check(small16.size() <= o16.size() && std::equal(small16.begin(), small16.end(), o16.begin()));
    check(cs <= c16);
    if (rs == conversionOK)
        check(small16 == o16);

    // The same bytes as UTF-16 units and as UTF-32 values.
    std::vector<UTF16> in16(u8.size() / 2);
    copy(in16.data(), u8.data(), in16.size() * 2);
    std::vector<UTF32> in32(u8.size() / 4);
    copy(in32.data(), u8.data(), in32.size() * 4);

    std::vector<UTF8> e8;
    std::vector<UTF32> e32;
    size_t ce8 = 0, ce32 = 0;
    ConversionResult a =
        run<UTF16, UTF8>(ConvertUTF16toUTF8, in16, in16.size() * 3 + 1, e8, ce8, flags);
    ConversionResult b =
        run<UTF16, UTF32>(ConvertUTF16toUTF32, in16, in16.size() + 1, e32, ce32, flags);
    check(a == b && ce8 == ce32);
    run<UTF16, UTF8>(ConvertUTF16toUTF8, in16, room, e8, ce8, flags);
    run<UTF16, UTF32>(ConvertUTF16toUTF32, in16, room, e32, ce32, flags);

    std::vector<UTF16> f16;
    std::vector<UTF8> f8;
    size_t cf16 = 0, cf8 = 0;
    run<UTF32, UTF16>(ConvertUTF32toUTF16, in32, in32.size() * 2 + 1, f16, cf16, flags);
    run<UTF32, UTF8>(ConvertUTF32toUTF8, in32, in32.size() * 4 + 1, f8, cf8, flags);
    run<UTF32, UTF16>(ConvertUTF32toUTF16, in32, room, f16, cf16, flags);
    run<UTF32, UTF8>(ConvertUTF32toUTF8, in32, room, f8, cf8, flags);

    // The sequence check never reads past the end it is given.
    if (!u8.empty()) {
        std::vector<UTF8> exact(u8);
        (void)isLegalUTF8Sequence(exact.data(), exact.data() + exact.size());
    }

    unsigned char pstr[256];
    std::vector<char> cstr(data + 1, data + size);
    cstr.push_back(0);
    CToPStr(pstr, cstr.data());
    check(pstr[0] == 255 || pstr[0] == strlen(cstr.data()));
    in16.push_back(0);
    WideToPStr(pstr, in16.data());
    return 0;
}
