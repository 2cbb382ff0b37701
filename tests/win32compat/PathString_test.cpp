// Path strings: extensions, separators, appending at the length limit, dots folded.
#include <string>

#include <gtest/gtest.h>

#include "tests/win32compat/FileTestSupport.h"
#include "win32compat/PathString.h"

namespace {

using namespace testsupport;
using namespace filetest;

// The 16-bit twins forward to the char16_t functions, so the tables go through the twins
// and reach both; the helpers the twins do not share are called once each.
// A 300-unit buffer filled with a sentinel beyond the text, to see what a call writes.
struct Buffer {
    explicit Buffer(const std::u16string& text) : units(text + u'\0') { units.resize(300, u'#'); }
    unsigned short* us() { return reinterpret_cast<unsigned short*>(units.data()); }
    std::u16string str() const { return units.c_str(); }
    std::u16string units;
};

// PathRenameExtension writes `ext` after the dot; `renamed` empty: FALSE, the path
// untouched. With the dot at index 240, 240 + 18 + 2 = 260 fits, one unit more does not.
TEST(PathString, Extensions) {
    const std::u16string base = std::u16string(240, u'a') + u".x", e18(18, u'e');
    const struct {
        std::u16string path, ext, renamed;
        int index;
    } rows[] = {{u"a.b/c", u"doc", u"", -1},         {u"a/b.c.d", u"doc", u"a/b.c.doc", 5},
                {u".profile", u"doc", u".doc", 0},   {u"noext", u"doc", u"", -1},
                {u"a\\b.c", u"doc", u"a\\b.doc", 3}, {base, e18, base.substr(0, 241) + e18, 240},
                {base, e18 + u"e", u"", 240}};
    for (const auto& r : rows) {
        Buffer b(r.path), renamed(r.path);
        EXPECT_EQ(GetExtensionIndex(r.path.c_str()), r.index) << r.index;
        EXPECT_EQ(PathFindExtension(b.us()), r.index < 0 ? nullptr : b.us() + r.index);
        PathRemoveExtension(b.units.data());
        EXPECT_EQ(b.str(), r.path.substr(0, r.index < 0 ? 999 : r.index));
        EXPECT_EQ(PathRenameExtension(renamed.us(), US(r.ext.c_str())),
                  r.renamed.empty() ? FALSE : TRUE);
        EXPECT_EQ(renamed.str(), r.renamed.empty() ? r.path : r.renamed);
    }
    Buffer twin(u"a/b.c");
    PathRemoveExtension(twin.us());
    char narrow[] = "a/b.c";
    PathRemoveExtensionA(narrow);
    EXPECT_EQ(twin.str() + u" " + Widen(narrow), u"a/b a/b");
    EXPECT_EQ(GetExtensionIndex(US(u"x.y")) * 10 + GetExtensionIndexA("x/y.z"), 13);
    EXPECT_EQ(PathRenameExtension(Buffer(u"f.txt").units.data(), nullptr), TRUE);
}

TEST(PathString, SeparatorsAndLastComponent) {
    // PathAddBackslash, PathRemoveBackslash (its end at trimmedEnd), PathFindFileName's
    // offset, PathRemoveFileSpec (null: FALSE).
    const std::tuple<const char16_t*, const char16_t*, const char16_t*, int, int, const char16_t*>
        rows[] = {{u"a//", u"a//", u"a", 1, 0, u"a"},
                  {u"/", u"/", u"/", 1, 1, u"/"},
                  {u"", u"/", u"", 0, 0, nullptr},
                  {u"abc", u"abc/", u"abc", 3, 0, u""},
                  {u"a/b/", u"a/b/", u"a/b", 3, 2, u"a/b"},
                  {u"/abc", u"/abc/", u"/abc", 4, 1, u""},
                  {u"a/b/c", u"a/b/c/", u"a/b/c", 5, 4, u"a/b"}};
    for (const auto& [in, added, trimmed, trimmedEnd, fileName, parent] : rows) {
        Buffer add(in), trim(in), cut(in);
        EXPECT_EQ(PathAddBackslash(add.us()), add.us());
        EXPECT_EQ(add.units.substr(0, add.str().size() + 2), added + std::u16string(u"\0#", 2));
        EXPECT_EQ(PathRemoveBackslash(trim.us()), trim.us() + trimmedEnd);
        EXPECT_EQ(trim.str(), trimmed);
        EXPECT_EQ(PathFindFileName(US(in)), US(in) + fileName);
        EXPECT_EQ(PathRemoveFileSpec(cut.us()), parent != nullptr ? TRUE : FALSE);
        EXPECT_EQ(cut.str(), parent != nullptr ? parent : in);
    }
}

TEST(PathString, AppendJoinsWithOneSeparatorAndStopsAt260) {
    // Path, what is appended, the result (empty: refused, the path unchanged).
    const std::tuple<std::u16string, std::u16string, std::u16string> rows[] = {
        {u"dir", u"sub", u"dir/sub"},
        {u"dir/", u"sub", u"dir/sub"},
        {u"dir", u"/sub", u"dir/sub"},
        {u"", u"sub", u"sub"},
        {std::u16string(260, u'p'), u"x", u""},
        // 259 units: the separator takes index 259, the zero index 260, nothing of `more`.
        {std::u16string(259, u'p'), u"xyz", std::u16string(259, u'p') + u"/"},
        {std::u16string(250, u'p'), std::u16string(40, u'm'),
         std::u16string(250, u'p') + u"/" + std::u16string(9, u'm')}};
    for (const auto& [path, more, out] : rows) {
        Buffer b(path);
        EXPECT_EQ(PathAppend(b.us(), US(more.c_str())), out.empty() ? FALSE : TRUE);
        EXPECT_EQ(b.str(), out.empty() ? path : out) << path.size();
        EXPECT_EQ(b.units[261], u'#');
    }
    Buffer b(u"dir");
    EXPECT_EQ(PathAppend(b.us(), nullptr), TRUE);
    EXPECT_EQ(b.str(), u"dir/");
}

// Folded in place, as callers may do; the scratch never reaches beyond the input's zero.
TEST(PathString, CanonicalizeFoldsDotsAndNullPathsAreRefused) {
    const char16_t* rows[][2] = {
        {u"a/./b", u"a/b"},   {u"a/b/..", u"a"},    {u"a/../b", u"b"},
        {u"a//../b", u"a/b"}, {u"a/b/", u"a/b/"},   {u"../a", u"../a"},
        {u"a/..", u""},       {u"a./.b", u"a./.b"}, {u"/a/b/./../c/", u"/a/c/"}};
    for (const auto& [in, out] : rows) {
        Buffer b(in);
        EXPECT_EQ(PathCanonicalize(b.us(), b.us()), TRUE);
        EXPECT_EQ(b.str(), out);
        EXPECT_EQ(b.units[std::u16string(in).size() + 1], u'#');
    }
    // Empty and null paths are refused, and nothing is written.
    const char16_t* none = nullptr;
    char16_t* out = nullptr;
    Buffer b(u"keep");
    EXPECT_EQ(GetExtensionIndex(none) + GetExtensionIndexA(nullptr) + PathIsExe(none), -3);
    EXPECT_EQ(PathRenameExtension(out, u"x") + PathRemoveFileSpec(out) + PathAppend(out, u"x") +
                  PathCanonicalize(out, u"x") + PathCanonicalize(b.us(), nullptr) +
                  PathCanonicalize(b.us(), US(u"")) + PathFileExists(none) + PathIsDirectory(none),
              FALSE);
    EXPECT_EQ(b.str(), u"keep");
}

} // namespace
