// The records, the pool of folder descriptors and the facts one call of a
// compound operation leaves for the next: facts answer only the very next call
// of the same thread, a folder's descriptor serves only that folder, and a tree
// far deeper than the descriptor limit and PATH_MAX is walked with a bounded
// number of descriptors.
#include <sys/resource.h>

#include <thread>

#include "tests/platform/files/FileManagerTestSupport.h"

namespace {

class FileManagerPoolTest : public fmtest::TempFolderTest {
protected:
    static UInt16 Mode(const FSRef& ref) {
        FSCatalogInfo info;
        memset(&info, 0x5A, sizeof info);
        EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoPermissions, &info, nullptr, nullptr, nullptr),
                  noErr);
        return info.permissions.mode & 07777;
    }
    // Another thread, through the file manager: the file f renamed away (so that
    // its inode number cannot come back at once) and made anew.
    void ReplaceElsewhere(UInt16 mode) {
        std::thread([&] {
            FSRef old, top;
            const std::u16string away = u"old" + std::u16string(1, char16_t(u'0' + mode % 8));
            EXPECT_EQ(Ref("f", &old), noErr);
            EXPECT_EQ(FSRenameUnicode(&old, away.size(), away.data(), 0, nullptr), noErr);
            EXPECT_EQ(Ref("", &top), noErr);
            FSCatalogInfo info{};
            info.permissions.mode = S_IFREG | mode;
            EXPECT_EQ(
                FSCreateFileUnicode(&top, 1, u"f", kFSCatInfoPermissions, &info, nullptr, nullptr),
                noErr);
        }).join();
    }
};

// Within one, what a resolution saw answers the next call, and only that one.
TEST_F(FileManagerPoolTest, CompoundOperationLooksAtEachObjectOnce) {
    MakeFile("f", "", 0600);
    MakeFile("g");
    FSRef ref, again, other;
    ASSERT_EQ(Ref("f", &ref), noErr); // outside one, a change between two calls is seen
    ASSERT_EQ(chmod(Path("f").c_str(), 0604), 0);
    EXPECT_EQ(Mode(ref), 0604);
    {
        orvik::fm::CompoundOperation once;
        ASSERT_EQ(Ref("f", &ref), noErr);
        ASSERT_EQ(chmod(Path("f").c_str(), 0640), 0);
        EXPECT_EQ(Mode(ref), 0604);
        ASSERT_EQ(Ref("g", &other), noErr);
        EXPECT_EQ(Mode(ref), 0640);
    }
    ASSERT_EQ(Ref("f", &again), noErr);
    EXPECT_NE(again.node, ref.node);
}

// A call of another thread between two calls of a compound operation makes the
// second look at the disk again: it never acts on the object that was replaced
// meanwhile, nor deletes the replacement in its place.
TEST_F(FileManagerPoolTest, FactsNeverOutliveACallOfAnotherThread) {
    MakeFile("f", "", 0600);
    FSRef top, ref, again;
    ASSERT_EQ(Ref("", &top), noErr);
    ASSERT_EQ(Ref("f", &ref), noErr); // the folder is remembered
    orvik::fm::CompoundOperation once;
    ASSERT_EQ(FSMakeFSRefUnicode(&top, 1, u"f", 0, &ref), noErr);
    ReplaceElsewhere(0640);
    EXPECT_EQ(FSDeleteObject(&ref), fnfErr);
    EXPECT_EQ(testsupport::ModeOf(Path("f")), 0640u);
    ASSERT_EQ(Ref("f", &ref), noErr);
    ReplaceElsewhere(0604);
    ASSERT_EQ(Ref("f", &again), noErr); // the same text names the new file
    EXPECT_NE(again.node, ref.node);
    EXPECT_EQ(Mode(again), 0604);
    std::thread([&] {
        FSCatalogInfo info;
        ASSERT_EQ(FSGetCatalogInfo(&again, kFSCatInfoPermissions, &info, nullptr, nullptr, nullptr),
                  noErr);
        info.permissions.mode = S_IFREG | 0444;
        EXPECT_EQ(FSSetCatalogInfo(&again, kFSCatInfoPermissions, &info), noErr);
    }).join();
    EXPECT_EQ(Mode(again), 0444);
}

int OpenDescriptors() {
    int count = 0;
    for (int fd = 0; fd < 4096; ++fd)
        count += fcntl(fd, F_GETFD) != -1;
    return count;
}

// 300 levels of 20-byte names: a 6,300-byte path, under a descriptor limit
// below both the depth and the pool's size. The result tells the failing step.
int DeepTreeChild(const std::string& root) {
    constexpr int kLevels = 300;
    const struct rlimit limit = {rlim_t(OpenDescriptors() + 24), rlim_t(OpenDescriptors() + 24)};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 10;
    const std::string level(20, 'd');
    const std::string deepest = testsupport::MakeDeepTree(
        root, kLevels, [&](int) { return level; }, [](int) { return std::string("f"); });
    FSRef bottom, top;
    if (deepest.empty() ||
        FSPathMakeRef(reinterpret_cast<const UInt8*>(deepest.c_str()), &bottom, nullptr) != noErr)
        return 11;
    std::string back(deepest.size() + 1, '\0');
    if (FSRefMakePath(&bottom, reinterpret_cast<UInt8*>(back.data()), UInt32(back.size())) !=
            noErr ||
        back.c_str() != deepest)
        return 12;
    bottom = FSRef();
    const std::string first = root + "/" + level;
    if (FSPathMakeRef(reinterpret_cast<const UInt8*>(first.c_str()), &top, nullptr) != noErr)
        return 13;
    if (fmtest::DeleteTree(top) != noErr)
        return 14;
    return testsupport::Exists(first) ? 15 : 0;
}

TEST_F(FileManagerPoolTest, DeepTreeIsWalkedWithinTheDescriptorLimit) {
    fflush(nullptr);
    EXPECT_EQ(testsupport::InChild([&] { return DeepTreeChild(root_); }), 0)
        << "failing step (see DeepTreeChild; -1: it died)";
}

} // namespace
