// References, paths, statuses, links, names, catalog information and
// iteration of the file manager.
#include "platform/FileManager.h"

#include <sys/inotify.h>
#include <sys/xattr.h>

#include <cerrno>
#include <set>
#include <vector>

#include "platform/files/FileManagerInternal.h"
#include "tests/platform/FileManagerTestSupport.h"

using fmtest::TempFolderTest;
using fmtest::U16;

namespace {

class FileManagerTest : public TempFolderTest {};

TEST(FileManagerStatus, ErrnoTable) {
    struct Row {
        int error;
        OSErr status;
    } rows[] = {{0, noErr},           {ENOENT, fnfErr},          {ENOTDIR, fnfErr},
                {ENOTEMPTY, fBsyErr}, {EBUSY, fBsyErr},          {EEXIST, dupFNErr},
                {EXDEV, diffVolErr},  {EINVAL, paramErr},        {EISDIR, notAFileErr},
                {ENOSPC, dskFulErr},  {EACCES, afpAccessDenied}, {EIO, ioErr}};
    for (const Row& row : rows)
        EXPECT_EQ(orvik::fm::StatusFromErrno(row.error), row.status) << "errno " << row.error;
}

TEST(FileManagerText, PlainParentTextOnlyForPlainAbsolutePaths) {
    struct Row {
        const char* path;
        const char* parent;
    } rows[] = {
        {"/a/b/c", "/a/b"},
        {"/a/b", "/a"},
        {"/a", ""},
        {"/", ""},
        {"", ""},
        {"a/b", ""},
        {"/a/b/", ""},
        {"/a//b", ""},
        {"/a/./b", ""},
        {"/a/../b", ""},
        {"/a/b/.", ""},
        {"/a/b/..", ""},
        {"/./a", ""},
        {"/../a", ""},
        {"/a/.b/c", "/a/.b"},
        {"/a/..b/c", "/a/..b"},
        {"/a/b./c", "/a/b."},
        {"/a/.../c", "/a/..."},
        {"/a/b/.c", "/a/b"},
        {"/a/b/..c", "/a/b"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(orvik::fm::PlainParentText(row.path), row.parent) << row.path;
}

TEST_F(FileManagerTest, PathToReferenceAndBack) {
    MakeFolder("dir");
    MakeFile("dir/file", "abc");
    FSRef ref;
    Boolean isDirectory = 7;
    std::string path = Path("dir/./file");
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(path.c_str()), &ref, &isDirectory),
              noErr);
    EXPECT_EQ(isDirectory, 0);
    EXPECT_EQ(fmtest::PathOf(ref), Path("dir/file"));
    // Too small a buffer: an error, and not one byte past the size given.
    UInt8 small[8];
    memset(small, 0x5A, sizeof small);
    EXPECT_EQ(FSRefMakePath(&ref, small, 4), pathTooLongErr);
    EXPECT_EQ(small[4], 0x5A);

    FSRef folder;
    ASSERT_EQ(Ref("dir/sub/..", &folder), fnfErr);  // "sub" does not exist
    ASSERT_EQ(Ref("dir/file/..", &folder), fnfErr); // a file is no folder
    ASSERT_EQ(Ref("dir/", &folder), noErr);
    EXPECT_EQ(fmtest::PathOf(folder), Path("dir"));

    // Relative paths start at the working folder.
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(Path("dir").c_str()), 0);
    FSRef relative;
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>("file"), &relative, nullptr), noErr);
    EXPECT_EQ(FSCompareFSRefs(&relative, &ref), noErr);
    EXPECT_EQ(chdir(saved), 0);

    FSRef root;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>("/"), &root, &isDirectory), noErr);
    EXPECT_EQ(isDirectory, 1);
    EXPECT_EQ(fmtest::PathOf(root), "/");
}

// Resolution starts at the folder of the previous leaf when the same text still
// leads to that very folder; a folder replaced under the same name, or by a
// link, must be walked again.
TEST_F(FileManagerTest, ResolutionNeverReusesAFolderThatWasReplaced) {
    MakeFolder("a");
    MakeFile("a/f", "old");
    MakeFolder("canary");
    MakeFile("canary/f", "canary");
    auto content = [](const FSRef& ref) { return testsupport::ReadFile(fmtest::PathOf(ref)); };
    FSRef first;
    ASSERT_EQ(Ref("a/f", &first), noErr);
    EXPECT_EQ(content(first), "old");

    // The same name, another folder.
    ASSERT_EQ(rename(Path("a").c_str(), Path("a-old").c_str()), 0);
    MakeFolder("a");
    MakeFile("a/f", "new");
    FSRef second;
    ASSERT_EQ(Ref("a/f", &second), noErr);
    EXPECT_EQ(content(second), "new");
    EXPECT_NE(FSCompareFSRefs(&first, &second), noErr);
    FSRef gone;
    EXPECT_EQ(Ref("a/g", &gone), fnfErr);

    // The folder swapped for a link: the reference names what the link leads to
    // now, never the folder remembered from before; nor does the folder's own
    // text name the remembered folder any more.
    FSRef folderBefore;
    ASSERT_EQ(Ref("a", &folderBefore), noErr);
    ASSERT_EQ(rename(Path("a").c_str(), Path("a-new").c_str()), 0);
    ASSERT_EQ(symlink(Path("canary").c_str(), Path("a").c_str()), 0);
    FSRef third;
    ASSERT_EQ(Ref("a/f", &third), noErr);
    EXPECT_EQ(content(third), "canary");
    EXPECT_EQ(fmtest::PathOf(third), Path("canary/f"));
    ASSERT_EQ(Ref("a/f", &third), noErr); // "a" is remembered as reached through the link
    FSRef link, target, canary;
    Boolean isDirectory = 7;
    ASSERT_EQ(FSPathMakeRefWithOptions(reinterpret_cast<const UInt8*>(Path("a").c_str()),
                                       kFSPathMakeRefDoNotFollowLeafSymlink, &link, &isDirectory),
              noErr);
    EXPECT_EQ(isDirectory, 0);
    EXPECT_EQ(fmtest::PathOf(link), Path("a"));
    ASSERT_EQ(Ref("a", &target), noErr);
    ASSERT_EQ(Ref("canary", &canary), noErr);
    EXPECT_EQ(FSCompareFSRefs(&target, &canary), noErr);
    EXPECT_NE(FSCompareFSRefs(&target, &folderBefore), noErr);
}

// A leaf of the folder resolved last is looked up by its whole text. Such a
// reference names that object in that folder, still reaches it when the folder
// moves, and fails once the name in the folder holds something else; deleting
// it deletes what its text names.
TEST_F(FileManagerTest, ALeafFoundByItsWholeTextIsCheckedInItsFolderBeforeUse) {
    MakeFolder("a");
    MakeFile("a/f", "f");
    MakeFile("a/g", "g");
    MakeFile("a/h", "h");
    MakeFolder("canary");
    MakeFile("canary/c", "c");
    ASSERT_EQ(symlink("../canary", Path("a/l").c_str()), 0);
    auto nodeID = [](const FSRef& ref, OSErr expected) {
        FSCatalogInfo info{};
        EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeID, &info, nullptr, nullptr, nullptr),
                  expected);
        return info.nodeID;
    };
    FSRef first, f, g, h, link, target, missing;
    ASSERT_EQ(Ref("a/f", &first), noErr); // walked; "a" is remembered
    ASSERT_EQ(Ref("a/f", &f), noErr);
    ASSERT_EQ(Ref("a/g", &g), noErr);
    ASSERT_EQ(Ref("a/h", &h), noErr);
    ASSERT_TRUE(f.node->parentUnchecked && g.node->parentUnchecked); // the case under test
    EXPECT_EQ(FSCompareFSRefs(&first, &f), noErr);
    EXPECT_EQ(fmtest::PathOf(f), Path("a/f"));
    EXPECT_EQ(Ref("a/missing", &missing), fnfErr);
    ASSERT_EQ(Ref("a/l", &link, false), noErr);
    EXPECT_EQ(fmtest::PathOf(link), Path("a/l"));
    ASSERT_EQ(Ref("a/l", &target), noErr);
    EXPECT_EQ(fmtest::PathOf(target), Path("canary"));
    EXPECT_EQ(FSDeleteObject(&link), noErr); // the link, never what it leads to
    EXPECT_FALSE(Exists("a/l"));
    EXPECT_TRUE(Exists("canary/c"));

    ASSERT_EQ(rename(Path("a").c_str(), Path("moved").c_str()), 0);
    UInt32 id = nodeID(f, noErr);
    EXPECT_EQ(id, nodeID(first, noErr));
    // "f" now names what was "g": the reference no longer reaches anything.
    ASSERT_EQ(rename(Path("moved/g").c_str(), Path("moved/f").c_str()), 0);
    nodeID(f, fnfErr);
    EXPECT_EQ(FSDeleteObject(&f), fnfErr); // "a" is gone
    EXPECT_TRUE(Exists("moved/f"));
    // A new folder under the old name: the deletion still acts on the object
    // the reference was made for, never on what the text names now.
    MakeFolder("a");
    MakeFile("a/h", "new");
    EXPECT_EQ(FSDeleteObject(&h), noErr);
    EXPECT_TRUE(Exists("a/h"));
    EXPECT_FALSE(Exists("moved/h"));
}

// A URL's path is taken whole: a zero byte inside never cuts it short.
TEST_F(FileManagerTest, AFileURLNamesItsWholePath) {
    MakeFile("x", "x");
    auto ref = [this](const std::string& escapedTail, FSRef* out) {
        std::string text = "file://" + Path(escapedTail);
        CFStringRef string =
            CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8);
        CFURLRef url = CFURLCreateWithString(nullptr, string, nullptr);
        CFRelease(string);
        Boolean found = url && CFURLGetFSRef(url, out);
        if (url)
            CFRelease(url);
        return found;
    };
    FSRef out;
    EXPECT_TRUE(ref("x", &out));
    EXPECT_FALSE(ref("x%00y", &out));
    EXPECT_FALSE(ref("x%00", &out));
}

// Two records of one folder, made by separate resolutions, share its pooled
// descriptor; a record of a folder that was replaced never reaches the new one.
TEST_F(FileManagerTest, RecordsOfOneFolderShareItsDescriptorButNeverItsName) {
    MakeFolder("d");
    MakeFile("d/x", "x");
    FSRef first, second, child;
    ASSERT_EQ(Ref("d", &first), noErr);
    ASSERT_EQ(Ref("d/.", &second), noErr);
    ASSERT_NE(first.node, second.node);
    const UniChar x[] = {u'x'};
    EXPECT_EQ(FSMakeFSRefUnicode(&first, 1, x, kTextEncodingUnknown, &child), noErr);
    EXPECT_EQ(FSMakeFSRefUnicode(&second, 1, x, kTextEncodingUnknown, &child), noErr);
    ASSERT_EQ(rename(Path("d").c_str(), Path("d-old").c_str()), 0);
    MakeFolder("d");
    FSRef fresh;
    ASSERT_EQ(Ref("d", &fresh), noErr);
    EXPECT_EQ(FSMakeFSRefUnicode(&fresh, 1, x, kTextEncodingUnknown, &child), fnfErr);
    // The old record still names the folder it was made for, wherever it went.
    EXPECT_EQ(FSMakeFSRefUnicode(&first, 1, x, kTextEncodingUnknown, &child), noErr);
}

// Inside a compound operation, what one call learned of an object answers the
// next call about it (a catalog read of that reference, a resolution of the
// same text); any other call in between, or the end of the operation, makes
// the next one look at the disk again.
TEST_F(FileManagerTest, CompoundOperationLooksAtEachObjectOnce) {
    MakeFile("f", "", 0644);
    MakeFile("g", "", 0644);
    ASSERT_EQ(symlink("f", Path("l").c_str()), 0);
    auto mode = [](const FSRef& ref) {
        FSCatalogInfo info;
        memset(&info, 0x5A, sizeof info);
        EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoPermissions, &info, nullptr, nullptr, nullptr),
                  noErr);
        return info.permissions.mode & 07777;
    };
    FSRef ref, again, other;
    // Outside one, a change made between two calls is seen.
    ASSERT_EQ(Ref("f", &ref), noErr);
    ASSERT_EQ(chmod(Path("f").c_str(), 0600), 0);
    EXPECT_EQ(mode(ref), 0600);
    {
        orvik::fm::CompoundOperation once;
        ASSERT_EQ(Ref("f", &ref), noErr);
        ASSERT_EQ(chmod(Path("f").c_str(), 0640), 0);
        EXPECT_EQ(mode(ref), 0600); // what the resolution saw
        EXPECT_EQ(mode(ref), 0600);
        ASSERT_EQ(Ref("f", &again), noErr); // the same text: the same record
        EXPECT_EQ(again.node, ref.node);
        EXPECT_EQ(mode(again), 0600);
        ASSERT_EQ(Ref("g", &other), noErr); // another call in between
        EXPECT_EQ(mode(ref), 0640);
        // A link kept as itself answers nothing about what it leads to.
        FSRef link, target;
        ASSERT_EQ(Ref("l", &link, false), noErr);
        ASSERT_EQ(Ref("l", &target), noErr);
        EXPECT_NE(target.node, link.node);
        EXPECT_EQ(FSCompareFSRefs(&target, &ref), noErr);
        ASSERT_EQ(Ref("f", &ref), noErr);
    }
    ASSERT_EQ(chmod(Path("f").c_str(), 0644), 0);
    EXPECT_EQ(mode(ref), 0644); // the operation ended
    ASSERT_EQ(Ref("f", &again), noErr);
    EXPECT_NE(again.node, ref.node);
}

TEST_F(FileManagerTest, FailuresGiveTheStatusesOfTheTable) {
    MakeFolder("full");
    MakeFile("full/entry");
    MakeFile("file");
    FSRef ref, parent, full, file;
    // Missing object, missing parent, a file used as a folder: -43.
    EXPECT_EQ(Ref("missing", &ref), fnfErr);
    EXPECT_EQ(Ref("missing/child", &ref), fnfErr);
    EXPECT_EQ(Ref("file/child", &ref), fnfErr);
    // Bytes that are not UTF-8 never name a file, even one with those bytes.
    MakeFile("caf\xE9");
    EXPECT_EQ(Ref("caf\xE9", &ref), fnfErr);
    // A folder that is not empty: -47; an existing name: -48.
    ASSERT_EQ(Ref("full", &full), noErr);
    EXPECT_EQ(FSDeleteObject(&full), fBsyErr);
    ASSERT_EQ(Ref("", &parent), noErr);
    std::u16string name = U16("file");
    EXPECT_EQ(FSCreateFileUnicode(&parent, name.size(), name.data(), 0, nullptr, nullptr, nullptr),
              dupFNErr);
    EXPECT_EQ(FSCreateDirectoryUnicode(&parent, name.size(), name.data(), 0, nullptr, nullptr,
                                       nullptr, nullptr),
              dupFNErr);
    // Bad arguments: -50.
    FSRef empty;
    EXPECT_EQ(FSDeleteObject(nullptr), paramErr);
    EXPECT_EQ(FSDeleteObject(&empty), paramErr);
    EXPECT_EQ(FSGetCatalogInfo(&empty, kFSCatInfoNodeFlags, nullptr, nullptr, nullptr, nullptr),
              paramErr);
    EXPECT_EQ(FSPathMakeRef(nullptr, &ref, nullptr), paramErr);
    EXPECT_EQ(FSCreateFileUnicode(&parent, 0, name.data(), 0, nullptr, nullptr, nullptr), paramErr);
    // Names no file can have.
    for (const char* bad : {".", "..", "a/b"}) {
        std::u16string units = U16(bad);
        EXPECT_EQ(
            FSCreateFileUnicode(&parent, units.size(), units.data(), 0, nullptr, nullptr, nullptr),
            bdNamErr)
            << bad;
        EXPECT_EQ(
            FSMakeFSRefUnicode(&parent, units.size(), units.data(), kTextEncodingUnknown, &ref),
            fnfErr)
            << bad;
    }
    // Across devices: -1303 (when the shared-memory folder is another device).
    struct stat here, shm;
    if (stat("/dev/shm", &shm) == 0 && stat(root_.c_str(), &here) == 0 &&
        shm.st_dev != here.st_dev && access("/dev/shm", W_OK) == 0) {
        char pattern[] = "/dev/shm/orvik-fm-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        FSRef other;
        ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(pattern), &other, nullptr), noErr);
        ASSERT_EQ(Ref("file", &file), noErr);
        EXPECT_EQ(FSMoveObject(&file, &other, nullptr), diffVolErr);
        EXPECT_TRUE(Exists("file"));
        rmdir(pattern);
    }
}

TEST_F(FileManagerTest, LinksAreNeverFollowedExceptByPathResolution) {
    MakeFolder("target");
    MakeFile("target/inside", "12345");
    ASSERT_EQ(symlink(Path("target").c_str(), Path("link").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", Path("dangling").c_str()), 0);

    FSRef followed, kept;
    Boolean isDirectory = 0;
    ASSERT_EQ(Ref("link", &followed), noErr);
    ASSERT_EQ(Ref("link", &kept, false), noErr);
    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(&followed, kFSCatInfoNodeFlags | kFSCatInfoPermissions, &info,
                               nullptr, nullptr, nullptr),
              noErr);
    EXPECT_TRUE(info.nodeFlags & kFSNodeIsDirectoryMask);
    // The link itself: not a folder, the link's type and Finder information.
    HFSUniStr255 name;
    ASSERT_EQ(FSGetCatalogInfo(&kept,
                               kFSCatInfoNodeFlags | kFSCatInfoPermissions | kFSCatInfoFinderInfo,
                               &info, &name, nullptr, nullptr),
              noErr);
    EXPECT_FALSE(info.nodeFlags & kFSNodeIsDirectoryMask);
    EXPECT_TRUE(S_ISLNK(info.permissions.mode));
    FileInfo finder;
    memcpy(&finder, info.finderInfo, sizeof finder);
    EXPECT_EQ(finder.fileType, OSType(kSymLinkFileType));
    EXPECT_EQ(finder.fileCreator, OSType(kSymLinkCreator));
    EXPECT_EQ(fmtest::NameOf(name), "link");
    // A dangling link is found only when kept.
    FSRef ref;
    EXPECT_EQ(Ref("dangling", &ref), fnfErr);
    EXPECT_EQ(Ref("dangling", &ref, false), noErr);
    // A link in the middle is followed by path resolution and the reference
    // names the real object.
    ASSERT_EQ(Ref("link/inside", &ref), noErr);
    EXPECT_EQ(fmtest::PathOf(ref), Path("target/inside"));
    // A trailing slash follows even a final link.
    std::string withSlash = Path("link/");
    ASSERT_EQ(FSPathMakeRefWithOptions(reinterpret_cast<const UInt8*>(withSlash.c_str()),
                                       kFSPathMakeRefDoNotFollowLeafSymlink, &ref, &isDirectory),
              noErr);
    EXPECT_EQ(isDirectory, 1);
    // Iteration lists the link as itself and the deletion takes the link only.
    FSRef top;
    ASSERT_EQ(Ref("", &top), noErr);
    FSIterator iterator;
    ASSERT_EQ(FSOpenIterator(&top, kFSIterateFlat, &iterator), noErr);
    ItemCount count = 0;
    FSCatalogInfo infos[8];
    HFSUniStr255 names[8];
    FSRef refs[8];
    ASSERT_EQ(FSGetCatalogInfoBulk(iterator, 8, &count, nullptr, kFSCatInfoNodeFlags, infos, refs,
                                   nullptr, names),
              noErr);
    ASSERT_EQ(count, 3u);
    for (ItemCount i = 0; i < count; ++i) {
        std::string entry = fmtest::NameOf(names[i]);
        EXPECT_EQ(bool(infos[i].nodeFlags & kFSNodeIsDirectoryMask), entry == "target") << entry;
        if (entry == "link") {
            EXPECT_EQ(fmtest::DeleteTree(refs[i]), noErr);
        }
    }
    EXPECT_EQ(
        FSGetCatalogInfoBulk(iterator, 8, &count, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
        errFSNoMoreItems);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(FSCloseIterator(iterator), noErr);
    EXPECT_FALSE(Exists("link"));
    EXPECT_TRUE(Exists("target/inside"));
}

TEST_F(FileManagerTest, IterationListsEveryEntryOnceWithCatalogInformation) {
    std::set<std::string> expected;
    for (int i = 0; i < 300; ++i) {
        std::string name = (i % 7 == 0 ? "." : "") + std::string("entry") + std::to_string(i);
        if (i % 5 == 0)
            MakeFolder(name);
        else
            MakeFile(name, std::string(size_t(i), 'x'));
        expected.insert(name);
    }
    FSRef top;
    ASSERT_EQ(Ref("", &top), noErr);
    FSIterator iterator;
    ASSERT_EQ(FSOpenIterator(&top, kFSIterateFlat, &iterator), noErr);
    std::set<std::string> seen;
    OSErr status;
    for (;;) {
        ItemCount count = 0;
        FSCatalogInfo infos[7];
        HFSUniStr255 names[7];
        status = FSGetCatalogInfoBulk(iterator, 7, &count, nullptr,
                                      kFSCatInfoNodeFlags | kFSCatInfoDataSizes, infos, nullptr,
                                      nullptr, names);
        if (status != noErr)
            break;
        for (ItemCount i = 0; i < count; ++i) {
            std::string name = fmtest::NameOf(names[i]);
            EXPECT_TRUE(seen.insert(name).second) << "twice: " << name;
            int n = std::stoi(name.substr(name.find("entry") + 5));
            EXPECT_EQ(bool(infos[i].nodeFlags & kFSNodeIsDirectoryMask), n % 5 == 0) << name;
            if (n % 5) {
                EXPECT_EQ(infos[i].dataLogicalSize, UInt64(n)) << name;
            }
        }
    }
    EXPECT_EQ(status, errFSNoMoreItems);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(FSCloseIterator(iterator), noErr);

    FSRef file;
    ASSERT_EQ(Ref("entry1", &file), noErr);
    EXPECT_EQ(FSOpenIterator(&file, kFSIterateFlat, &iterator), dirNFErr);
    EXPECT_EQ(FSOpenIterator(&top, kFSIterateSubtree, &iterator), errFSIteratorNotSupported);
}

TEST_F(FileManagerTest, NamesOf255BytesAndInvalidUtf8RoundTrip) {
    std::string longName(255, 'n');
    std::string longUtf8; // 85 three-byte characters: 255 bytes, 85 units
    for (int i = 0; i < 85; ++i)
        longUtf8 += "\xE2\x82\xAC";
    std::string invalid = "bad\xFF\xC3(\xED\xA0\x80name"; // stray, truncated, surrogate bytes
    MakeFolder("d");
    FSRef folder;
    ASSERT_EQ(Ref("d", &folder), noErr);
    for (const std::string& bytes : {longName, longUtf8, invalid}) {
        MakeFile("d/" + bytes, "content");
        FSIterator iterator;
        ASSERT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &iterator), noErr);
        ItemCount count = 0;
        HFSUniStr255 name;
        FSRef listed;
        ASSERT_EQ(
            FSGetCatalogInfoBulk(iterator, 1, &count, nullptr, 0, nullptr, &listed, nullptr, &name),
            noErr);
        FSCloseIterator(iterator);
        ASSERT_EQ(count, 1u);
        EXPECT_LE(name.length, 255);
        EXPECT_EQ(fmtest::NameOf(name), bytes);
        // The listed name finds the same file again, and deletes it.
        FSRef again;
        ASSERT_EQ(
            FSMakeFSRefUnicode(&folder, name.length, name.unicode, kTextEncodingUnknown, &again),
            noErr);
        EXPECT_EQ(FSCompareFSRefs(&again, &listed), noErr);
        EXPECT_EQ(FSDeleteObject(&again), noErr);
        EXPECT_FALSE(Exists("d/" + bytes));
    }
    // The escapes: each byte that is not UTF-8 becomes one lone surrogate.
    UniChar units[32];
    UniCharCount n = 0;
    ASSERT_TRUE(FSNameBytesToUnicode("a\xFF\xC3", 3, units, 32, &n));
    ASSERT_EQ(n, 3u);
    EXPECT_EQ(units[1], 0xDCFF);
    EXPECT_EQ(units[2], 0xDCC3);
    UniChar lone[] = {u'a', 0xD800, u'b'}; // a lone surrogate that is no escape
    EXPECT_FALSE(FSNameUnicodeToBytes(lone, 3, nullptr, 0, nullptr));
    // Too long: 256 bytes.
    std::u16string tooLong(256, u'x');
    EXPECT_EQ(
        FSCreateFileUnicode(&folder, tooLong.size(), tooLong.data(), 0, nullptr, nullptr, nullptr),
        bdNamErr);
    std::u16string tooManyBytes(100, u'\u20AC'); // 100 units, 300 bytes
    EXPECT_EQ(FSCreateFileUnicode(&folder, tooManyBytes.size(), tooManyBytes.data(), 0, nullptr,
                                  nullptr, nullptr),
              errFSNameTooLong);
}

TEST_F(FileManagerTest, CatalogInformationChangesOnlyTheNamedFields) {
    MakeFile("f", "hello", 0640);
    FSRef ref;
    ASSERT_EQ(Ref("f", &ref), noErr);
    FSCatalogInfo info;
    memset(&info, 0xA5, sizeof info);
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoPermissions, &info, nullptr, nullptr, nullptr),
              noErr);
    EXPECT_EQ(info.permissions.mode, S_IFREG | 0640);
    EXPECT_EQ(info.permissions.userID, getuid());
    EXPECT_EQ(info.nodeFlags, 0xA5A5); // not asked for, not written
    EXPECT_EQ(info.dataLogicalSize, 0xA5A5A5A5A5A5A5A5ull);

    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoGettableInfo, &info, nullptr, nullptr, nullptr),
              noErr);
    EXPECT_EQ(info.dataLogicalSize, 5u);
    EXPECT_EQ(info.nodeFlags, 0);
    EXPECT_EQ(info.valence, 0u);
    struct stat st;
    ASSERT_EQ(stat(Path("f").c_str(), &st), 0);
    EXPECT_EQ(info.nodeID, UInt32(st.st_ino));
    int64_t seconds;
    uint32_t nanoseconds;
    orvik::fm::FromUTCDateTime(info.contentModDate, &seconds, &nanoseconds);
    EXPECT_EQ(seconds, st.st_mtim.tv_sec);

    // Permissions only: the mode changes, the times stay.
    FSCatalogInfo change = info;
    change.permissions.mode = S_IFREG | 0604;
    change.contentModDate = orvik::fm::ToUTCDateTime(1000000000, 0);
    ASSERT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoPermissions, &change), noErr);
    ASSERT_EQ(stat(Path("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_NE(st.st_mtim.tv_sec, 1000000000);
    // Now the modification date: 2001-09-09 01:46:40 UTC.
    ASSERT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoContentMod, &change), noErr);
    ASSERT_EQ(stat(Path("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    UTCDateTime date = orvik::fm::ToUTCDateTime(1000000000, 500000000);
    EXPECT_EQ(uint64_t(date.highSeconds) << 32 | date.lowSeconds, 1000000000ull + 2082844800ull);
    EXPECT_EQ(date.fraction, 0x8000);

    // A folder counts its entries.
    MakeFolder("d");
    MakeFile("d/1");
    MakeFile("d/2");
    FSRef folder;
    ASSERT_EQ(Ref("d", &folder), noErr);
    ASSERT_EQ(FSGetCatalogInfo(&folder, kFSCatInfoValence | kFSCatInfoNodeFlags, &info, nullptr,
                               nullptr, nullptr),
              noErr);
    EXPECT_EQ(info.valence, 2u);
    EXPECT_EQ(info.nodeFlags, kFSNodeIsDirectoryMask);
}

TEST_F(FileManagerTest, CatalogInformationOfAFifoDoesNotOpenIt) {
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
    FSRef ref;
    ASSERT_EQ(Ref("fifo", &ref), noErr);
    FSCatalogInfo info;
    // Opening a FIFO with no writer would block this test forever.
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoGettableInfo, &info, nullptr, nullptr, nullptr),
              noErr);
    EXPECT_TRUE(S_ISFIFO(info.permissions.mode));
    info.permissions.mode = S_IFIFO | 0644;
    EXPECT_EQ(FSSetCatalogInfo(&ref, kFSCatInfoPermissions, &info), noErr);
    struct stat st;
    ASSERT_EQ(stat(Path("fifo").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    FSIORefNum fork;
    EXPECT_EQ(FSOpenFork(&ref, 0, nullptr, fsRdPerm, &fork), notAFileErr);
}

TEST_F(FileManagerTest, CreateMoveRenameAndDelete) {
    FSRef top, file, folder, moved, renamed;
    ASSERT_EQ(Ref("", &top), noErr);
    std::u16string name = U16("new file");
    FSCatalogInfo info{};
    info.permissions.mode = S_IFREG | 0751;
    FSSpec spec;
    ASSERT_EQ(FSCreateFileUnicode(&top, name.size(), name.data(), kFSCatInfoPermissions, &info,
                                  &file, &spec),
              noErr);
    struct stat st;
    ASSERT_EQ(stat(Path("new file").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u); // exact, whatever the umask
    EXPECT_EQ(spec.name[0], 8);
    EXPECT_EQ(FSpSetFInfo(&spec, reinterpret_cast<const FInfo*>(info.finderInfo)), noErr);

    std::u16string sub = U16("sub");
    UInt32 dirID = 0;
    ASSERT_EQ(FSCreateDirectoryUnicode(&top, sub.size(), sub.data(), 0, nullptr, &folder, nullptr,
                                       &dirID),
              noErr);
    ASSERT_EQ(stat(Path("sub").c_str(), &st), 0);
    EXPECT_EQ(dirID, UInt32(st.st_ino));

    ASSERT_EQ(FSMoveObject(&file, &folder, &moved), noErr);
    EXPECT_TRUE(Exists("sub/new file"));
    MakeFile("new file");
    ASSERT_EQ(Ref("new file", &file), noErr);
    EXPECT_EQ(FSMoveObject(&file, &folder, nullptr), dupFNErr); // never replaces
    EXPECT_EQ(FSMoveObject(&moved, &folder, nullptr), noErr);   // already there

    std::u16string other = U16("other");
    ASSERT_EQ(FSRenameUnicode(&moved, other.size(), other.data(), kTextEncodingUnknown, &renamed),
              noErr);
    EXPECT_TRUE(Exists("sub/other"));
    EXPECT_EQ(FSRenameUnicode(&file, sub.size(), sub.data(), kTextEncodingUnknown, nullptr),
              dupFNErr);
    EXPECT_EQ(fmtest::PathOf(renamed), Path("sub/other"));

    EXPECT_EQ(FSDeleteObject(&folder), fBsyErr);
    EXPECT_EQ(FSDeleteObject(&renamed), noErr);
    EXPECT_EQ(FSDeleteObject(&renamed), fnfErr);
    EXPECT_EQ(FSDeleteObject(&folder), noErr);
    EXPECT_FALSE(Exists("sub"));
}

TEST_F(FileManagerTest, ReferencesAreCheapValues) {
    MakeFolder("a");
    MakeFile("a/f");
    FSRef ref;
    ASSERT_EQ(Ref("a/f", &ref), noErr);
    FSRef copy = ref;
    EXPECT_EQ(copy.node, ref.node); // shared, not duplicated
    FSRef moved = std::move(copy);
    EXPECT_EQ(copy.node, nullptr);
    EXPECT_EQ(FSCompareFSRefs(&moved, &ref), noErr);
    FSRef parent;
    ASSERT_EQ(FSGetCatalogInfo(&ref, 0, nullptr, nullptr, nullptr, &parent), noErr);
    FSRef folder;
    ASSERT_EQ(Ref("a", &folder), noErr);
    EXPECT_EQ(FSCompareFSRefs(&parent, &folder), noErr);
    EXPECT_EQ(FSCompareFSRefs(&parent, &ref), errFSRefsDifferent);
    EXPECT_LE(sizeof(FSRef), sizeof(void*));
}

TEST_F(FileManagerTest, TemporaryItemsFolder) {
    testsupport::ScopedEnv tmpdir("TMPDIR", root_.c_str());
    FSRef ref;
    ASSERT_EQ(FSFindFolder(kUserDomain, kTemporaryFolderType, kCreateFolder, &ref), noErr);
    EXPECT_EQ(fmtest::PathOf(ref), root_);
    // Not a usable folder: /tmp.
    MakeFile("plain");
    for (std::string unusable : {Path("plain"), Path("missing"), std::string()}) {
        tmpdir.Set(unusable.c_str());
        ASSERT_EQ(FSFindFolder(kUserDomain, kTemporaryFolderType, kCreateFolder, &ref), noErr);
        EXPECT_EQ(fmtest::PathOf(ref), "/tmp") << unusable;
    }
    EXPECT_EQ(FSFindFolder(kUserDomain, 0x70726566 /* 'pref' */, kCreateFolder, &ref), fnfErr);
}

} // namespace

// However a caller spells the folder of a tree scope and the paths below it (relative, with
// "." names, doubled separators, ".." back into the tree, through a file URL), nothing
// below it is reached through a link, and ".." never leads above it.
TEST_F(FileManagerTest, ATreeScopeHoldsForEverySpellingOfItsFolder) {
    MakeFolder("t");
    MakeFolder("t/real");
    MakeFolder("out");
    MakeFile("out/x", "x");
    MakeFile("above", "a");
    ASSERT_EQ(symlink("../out", Path("t/lnk").c_str()), 0);
    const int saved = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(saved, 0);
    ASSERT_EQ(chdir(Path("").c_str()), 0);
    for (const std::string& folder :
         {std::string("t"), std::string("./t"), Path("t"), Path("") + "/./t", Path("") + "//t"}) {
        const std::u16string units(folder.begin(), folder.end());
        orvik::fm::TreeScope scope(reinterpret_cast<const UniChar*>(units.data()), units.size());
        for (const char* below : {"/lnk/x", "//lnk/x", "/./lnk/x", "/real/../lnk/x", "/../above"}) {
            const std::string text = folder + below;
            FSRef ref;
            EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(text.c_str()), &ref, nullptr),
                      fnfErr)
                << text;
            CFStringRef path =
                CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8);
            CFURLRef url =
                CFURLCreateWithFileSystemPath(nullptr, path, kCFURLPOSIXPathStyle, false);
            EXPECT_FALSE(CFURLGetFSRef(url, &ref)) << text << " as a URL";
            CFRelease(url);
            CFRelease(path);
        }
        FSRef link;
        const std::string linkText = folder + "/lnk";
        EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8*>(linkText.c_str()), &link, nullptr),
                  noErr);
        EXPECT_EQ(fmtest::PathOf(link), Path("t/lnk")); // the link itself
    }
    EXPECT_EQ(fchdir(saved), 0);
    close(saved);
}

// What a tree scope remembers of the folders it walked through answers only while those
// folders still hold what it found: every change of a name on the way is seen. Without
// inotify (every instance taken) the scope remembers nothing and walks every time.
TEST_F(FileManagerTest, ATreeScopeNeverAnswersFromAFolderThatChanged) {
    auto inode = [&](const char* relative) -> ino_t {
        FSRef ref;
        const std::string text = Path(relative);
        if (FSPathMakeRef(reinterpret_cast<const UInt8*>(text.c_str()), &ref, nullptr) != noErr)
            return 0;
        return ref.node->ino;
    };
    auto onDisk = [&](const char* relative) -> ino_t {
        struct stat st;
        return lstat(Path(relative).c_str(), &st) == 0 ? st.st_ino : 0;
    };
    // The first step whose answer is not what the disk holds, or "".
    auto firstStale = [&]() -> std::string {
        for (const char* folder : {"t", "t/a", "t/a/b", "spare", "spare/b", "out"})
            mkdir(Path(folder).c_str(), 0755);
        testsupport::WriteFile(Path("t/a/b/x"), "old");
        testsupport::WriteFile(Path("spare/b/x"), "new");
        const std::string top = Path("t");
        const std::u16string units(top.begin(), top.end());
        orvik::fm::TreeScope scope(reinterpret_cast<const UniChar*>(units.data()), units.size());
        if (inode("t/a/b/x") != onDisk("t/a/b/x"))
            return "first walk";
        // A folder on the way exchanged for another of the same shape.
        renameat2(AT_FDCWD, Path("t/a").c_str(), AT_FDCWD, Path("spare").c_str(), RENAME_EXCHANGE);
        if (inode("t/a/b/x") != onDisk("t/a/b/x"))
            return "exchanged folder";
        // ... for a link to a folder of the same shape outside.
        rename(Path("t/a").c_str(), Path("out/a").c_str());
        symlink(Path("out/a").c_str(), Path("t/a").c_str());
        if (inode("t/a/b/x") != 0)
            return "link on the way";
        // A name found missing, then created; a folder deleted, then made again.
        unlink(Path("t/a").c_str());
        if (inode("t/a") != 0)
            return "missing name";
        mkdir(Path("t/a").c_str(), 0755);
        if (inode("t/a") != onDisk("t/a"))
            return "created name";
        mkdir(Path("t/a/b").c_str(), 0755);
        inode("t/a/b");
        rmdir(Path("t/a/b").c_str());
        if (inode("t/a/b") != 0)
            return "deleted folder";
        mkdir(Path("t/a/b").c_str(), 0755);
        return inode("t/a/b") == onDisk("t/a/b") ? "" : "folder made again";
    };
    EXPECT_EQ(firstStale(), "");
    for (const char* folder : {"t", "spare", "out"})
        testsupport::RemoveTree(Path(folder));
    const int status = testsupport::InChild([&] {
        std::vector<int> taken;
        for (int fd; (fd = inotify_init1(IN_CLOEXEC)) >= 0;)
            taken.push_back(fd);
        // Out of descriptors before instances: give some back for the walk itself.
        for (int i = 0; errno == EMFILE && i < 64 && !taken.empty(); ++i) {
            close(taken.back());
            taken.pop_back();
        }
        return firstStale().empty() ? 0 : 1;
    });
    EXPECT_EQ(status, 0) << "without inotify";
}
