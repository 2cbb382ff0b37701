#include "win32compat/PathString.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FileTestSupport.h"

using filetest::U;

namespace {

// A 300-unit buffer filled with a sentinel beyond the text, to see what a call writes.
struct Buffer {
    explicit Buffer(const std::u16string& text) : units(300, u'#') {
        std::copy(text.begin(), text.end(), units.begin());
        units[text.size()] = 0;
    }
    char16_t* data() { return units.data(); }
    std::u16string str() const { return std::u16string(units.data()); }
    std::vector<char16_t> units;
};

TEST(PathStringTest, ExtensionIndexIn16And8Bits) {
    struct Row {
        const char* path;
        int index;
    } rows[] = {{"a.b/c", -1}, {"a/b.c.d", 5}, {"file.", 4}, {".profile", 0}, {"dir/.profile", 4},
                {"", -1},      {"noext", -1},  {"a/b/", -1}, {"a\\b.c", 3}};
    for (const Row& r : rows) {
        EXPECT_EQ(GetExtensionIndex(U(r.path).c_str()), r.index) << r.path;
        EXPECT_EQ(GetExtensionIndexA(r.path), r.index) << r.path;
    }
    EXPECT_EQ(GetExtensionIndex(static_cast<const char16_t*>(nullptr)), -1);
    EXPECT_EQ(GetExtensionIndexA(nullptr), -1);
    const unsigned short twin[] = {'x', '.', 'y', 0};
    EXPECT_EQ(GetExtensionIndex(twin), 1);
}

TEST(PathStringTest, FindExtensionPointsAtTheDotOrIsNull) {
    const std::u16string path = u"dir/file.tar.gz";
    EXPECT_EQ(PathFindExtension(path.c_str()), path.c_str() + 12);
    const std::u16string none = u"dir.d/file";
    EXPECT_EQ(PathFindExtension(none.c_str()), nullptr);
}

TEST(PathStringTest, RenameExtensionKeepsTheDotAndChecksTheLimit) {
    Buffer b(u"file.txt");
    EXPECT_TRUE(PathRenameExtension(b.data(), u"doc"));
    EXPECT_EQ(b.str(), u"file.doc");
    EXPECT_EQ(b.units[9], u'#');

    Buffer none(u"dir.d/file");
    EXPECT_FALSE(PathRenameExtension(none.data(), u"doc"));
    EXPECT_EQ(none.str(), u"dir.d/file");

    // The dot at index 240: 240 + 18 + 2 = 260 fits, one unit more does not.
    const std::u16string base = std::u16string(240, u'a') + u".x";
    Buffer fits(base);
    EXPECT_TRUE(PathRenameExtension(fits.data(), std::u16string(18, u'e').c_str()));
    EXPECT_EQ(fits.str(), std::u16string(240, u'a') + u"." + std::u16string(18, u'e'));
    Buffer tooLong(base);
    EXPECT_FALSE(PathRenameExtension(tooLong.data(), std::u16string(19, u'e').c_str()));
    EXPECT_EQ(tooLong.str(), base);
}

TEST(PathStringTest, RemoveExtension) {
    Buffer b(u"a/b.c.d");
    PathRemoveExtension(b.data());
    EXPECT_EQ(b.str(), u"a/b.c");
    Buffer keep(u"a.b/c");
    PathRemoveExtension(keep.data());
    EXPECT_EQ(keep.str(), u"a.b/c");
    char narrow[] = "x/.profile";
    PathRemoveExtensionA(narrow);
    EXPECT_STREQ(narrow, "x/");
}

TEST(PathStringTest, AddAndRemoveBackslash) {
    Buffer add(u"a");
    EXPECT_EQ(PathAddBackslash(add.data()), add.data());
    EXPECT_EQ(add.str(), u"a/");
    EXPECT_EQ(PathAddBackslash(add.data()), add.data());
    EXPECT_EQ(add.str(), u"a/");

    struct Row {
        const char16_t* in;
        const char16_t* out;
        int end;
    } rows[] = {{u"a//", u"a", 1}, {u"/", u"/", 1},     {u"//", u"/", 1},
                {u"", u"", 0},     {u"abc", u"abc", 3}, {u"a/b/", u"a/b", 3}};
    for (const Row& r : rows) {
        Buffer b(r.in);
        char16_t* end = PathRemoveBackslash(b.data());
        EXPECT_EQ(b.str(), r.out) << filetest::Narrow(r.in);
        EXPECT_EQ(end - b.data(), r.end) << filetest::Narrow(r.in);
    }
}

TEST(PathStringTest, FindFileName) {
    struct Row {
        const char16_t* path;
        int offset;
    } rows[] = {{u"a/b/", 2}, {u"/", 1},   {u"", 0},   {u"abc", 0},
                {u"/abc", 1}, {u"a/b", 2}, {u"//", 1}, {u"dir/sub//", 4}};
    for (const Row& r : rows)
        EXPECT_EQ(PathFindFileName(r.path) - r.path, r.offset) << filetest::Narrow(r.path);
    EXPECT_EQ(PathFindFileNameA("a/b"), nullptr);
}

TEST(PathStringTest, RemoveFileSpec) {
    struct Row {
        const char16_t* in;
        const char16_t* out;
    } rows[] = {{u"dir/file", u"dir"},     {u"file", u""}, {u"/file", u""},
                {u"dir/sub/", u"dir/sub"}, {u"///", u"/"}, {u"a/b/c", u"a/b"},
                {u"dir//", u"dir"}};
    for (const Row& r : rows) {
        Buffer b(r.in);
        EXPECT_TRUE(PathRemoveFileSpec(b.data())) << filetest::Narrow(r.in);
        EXPECT_EQ(b.str(), r.out) << filetest::Narrow(r.in);
    }
    Buffer empty(u"");
    EXPECT_FALSE(PathRemoveFileSpec(empty.data()));
}

TEST(PathStringTest, AppendJoinsWithOneSeparatorAndStopsAt260) {
    struct Row {
        const char16_t* path;
        const char16_t* more;
        const char16_t* out;
    } rows[] = {{u"dir", u"sub", u"dir/sub"},
                {u"dir/", u"/sub", u"dir//sub"},
                {u"dir/", u"sub", u"dir/sub"},
                {u"dir", u"/sub", u"dir/sub"},
                {u"", u"sub", u"sub"}};
    for (const Row& r : rows) {
        Buffer b(r.path);
        EXPECT_TRUE(PathAppend(b.data(), r.more)) << filetest::Narrow(r.path);
        EXPECT_EQ(b.str(), r.out) << filetest::Narrow(r.path);
    }

    Buffer full(std::u16string(260, u'p'));
    EXPECT_FALSE(PathAppend(full.data(), u"x"));
    EXPECT_EQ(full.str(), std::u16string(260, u'p'));

    // 259 units: the separator takes index 259, the zero index 260, nothing of `more`.
    Buffer edge(std::u16string(259, u'p'));
    EXPECT_TRUE(PathAppend(edge.data(), u"xyz"));
    EXPECT_EQ(edge.str(), std::u16string(259, u'p') + u"/");
    EXPECT_EQ(edge.units[261], u'#');

    Buffer cut(std::u16string(250, u'p'));
    EXPECT_TRUE(PathAppend(cut.data(), std::u16string(40, u'm').c_str()));
    EXPECT_EQ(cut.str(), std::u16string(250, u'p') + u"/" + std::u16string(9, u'm'));
    EXPECT_EQ(cut.units[261], u'#');
}

TEST(PathStringTest, CanonicalizeFoldsDotsLikeTheTable) {
    struct Row {
        const char16_t* in;
        const char16_t* out;
    } rows[] = {{u"a/./b", u"a/b"},
                {u"a/b/..", u"a"},
                {u"a/../b", u"b"},
                {u"/a/../b", u"/b"},
                {u"/../b", u"/b"},
                {u"a//../b", u"a/b"},
                {u"a/b/", u"a/b/"},
                {u"../a", u"../a"},
                {u"./a", u"./a"},
                {u"a/..", u""},
                {u"/a/b/./../c/", u"/a/c/"},
                {u"a/.../b", u"a/.../b"},
                {u"a./b.", u"a./b."},
                {u"/", u"/"},
                {u"a/b/../../c", u"c"},
                {u"x", u"x"}};
    for (const Row& r : rows) {
        Buffer out(u"");
        EXPECT_TRUE(PathCanonicalize(out.data(), r.in)) << filetest::Narrow(r.in);
        EXPECT_EQ(out.str(), r.out) << filetest::Narrow(r.in);
        const size_t inLength = std::u16string(r.in).size();
        EXPECT_EQ(out.units[inLength + 1], u'#') << "wrote past the input's length";
    }
    Buffer untouched(u"keep");
    EXPECT_FALSE(PathCanonicalize(untouched.data(), u""));
    EXPECT_EQ(untouched.str(), u"keep");

    Buffer inPlace(u"/a/./b/../c");
    EXPECT_TRUE(PathCanonicalize(inPlace.data(), inPlace.data()));
    EXPECT_EQ(inPlace.str(), u"/a/c");
}

TEST(PathStringTest, NullPathsAreHandledAsEmptyOrRefused) {
    EXPECT_EQ(PathFindExtension(static_cast<const char16_t*>(nullptr)), nullptr);
    EXPECT_FALSE(PathRenameExtension(static_cast<char16_t*>(nullptr), u"x"));
    EXPECT_FALSE(PathRemoveFileSpec(static_cast<char16_t*>(nullptr)));
    EXPECT_FALSE(PathAppend(static_cast<char16_t*>(nullptr), u"x"));
    EXPECT_FALSE(PathCanonicalize(static_cast<char16_t*>(nullptr), u"x"));
    EXPECT_FALSE(PathFileExists(static_cast<const char16_t*>(nullptr)));
    EXPECT_FALSE(PathIsDirectory(static_cast<const char16_t*>(nullptr)));
    EXPECT_EQ(PathIsExe(static_cast<const char16_t*>(nullptr)), -1);
}

class PathQueryTest : public filetest::TempDirTest {};

TEST_F(PathQueryTest, ExistsAndIsDirectoryFollowLinks) {
    filetest::WriteFile(P("file"), "x");
    filetest::MakeDir(P("dir"));
    ASSERT_EQ(symlink(P("dir").c_str(), P("dirlink").c_str()), 0);
    ASSERT_EQ(symlink(P("missing").c_str(), P("dangling").c_str()), 0);

    EXPECT_TRUE(PathFileExists(W("file").c_str()));
    EXPECT_TRUE(PathFileExists(W("dir").c_str()));
    EXPECT_FALSE(PathFileExists(W("missing").c_str()));
    EXPECT_FALSE(PathFileExists(W("dangling").c_str()));

    EXPECT_FALSE(PathIsDirectory(W("file").c_str()));
    EXPECT_TRUE(PathIsDirectory(W("dir").c_str()));
    EXPECT_TRUE(PathIsDirectory(W("dirlink").c_str()));
    EXPECT_FALSE(PathIsDirectory(W("missing").c_str()));

    const std::u16string twin = W("dir");
    EXPECT_TRUE(PathIsDirectory(reinterpret_cast<const unsigned short*>(twin.c_str())));
}

TEST_F(PathQueryTest, IsExeAsksTheApplicationRegistry) {
    filetest::WriteFile(P("tool"), "#!/bin/sh\n");
    chmod(P("tool").c_str(), 0755);
    filetest::WriteFile(P("data"), "x");
    chmod(P("data").c_str(), 0644);
    filetest::MakeDir(P("Viewer.app"));
    filetest::MakeDir(P("plain"));

    EXPECT_EQ(PathIsExe(W("tool").c_str()), 1);
    EXPECT_EQ(PathIsExe(W("data").c_str()), 0);
    EXPECT_EQ(PathIsExe(W("Viewer.app").c_str()), 1);
    EXPECT_EQ(PathIsExe(W("plain").c_str()), 0);
    EXPECT_EQ(PathIsExe(W("missing").c_str()), -1);
    // More than 1024 bytes of UTF-8 does not fit the conversion buffer.
    EXPECT_EQ(PathIsExe((W("tool") + u"/" + std::u16string(1100, u'x')).c_str()), -1);
}

} // namespace
