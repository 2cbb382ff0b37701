// The deletion guarantees the uninstaller relies on when it runs as root:
// a walk never leaves the tree through a link, even one swapped in while it
// runs, and a very deep tree needs neither one descriptor per level nor a
// path shorter than PATH_MAX.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "tests/platform/FileManagerTestSupport.h"

namespace {

class FileManagerSafetyTest : public fmtest::TempFolderTest {
    std::string Base() const override { return testsupport::MemoryBase(); }
};

int CountOpenDescriptors() {
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (readdir(dir))
        ++count;
    closedir(dir);
    return count - 3; // ".", ".." and the listing's own descriptor
}

int g_maxDescriptors = 0;

void CountDescriptorsNow(int depth) {
    if (depth % 250 == 0)
        g_maxDescriptors = std::max(g_maxDescriptors, CountOpenDescriptors());
}

constexpr int kLevels = 3000;

// Runs in a child, so that the lowered descriptor limit stays there. The
// result tells which step failed.
int DeepTreeChild(const std::string& root) {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 10;
    limit.rlim_cur = 1024;
    if (limit.rlim_max < 1024)
        limit.rlim_max = 1024;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 11;
    const std::string level(100, 'd');
    const std::string deepest = testsupport::MakeDeepTree(
        root, kLevels, [&](int) { return level; },
        [](int i) { return i == kLevels - 1 ? std::string(255, 'f') : std::string("f"); });
    if (deepest.empty())
        return 12;
    // A path of 300,000 bytes resolves and comes back.
    FSRef bottom;
    if (FSPathMakeRef(reinterpret_cast<const UInt8*>(deepest.c_str()), &bottom, nullptr) != noErr)
        return 14;
    std::string back(deepest.size() + 1, '\0');
    if (FSRefMakePath(&bottom, reinterpret_cast<UInt8*>(back.data()), UInt32(back.size())) !=
            noErr ||
        back.c_str() != deepest)
        return 15;
    bottom = FSRef();
    FSRef top;
    std::string first = root + "/" + level;
    if (FSPathMakeRef(reinterpret_cast<const UInt8*>(first.c_str()), &top, nullptr) != noErr)
        return 16;
    int before = CountOpenDescriptors();
    if (fmtest::DeleteLevel(top, CountDescriptorsNow, 1) != noErr)
        return 17;
    if (FSDeleteObject(&top) != noErr)
        return 18;
    if (access(first.c_str(), F_OK) == 0)
        return 19;
    // Bounded, whatever the depth: far below one descriptor per level.
    if (g_maxDescriptors > before + 100)
        return 20;
    return 0;
}

TEST_F(FileManagerSafetyTest, DeepTreeIsDeletedWithinTheDescriptorLimit) {
    fflush(nullptr);
    EXPECT_EQ(testsupport::InChild([&] { return DeepTreeChild(root_); }), 0)
        << "failing step (see DeepTreeChild; -1: it died)";
}

TEST_F(FileManagerSafetyTest, FolderSwappedForALinkDuringTheWalkNeverReachesTheCanary) {
    MakeFolder("canary");
    MakeFolder("canary/sub");
    MakeFile("canary/precious", "keep me");
    MakeFile("canary/sub/deep", "keep me too");
    const int kRounds = 60, kPairs = 16;
    int deletedRounds = 0;
    for (int round = 0; round < kRounds; ++round) {
        MakeFolder("tree");
        std::vector<std::pair<std::string, std::string>> pairs;
        for (int p = 0; p < kPairs; ++p) {
            std::string folder = "tree/v" + std::to_string(p), link = "tree/l" + std::to_string(p);
            MakeFolder(folder);
            MakeFolder(folder + "/inner");
            for (int i = 0; i < 4; ++i) {
                MakeFile(folder + "/file" + std::to_string(i), "x");
                MakeFile(folder + "/inner/file" + std::to_string(i), "y");
            }
            ASSERT_EQ(symlink(Path("canary").c_str(), Path(link).c_str()), 0);
            pairs.emplace_back(Path(folder), Path(link));
        }
        ASSERT_EQ(symlink("../../canary", Path("tree/v0/inner/up").c_str()), 0);
        FSRef tree;
        ASSERT_EQ(Ref("tree", &tree), noErr);
        std::atomic<bool> stop{false};
        std::thread swapper([&] {
            // Each folder and its link to the canary trade places, over and over.
            while (!stop.load(std::memory_order_relaxed))
                for (const auto& [folder, link] : pairs)
                    renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, link.c_str(), RENAME_EXCHANGE);
        });
        // A walk that meets a swapped name stops with an error; walk again
        // until the tree is gone, each time through the race.
        OSErr status = noErr;
        for (int attempt = 0; attempt < 40; ++attempt)
            if ((status = fmtest::DeleteTree(tree)) == noErr)
                break;
        stop = true;
        swapper.join();
        if (status == noErr)
            ++deletedRounds;
        ASSERT_TRUE(Exists("canary/precious")) << "round " << round;
        ASSERT_TRUE(Exists("canary/sub/deep")) << "round " << round;
        ASSERT_EQ(system(("rm -rf '" + Path("tree") + "'").c_str()), 0);
    }
    // Not a timing assertion: the walk succeeded at least sometimes, so the
    // rounds really deleted inside the swapped folder.
    RecordProperty("rounds fully deleted", deletedRounds);
    DIR* dir = opendir(Path("canary").c_str());
    ASSERT_NE(dir, nullptr);
    int entries = 0;
    while (struct dirent* d = readdir(dir))
        entries += d->d_name[0] != '.';
    closedir(dir);
    EXPECT_EQ(entries, 2);
}

TEST_F(FileManagerSafetyTest, LinksInsideATreeAreDeletedAsLinks) {
    MakeFolder("outside");
    MakeFile("outside/keep", "data");
    MakeFolder("tree");
    MakeFolder("tree/sub");
    ASSERT_EQ(symlink(Path("outside").c_str(), Path("tree/sub/to-folder").c_str()), 0);
    ASSERT_EQ(symlink(Path("outside/keep").c_str(), Path("tree/to-file").c_str()), 0);
    ASSERT_EQ(symlink("/", Path("tree/to-root").c_str()), 0);
    FSRef tree;
    ASSERT_EQ(Ref("tree", &tree), noErr);
    EXPECT_EQ(fmtest::DeleteTree(tree), noErr);
    EXPECT_FALSE(Exists("tree"));
    EXPECT_TRUE(Exists("outside/keep"));
    // A reference kept to a final link deletes the link, not the folder.
    ASSERT_EQ(symlink(Path("outside").c_str(), Path("top-link").c_str()), 0);
    FSRef link;
    ASSERT_EQ(Ref("top-link", &link, false), noErr);
    EXPECT_EQ(fmtest::DeleteTree(link), noErr);
    EXPECT_FALSE(Exists("top-link"));
    EXPECT_TRUE(Exists("outside/keep"));
}

// The attack a catalog write must withstand as root: a user swaps their own
// file with a set-user-id tool of root's while root changes the user's file.
TEST_F(FileManagerSafetyTest, ACatalogWriteRacingASwapNeverLandsOnTheOtherFile) {
    if (geteuid() != 0)
        GTEST_SKIP() << "files of other owners need root";
    MakeFile("mine", "mine", 0600);
    ASSERT_EQ(chown(Path("mine").c_str(), 4321, 4321), 0);
    MakeFile("tool", "root's tool", 04755);
    struct stat tool;
    ASSERT_EQ(stat(Path("tool").c_str(), &tool), 0);
    // Looked up in its folder, as a walk makes references.
    FSRef folder, mine;
    ASSERT_EQ(Ref("", &folder), noErr);
    ASSERT_EQ(FSMakeFSRefUnicode(&folder, 4, u"mine", kTextEncodingUnknown, &mine), noErr);
    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
    std::thread swapper([&, a = Path("mine"), b = Path("tool")] {
        while (!stop.load(std::memory_order_relaxed))
            swaps += renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
    });
    while (swaps.load() == 0)
        std::this_thread::yield();
    FSCatalogInfo info{};
    info.permissions.userID = info.permissions.groupID = 4321;
    int landed = 0;
    for (int round = 0; round < 400; ++round) {
        info.permissions.mode = S_IFREG | (round % 2 ? 0644 : 0600);
        landed += FSSetCatalogInfo(&mine, kFSCatInfoPermissions, &info) == noErr;
        std::this_thread::yield(); // so that the two threads do not fall into step
    }
    stop = true;
    swapper.join();
    RecordProperty("writes that found their file", landed);
    // Whichever name holds root's tool now, it is as it was.
    const ino_t toolIno = tool.st_ino;
    ASSERT_EQ(stat(Path("tool").c_str(), &tool), 0);
    if (tool.st_ino != toolIno) {
        ASSERT_EQ(stat(Path("mine").c_str(), &tool), 0);
    }
    ASSERT_EQ(tool.st_ino, toolIno);
    EXPECT_EQ(tool.st_uid, 0u);
    EXPECT_EQ(tool.st_mode & 07777, 04755u);
}

} // namespace
