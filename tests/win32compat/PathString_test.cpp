#include "win32compat/PathString.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "FileTestSupport.h"

namespace {

using namespace filetest;

// A 300-unit buffer filled with a sentinel beyond the text, to see what a call writes.
struct Buffer {
    explicit Buffer(const std::u16string& text) : units(300, u'#') {
        std::copy(text.begin(), text.end(), units.begin());
        units[text.size()] = 0;
    }
    char16_t* data() { return units.data(); }
    unsigned short* twin() { return reinterpret_cast<unsigned short*>(units.data()); }
    std::u16string str() const { return std::u16string(units.data()); }
    std::vector<char16_t> units;
};
const unsigned short* Twin(const char16_t* s) {
    return reinterpret_cast<const unsigned short*>(s);
}

TEST(PathString, ExtensionIndexFindAndRemove) {
    struct Row {
        const char* path;
        int index;
    } rows[] = {{"a.b/c", -1}, {"a/b.c.d", 5}, {"file.", 4}, {".profile", 0}, {"dir/.profile", 4},
                {"", -1},      {"noext", -1},  {"a/b/", -1}, {"a\\b.c", 3}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.path);
        Buffer b(U(r.path));
        EXPECT_EQ(GetExtensionIndex(b.data()), r.index);
        EXPECT_EQ(GetExtensionIndex(b.twin()), r.index);
        EXPECT_EQ(GetExtensionIndexA(r.path), r.index);
        EXPECT_EQ(PathFindExtension(b.data()), r.index < 0 ? nullptr : b.data() + r.index);
        EXPECT_EQ(PathFindExtension(b.twin()), r.index < 0 ? nullptr : b.twin() + r.index);
        std::string narrow = r.path;
        PathRemoveExtensionA(narrow.data());
        EXPECT_EQ(narrow.c_str(), std::string(r.path).substr(0, r.index < 0 ? 99 : r.index));
        PathRemoveExtension(b.data());
        EXPECT_EQ(b.str(), U(narrow.c_str()));
        Buffer t(U(r.path));
        PathRemoveExtension(t.twin());
        EXPECT_EQ(t.str(), U(narrow.c_str()));
    }
}

TEST(PathString, RenameExtensionKeepsTheDotAndChecksTheLimit) {
    Buffer b(u"file.txt");
    EXPECT_EQ(PathRenameExtension(b.twin(), Twin(u"doc")), TRUE);
    EXPECT_EQ(b.str(), u"file.doc");
    EXPECT_EQ(b.units[9], u'#');
    EXPECT_EQ(PathRenameExtension(b.data(), nullptr), TRUE);
    EXPECT_EQ(b.str(), u"file.");
    Buffer none(u"dir.d/file");
    EXPECT_EQ(PathRenameExtension(none.data(), u"doc"), FALSE);
    EXPECT_EQ(none.str(), u"dir.d/file");
    // The dot at index 240: 240 + 18 + 2 = 260 fits, one unit more does not.
    const std::u16string base = std::u16string(240, u'a') + u".x";
    Buffer fits(base);
    EXPECT_EQ(PathRenameExtension(fits.data(), std::u16string(18, u'e').c_str()), TRUE);
    EXPECT_EQ(fits.str(), std::u16string(240, u'a') + u"." + std::u16string(18, u'e'));
    Buffer tooLong(base);
    EXPECT_EQ(PathRenameExtension(tooLong.data(), std::u16string(19, u'e').c_str()), FALSE);
    EXPECT_EQ(tooLong.str(), base);
}

TEST(PathString, SeparatorsAndLastComponent) {
    struct Row {
        const char16_t* in;
        const char16_t* added;   // PathAddBackslash
        const char16_t* trimmed; // PathRemoveBackslash, its end at trimmedEnd
        int trimmedEnd;
        int fileName;               // PathFindFileName's offset
        const char16_t* noFileSpec; // PathRemoveFileSpec
    } rows[] = {{u"a//", u"a//", u"a", 1, 0, u"a"},
                {u"/", u"/", u"/", 1, 1, u"/"},
                {u"//", u"//", u"/", 1, 1, u"/"},
                {u"", u"/", u"", 0, 0, nullptr},
                {u"abc", u"abc/", u"abc", 3, 0, u""},
                {u"a/b/", u"a/b/", u"a/b", 3, 2, u"a/b"},
                {u"/abc", u"/abc/", u"/abc", 4, 1, u""},
                {u"a/b/c", u"a/b/c/", u"a/b/c", 5, 4, u"a/b"},
                {u"dir/sub//", u"dir/sub//", u"dir/sub", 7, 4, u"dir/sub"}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(std::u16string(r.in)));
        Buffer add(r.in), twinAdd(r.in), trim(r.in), twinTrim(r.in), spec(r.in);
        EXPECT_EQ(PathAddBackslash(add.data()), add.data());
        EXPECT_EQ(add.str(), r.added);
        EXPECT_EQ(add.units[add.str().size() + 1], u'#');
        EXPECT_EQ(PathAddBackslash(twinAdd.twin()), twinAdd.twin());
        EXPECT_EQ(twinAdd.str(), r.added);
        EXPECT_EQ(PathRemoveBackslash(trim.data()), trim.data() + r.trimmedEnd);
        EXPECT_EQ(trim.str(), r.trimmed);
        EXPECT_EQ(PathRemoveBackslash(twinTrim.twin()), twinTrim.twin() + r.trimmedEnd);
        EXPECT_EQ(PathFindFileName(r.in), r.in + r.fileName);
        EXPECT_EQ(PathFindFileName(Twin(r.in)), Twin(r.in) + r.fileName);
        EXPECT_EQ(PathRemoveFileSpec(spec.twin()), r.noFileSpec != nullptr ? TRUE : FALSE);
        EXPECT_EQ(spec.str(), r.noFileSpec != nullptr ? r.noFileSpec : r.in);
    }
    EXPECT_EQ(PathFindFileNameA("a/b"), nullptr);
}

TEST(PathString, AppendJoinsWithOneSeparatorAndStopsAt260) {
    struct Row {
        std::u16string path, more;
        std::u16string out; // empty: refused, path unchanged
    } rows[] = {{u"dir", u"sub", u"dir/sub"},
                {u"dir/", u"/sub", u"dir//sub"},
                {u"dir/", u"sub", u"dir/sub"},
                {u"dir", u"/sub", u"dir/sub"},
                {u"", u"sub", u"sub"},
                {std::u16string(260, u'p'), u"x", u""},
                // 259 units: the separator takes index 259, the zero index 260, nothing of `more`.
                {std::u16string(259, u'p'), u"xyz", std::u16string(259, u'p') + u"/"},
                {std::u16string(250, u'p'), std::u16string(40, u'm'),
                 std::u16string(250, u'p') + u"/" + std::u16string(9, u'm')}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.path.size());
        Buffer b(r.path);
        EXPECT_EQ(PathAppend(b.twin(), Twin(r.more.c_str())), r.out.empty() ? FALSE : TRUE);
        EXPECT_EQ(b.str(), r.out.empty() ? r.path : r.out);
        EXPECT_EQ(b.units[261], u'#');
    }
    Buffer b(u"dir");
    EXPECT_EQ(PathAppend(b.data(), nullptr), TRUE);
    EXPECT_EQ(b.str(), u"dir/");
}

TEST(PathString, CanonicalizeFoldsDots) {
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
                {u"x", u"x"},
                {u"..a/.b", u"..a/.b"}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(std::u16string(r.in)));
        Buffer out(u"");
        EXPECT_EQ(PathCanonicalize(out.twin(), Twin(r.in)), TRUE);
        EXPECT_EQ(out.str(), r.out);
        EXPECT_EQ(out.units[std::u16string(r.in).size() + 1], u'#');
    }
    Buffer untouched(u"keep");
    EXPECT_EQ(PathCanonicalize(untouched.data(), u""), FALSE);
    EXPECT_EQ(PathCanonicalize(untouched.data(), static_cast<const char16_t*>(nullptr)), FALSE);
    EXPECT_EQ(untouched.str(), u"keep");
    Buffer inPlace(u"/a/./b/../c");
    EXPECT_EQ(PathCanonicalize(inPlace.data(), inPlace.data()), TRUE);
    EXPECT_EQ(inPlace.str(), u"/a/c");
}

TEST(PathString, NullPathsAreRefused) {
    EXPECT_EQ(GetExtensionIndex(static_cast<const char16_t*>(nullptr)), -1);
    EXPECT_EQ(GetExtensionIndexA(nullptr), -1);
    EXPECT_EQ(PathFindExtension(static_cast<const char16_t*>(nullptr)), nullptr);
    EXPECT_EQ(PathRenameExtension(static_cast<char16_t*>(nullptr), u"x"), FALSE);
    EXPECT_EQ(PathAddBackslash(static_cast<char16_t*>(nullptr)), nullptr);
    EXPECT_EQ(PathRemoveBackslash(static_cast<char16_t*>(nullptr)), nullptr);
    EXPECT_EQ(PathFindFileName(static_cast<const char16_t*>(nullptr)), nullptr);
    EXPECT_EQ(PathRemoveFileSpec(static_cast<char16_t*>(nullptr)), FALSE);
    EXPECT_EQ(PathAppend(static_cast<char16_t*>(nullptr), u"x"), FALSE);
    EXPECT_EQ(PathCanonicalize(static_cast<char16_t*>(nullptr), u"x"), FALSE);
    EXPECT_EQ(PathFileExists(static_cast<const char16_t*>(nullptr)), FALSE);
    EXPECT_EQ(PathIsDirectory(static_cast<const char16_t*>(nullptr)), FALSE);
    EXPECT_EQ(PathIsExe(static_cast<const char16_t*>(nullptr)), -1);
}

class PathQueryTest : public filetest::TempDirTest {};

TEST_F(PathQueryTest, ExistenceFolderAndApplicationFollowLinks) {
    File("tool", "#!/bin/sh\n");
    chmod(P("tool").c_str(), 0755);
    File("data");
    Dir("Viewer.app");
    Dir("plain");
    symlink(P("plain").c_str(), P("dirlink").c_str());
    symlink(P("missing").c_str(), P("dangling").c_str());
    struct Row {
        const char* name;
        BOOL exists, folder;
        int exe;
    } rows[] = {{"tool", TRUE, FALSE, 1},      {"data", TRUE, FALSE, 0},
                {"Viewer.app", TRUE, TRUE, 1}, {"plain", TRUE, TRUE, 0},
                {"dirlink", TRUE, TRUE, 0},    {"missing", FALSE, FALSE, -1},
                {"dangling", FALSE, FALSE, -1}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const std::u16string path = W(r.name);
        EXPECT_EQ(PathFileExists(Twin(path.c_str())), r.exists);
        EXPECT_EQ(PathIsDirectory(Twin(path.c_str())), r.folder);
        EXPECT_EQ(PathIsExe(Twin(path.c_str())), r.exe);
    }
    // More than 1024 bytes of UTF-8 does not fit the conversion buffer.
    EXPECT_EQ(PathIsExe((W("tool") + u"/" + std::u16string(1100, u'x')).c_str()), -1);
}

} // namespace
