// Platform string costs as the string classes pay them: each operation makes its
// platform strings from the units (a copy), works, and releases them. Each benchmark
// sits beside its std::u16string or snprintf counterpart so the ratio reads off one run.
#include "platform/CoreFoundation.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

std::u16string haystack(size_t n) {
    std::u16string s;
    for (size_t i = 0; i < n; ++i)
        s.push_back(static_cast<char16_t>(u'a' + (i * 7) % 26));
    s += u"needle";
    return s;
}

CFStringRef make(const std::u16string& s) {
    return CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar*>(s.data()),
                                        static_cast<CFIndex>(s.size()));
}

void BM_CFFind(benchmark::State& st) {
    std::u16string h = haystack(static_cast<size_t>(st.range(0)));
    std::u16string n = u"needle";
    for (auto _ : st) {
        CFStringRef hs = make(h), ns = make(n);
        CFRange r;
        bool found = CFStringFindWithOptions(hs, ns, CFRangeMake(0, CFStringGetLength(hs)), 0, &r);
        benchmark::DoNotOptimize(found);
        benchmark::DoNotOptimize(r);
        CFRelease(hs);
        CFRelease(ns);
    }
}
void BM_U16Find(benchmark::State& st) {
    std::u16string h = haystack(static_cast<size_t>(st.range(0)));
    std::u16string n = u"needle";
    for (auto _ : st)
        benchmark::DoNotOptimize(h.find(n));
}
BENCHMARK(BM_CFFind)->Arg(16)->Arg(1000);
BENCHMARK(BM_U16Find)->Arg(16)->Arg(1000);

void BM_CFCompare(benchmark::State& st) {
    std::u16string a = haystack(static_cast<size_t>(st.range(0))), b = a;
    b.back() = u'x';
    for (auto _ : st) {
        CFStringRef x = make(a), y = make(b);
        benchmark::DoNotOptimize(CFStringCompare(x, y, 0));
        CFRelease(x);
        CFRelease(y);
    }
}
void BM_CFCompareNoCase(benchmark::State& st) {
    std::u16string a = haystack(static_cast<size_t>(st.range(0))), b = a;
    for (auto& c : b)
        c = static_cast<char16_t>(c >= u'a' && c <= u'z' ? c - 32 : c);
    for (auto _ : st) {
        CFStringRef x = make(a), y = make(b);
        benchmark::DoNotOptimize(CFStringCompare(x, y, kCFCompareCaseInsensitive));
        CFRelease(x);
        CFRelease(y);
    }
}
void BM_U16Compare(benchmark::State& st) {
    std::u16string a = haystack(static_cast<size_t>(st.range(0))), b = a;
    b.back() = u'x';
    for (auto _ : st)
        benchmark::DoNotOptimize(a.compare(b));
}
BENCHMARK(BM_CFCompare)->Arg(16)->Arg(1000);
BENCHMARK(BM_CFCompareNoCase)->Arg(16)->Arg(1000);
BENCHMARK(BM_U16Compare)->Arg(16)->Arg(1000);

void BM_CFFormat(benchmark::State& st) {
    CFStringRef fmt = CFSTR("%s%d");
    for (auto _ : st) {
        CFStringRef s = CFStringCreateWithFormat(nullptr, nullptr, fmt,
                                                 "/Applications/Some Folder/file", 12345);
        benchmark::DoNotOptimize(s);
        CFRelease(s);
    }
}
void BM_Snprintf(benchmark::State& st) {
    char buf[256];
    for (auto _ : st) {
        int n = std::snprintf(buf, sizeof buf, "%s%d", "/Applications/Some Folder/file", 12345);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(buf);
    }
}
BENCHMARK(BM_CFFormat);
BENCHMARK(BM_Snprintf);

} // namespace

BENCHMARK_MAIN();
