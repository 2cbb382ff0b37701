// The string classes beside their standard-library counterparts. Each operation runs twice,
// "<Op>/ours" and "<Op>/reference"; after the run a table gives ours / reference per operation
// (medians of CPU time over the repetitions).
//
//   build-release/bin/strings_bench                 # all
//   build-release/bin/strings_bench --benchmark_filter=Find
#include "strings/AtlString.h"

#include "bench/BenchRatios.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

// A path of the kind the system searches and compares (about 90 units).
const char16_t kPath[] =
    u"/Applications/ORVIK Tandro Riravor/Resources/English.lproj/Uninstall/Contents/Info.plist";
const char kPath8[] =
    "/Applications/ORVIK Tandro Riravor/Resources/English.lproj/Uninstall/Contents/Info.plist";
const char16_t kWinPath[] =
    u"C:\\Program Files\\ORVIK\\Tandro Riravor\\Resources\\English.lproj\\Info.plist";

// ---- Find: a substring near the end, and one unit --------------------------------------------

void FindSubOurs(benchmark::State& state) {
    CAtlString s(kPath);
    for (auto _ : state)
        benchmark::DoNotOptimize(s.Find(u"Contents"));
}
void FindSubReference(benchmark::State& state) {
    std::u16string s(kPath);
    for (auto _ : state)
        benchmark::DoNotOptimize(s.find(u"Contents"));
}
void FindUnitOurs(benchmark::State& state) {
    CAtlString s(kPath);
    for (auto _ : state)
        benchmark::DoNotOptimize(s.Find(u'I', 20));
}
void FindUnitReference(benchmark::State& state) {
    std::u16string s(kPath);
    for (auto _ : state)
        benchmark::DoNotOptimize(s.find(u'I', 20));
}

// ---- Append in a loop: 64 pieces onto an empty string (exact-fit growth on our side) --------

void AppendOurs(benchmark::State& state) {
    for (auto _ : state) {
        CAtlString s;
        for (int i = 0; i < 64; ++i)
            s += u"abc/";
        benchmark::DoNotOptimize(s.GetString());
    }
}
void AppendReference(benchmark::State& state) {
    for (auto _ : state) {
        std::u16string s;
        for (int i = 0; i < 64; ++i)
            s += u"abc/";
        benchmark::DoNotOptimize(s.data());
    }
}

// ---- Format "%s%d" ------------------------------------------------------------------------------

void FormatOurs(benchmark::State& state) {
    CAtlString s;
    for (auto _ : state) {
        s.Format(u"%s%d", kPath, 42);
        benchmark::DoNotOptimize(s.GetString());
    }
}
void FormatAOurs(benchmark::State& state) {
    CAtlStringA s;
    for (auto _ : state) {
        s.Format("%s%d", kPath8, 42);
        benchmark::DoNotOptimize(s.GetString());
    }
}
void FormatReference(benchmark::State& state) {
    char buf[256];
    for (auto _ : state) {
        snprintf(buf, sizeof buf, "%s%d", kPath8, 42);
        benchmark::DoNotOptimize(buf);
    }
}

// ---- Compare and CompareNoCase (strings equal up to the last unit) -----------------------------

const char16_t kOther[] =
    u"/Applications/ORVIK Tandro Riravor/Resources/English.lproj/Uninstall/Contents/Info.plisT";
const char16_t kUpper[] =
    u"/APPLICATIONS/ORVIK TANDRO RIRAVOR/RESOURCES/ENGLISH.LPROJ/UNINSTALL/CONTENTS/INFO.PLIST";

void CompareOurs(benchmark::State& state) {
    CAtlString a(kPath), b(kOther);
    for (auto _ : state)
        benchmark::DoNotOptimize(a.Compare(b));
}
void CompareReference(benchmark::State& state) {
    std::u16string a(kPath), b(kOther);
    for (auto _ : state)
        benchmark::DoNotOptimize(a.compare(b));
}

// A zero-terminated operand goes through the platform collation instead.
void CollateOurs(benchmark::State& state) {
    CAtlString a(kPath);
    for (auto _ : state)
        benchmark::DoNotOptimize(a.Compare(kOther));
}

char16_t FoldAscii(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
}

void CompareNoCaseOurs(benchmark::State& state) {
    CAtlString a(kPath), b(kUpper);
    for (auto _ : state)
        benchmark::DoNotOptimize(a.CompareNoCase(b));
}
void CompareNoCaseReference(benchmark::State& state) {
    std::u16string a(kPath), b(kUpper);
    for (auto _ : state) {
        bool less = std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(),
            [](char16_t x, char16_t y) { return FoldAscii(x) < FoldAscii(y); });
        benchmark::DoNotOptimize(less);
    }
}

// ---- Replace every backslash-separated run ----------------------------------------------------

void ReplaceOurs(benchmark::State& state) {
    for (auto _ : state) {
        CAtlString s(kWinPath);
        benchmark::DoNotOptimize(s.Replace(u"\\", u"/"));
    }
}
void ReplaceReference(benchmark::State& state) {
    const std::u16string from = u"\\", to = u"/";
    for (auto _ : state) {
        std::u16string s(kWinPath);
        std::u16string out;
        int n = 0;
        size_t done = 0;
        for (size_t at = s.find(from); at != std::u16string::npos; at = s.find(from, done)) {
            out.append(s, done, at - done).append(to);
            done = at + from.size();
            ++n;
        }
        out.append(s, done, std::u16string::npos);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(out.data());
    }
}

} // namespace

int main(int argc, char** argv) {
    // By default each benchmark runs five times, interleaved at random with the others, so that
    // load on a shared machine falls on both sides of a ratio alike; flags given override these.
    return benchratios::RunPairs(argc, argv,
                                 {
                                     {"Find", FindSubOurs, FindSubReference},
                                     {"FindUnit", FindUnitOurs, FindUnitReference},
                                     {"Append", AppendOurs, AppendReference},
                                     {"Format", FormatOurs, FormatReference},
                                     {"FormatA", FormatAOurs, FormatReference},
                                     {"Compare", CompareOurs, CompareReference},
                                     {"CompareNoCase", CompareNoCaseOurs, CompareNoCaseReference},
                                     {"Collate", CollateOurs, CompareReference},
                                     {"Replace", ReplaceOurs, ReplaceReference},
                                 },
                                 {"--benchmark_repetitions=5",
                                  "--benchmark_enable_random_interleaving=true",
                                  "--benchmark_report_aggregates_only=true"});
}
