// Fuzzes the UCA printf family with formats built from the input. Every
// directive is matched to the argument of its position in a fixed argument
// list (int, 16-bit string, double, 8-bit string, long long, unsigned, int,
// 16-bit string), so the engine always reads arguments of the right type;
// between directives come arbitrary units, "%%", a trailing '%' and unknown
// conversions, which must not consume arguments. Checks: no crash or
// overrun, and every member of the family produces the same text.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzInput.h"
#include "strings/UcaString.h"

namespace {

using fuzzinput::check;
using fuzzinput::Input;

// The conversions each argument slot accepts.
const char* const kSlotConversions[8] = {"dixXocu", "S",    "feEgGaA", "s",
                                         "dixXu",   "uxXo", "dic",     "S"};
const char* const kSlotLength[8] = {"", "", "", "", "ll", "", "", ""};

std::u16string buildFormat(Input& in) {
    std::u16string fmt;
    int slot = 0;
    while (!in.empty() && fmt.size() < 200) {
        uint8_t op = in.byte();
        if (op < 0xA0) { // a literal unit (any value but '%', lone surrogates too)
            char16_t u = static_cast<char16_t>(op | (in.byte() << 8));
            if (u == u'%')
                u = u'!';
            if (u == 0)
                u = u' ';
            fmt += u;
        } else if (op < 0xB0) {
            fmt += u"%%";
        } else if (op < 0xB8) {
            const char* junk = "kyQwrWYK"; // no conversion, flag or length letter
            fmt += u'%';
            fmt += static_cast<char16_t>(junk[op & 7]);
        } else if (slot < 8) { // a directive for the next argument
            fmt += u'%';
            uint8_t flags = in.byte();
            const char* flagChars = "-+ #0";
            for (int i = 0; i < 5; ++i)
                if (flags & (1 << i))
                    fmt += static_cast<char16_t>(flagChars[i]);
            if (flags & 0x20)
                fmt += std::u16string(1, static_cast<char16_t>(u'1' + in.byte() % 9)) + u"0";
            if (flags & 0x40) {
                fmt += u'.';
                fmt += static_cast<char16_t>(u'0' + in.byte() % 10);
            }
            for (const char* l = kSlotLength[slot]; *l; ++l)
                fmt += static_cast<char16_t>(*l);
            const char* conv = kSlotConversions[slot];
            fmt += static_cast<char16_t>(conv[in.byte() % strlen(conv)]);
            ++slot;
        }
    }
    if (!in.empty() && (in.byte() & 1))
        fmt += u'%'; // a dangling '%'
    return fmt;
}

char16_t* formatRef(size_t* n, const char16_t* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    char16_t* out = ucaFormat(fmt, args, n);
    va_end(args);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    Input in{data, size};
    uint8_t split = in.byte();
    // Argument texts first, then the format from what is left.
    std::string narrow;
    for (int i = split % 16; i > 0 && !in.empty(); --i)
        narrow += static_cast<char>(in.byte() | 1);
    std::u16string wide;
    for (int i = (split >> 4); i > 0 && !in.empty(); --i)
        wide += static_cast<char16_t>(in.byte() | (in.byte() << 8) | 1);
    const size_t sizeChoice = in.byte();
    std::u16string fmt = buildFormat(in);
    if (getenv("UCAPRINTF_FUZZ_SHOW") != nullptr) { // to read a crash's format
        for (char16_t c : fmt)
            fprintf(stderr, c >= 0x20 && c < 0x7F ? "%c" : "\\u%04X", c);
        fprintf(stderr, "\n");
    }

    const int a0 = -12345, a6 = 65;
    const double a2 = 3.25e10;
    const long long a4 = -9000000000LL;
    const unsigned a5 = 0xBEEFu;
#define ARGS a0, wide.c_str(), a2, narrow.c_str(), a4, a5, a6, u"tail"

    // The reference text, through the formatting step itself.
    size_t refLen = 0;
    char16_t* ref = formatRef(&refLen, fmt.c_str(), ARGS);
    if (ref == nullptr) {
        // Nothing is written on failure, and every member fails the same way.
        char16_t probe[2] = {0x5A5A, 0x5A5A};
        check(snucaprintf(probe, 2, fmt.c_str(), ARGS) == -1 && probe[0] == 0x5A5A);
        check(sucaprintf(probe, fmt.c_str(), ARGS) == -1 && probe[0] == 0x5A5A);
        return 0;
    }
    // sucaprintf into a block of exactly the right size (asan sees any overrun).
    {
        std::vector<char16_t> exact(refLen + 1);
        check(sucaprintf(exact.data(), fmt.c_str(), ARGS) == static_cast<int>(refLen));
        check(memcmp(exact.data(), ref, (refLen + 1) * sizeof(char16_t)) == 0);
    }

    // snucaprintf: a prefix of size - 1 units and a zero, returning size.
    for (size_t sz : {static_cast<size_t>(1), sizeChoice + 1, refLen, refLen + 1, refLen + 2}) {
        if (sz == 0)
            continue;
        std::vector<char16_t> buf(sz + 2, 0x5A5A);
        check(snucaprintf(buf.data(), sz, fmt.c_str(), ARGS) == static_cast<int>(sz));
        size_t k = refLen < sz - 1 ? refLen : sz - 1;
        check(memcmp(buf.data(), ref, k * sizeof(char16_t)) == 0 && buf[k] == 0);
        for (size_t i = k + 1; i < sz + 2; ++i)
            check(buf[i] == 0x5A5A);
    }

    // fucaprintf: the raw units, no terminator.
    char* mem = nullptr;
    size_t memLen = 0;
    FILE* f = open_memstream(&mem, &memLen);
    if (f != nullptr) {
        int n = fucaprintf(f, fmt.c_str(), ARGS);
        fclose(f);
        check(n == static_cast<int>(refLen) && memLen == refLen * 2);
        check(memcmp(mem, ref, memLen) == 0);
        free(mem);
    }

    // The unsigned short twin gives the same units.
    std::vector<unsigned short> twin(refLen + 1);
    check(sucaprintf(twin.data(), reinterpret_cast<const unsigned short*>(fmt.c_str()), ARGS) ==
          static_cast<int>(refLen));
    check(memcmp(twin.data(), ref, (refLen + 1) * 2) == 0);
#undef ARGS
    delete[] ref;
    return 0;
}
