// The Unicode conversions beside ICU's. Each runs twice, "<Op>/ours" and
// "<Op>/reference"; after the run a table gives ours / reference per operation.
// The text mixes one- to four-byte characters the way file names do (mostly
// ASCII, some Latin, some CJK, a few supplementary characters); 64 KiB of it.
//
//   build-release/bin/convert_utf_bench
#include "bench/BenchRatios.h"

#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "strings/ConvertUTF.h"
#include "strings/UcaString.h"

namespace {

const std::u16string& text16() {
    static const std::u16string text = [] {
        const std::u16string piece =
            u"/Users/\u00E9l\u00E8ve/Documents/\u65E5\u672C\u8A9E/report \U0001F600 v2.txt";
        std::u16string t;
        while (t.size() < 32768)
            t += piece;
        return t;
    }();
    return text;
}

const std::string& text8() {
    static const std::string text = [] {
        const std::u16string& t = text16();
        std::string out(t.size() * 3, '\0');
        int32_t len = 0;
        UErrorCode err = U_ZERO_ERROR;
        u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &len, t.data(),
                    static_cast<int32_t>(t.size()), &err);
        out.resize(len);
        return out;
    }();
    return text;
}

void Utf8To16Ours(benchmark::State& state) {
    const std::string& in = text8();
    std::vector<UTF16> out(in.size());
    for (auto _ : state) {
        const UTF8* s = reinterpret_cast<const UTF8*>(in.data());
        UTF16* t = out.data();
        benchmark::DoNotOptimize(
            ConvertUTF8toUTF16(&s, s + in.size(), &t, t + out.size(), strictConversion));
        benchmark::DoNotOptimize(t);
    }
    state.SetBytesProcessed(state.iterations() * in.size());
}
void Utf8To16Reference(benchmark::State& state) {
    const std::string& in = text8();
    std::vector<UChar> out(in.size());
    for (auto _ : state) {
        int32_t len = 0;
        UErrorCode err = U_ZERO_ERROR;
        u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &len, in.data(),
                      static_cast<int32_t>(in.size()), &err);
        benchmark::DoNotOptimize(len);
    }
    state.SetBytesProcessed(state.iterations() * in.size());
}

void Utf16To8Ours(benchmark::State& state) {
    const std::u16string& in = text16();
    std::vector<UTF8> out(in.size() * 3);
    for (auto _ : state) {
        const UTF16* s = in.data();
        UTF8* t = out.data();
        benchmark::DoNotOptimize(
            ConvertUTF16toUTF8(&s, s + in.size(), &t, t + out.size(), strictConversion));
        benchmark::DoNotOptimize(t);
    }
    state.SetBytesProcessed(state.iterations() * in.size() * 2);
}
void Utf16To8Reference(benchmark::State& state) {
    const std::u16string& in = text16();
    std::vector<char> out(in.size() * 3);
    for (auto _ : state) {
        int32_t len = 0;
        UErrorCode err = U_ZERO_ERROR;
        u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &len, in.data(),
                    static_cast<int32_t>(in.size()), &err);
        benchmark::DoNotOptimize(len);
    }
    state.SetBytesProcessed(state.iterations() * in.size() * 2);
}

// The WCA32 round trip of the UCA functions against ICU's UTF-32 pair.
void Wide32RoundTripOurs(benchmark::State& state) {
    const std::u16string& in = text16();
    for (auto _ : state) {
        wchar_t* w = makeWCA32FromUCA(in.c_str());
        char16_t* back = makeUCAFromWCA32(w);
        benchmark::DoNotOptimize(back);
        delete[] back;
        freeWCA32Str(w);
    }
}
void Wide32RoundTripReference(benchmark::State& state) {
    const std::u16string& in = text16();
    for (auto _ : state) {
        std::vector<UChar32> w(in.size() + 1);
        int32_t len = 0;
        UErrorCode err = U_ZERO_ERROR;
        u_strToUTF32(w.data(), static_cast<int32_t>(w.size()), &len, in.data(),
                     static_cast<int32_t>(in.size()), &err);
        std::vector<UChar> back(in.size() + 1);
        int32_t len16 = 0;
        u_strFromUTF32(back.data(), static_cast<int32_t>(back.size()), &len16, w.data(), len, &err);
        benchmark::DoNotOptimize(back.data());
    }
}

} // namespace

int main(int argc, char** argv) {
    return benchratios::RunPairs(
        argc, argv,
        {
            {"Utf8To16", Utf8To16Ours, Utf8To16Reference},
            {"Utf16To8", Utf16To8Ours, Utf16To8Reference},
            {"Wide32RoundTrip", Wide32RoundTripOurs, Wide32RoundTripReference},
        });
}
