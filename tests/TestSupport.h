// What every file-system test shares: a fresh temporary folder per test, removed afterwards
// whatever the test left in it (locked files, closed folders, trees deeper than PATH_MAX)
// without ever following a link, and small checks of what is on disk. Everything here is
// plain POSIX, so a fault in the code under test cannot hide behind a helper.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace testsupport {

inline bool IsRoot() {
    return geteuid() == 0;
}

inline bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}
inline bool IsDir(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
inline bool IsLink(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}
inline mode_t ModeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

// An ASCII text in 16-bit units: test paths and formats are ASCII, and a test spells any
// other character in 16 bits itself.
inline std::u16string Widen(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

// The whole content, or what was read before a read failed ("" when the file cannot be
// opened): the /proc file of a process can vanish part-way.
inline std::string ReadFile(const std::string& path) {
    std::string out;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    char buffer[4096];
    for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;)
        out.append(buffer, size_t(n));
    if (fd >= 0)
        close(fd);
    return out;
}

// Creates or truncates the file; the mode is set exactly (umask aside).
inline bool WriteFile(const std::string& path, const std::string& content, mode_t mode = 0644) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd == -1)
        return false;
    const bool ok = write(fd, content.data(), content.size()) == ssize_t(content.size()) &&
                    fchmod(fd, mode) == 0;
    close(fd);
    return ok;
}

// The immutable inode flag (what the file manager reports as "locked"); false where the
// file system refuses. chattr never follows a link.
inline bool SetImmutable(const std::string& path, bool on) {
    const std::string command = std::string("chattr ") + (on ? "+i" : "-i") + " -- '" + path + "'";
    return std::system((command + " 2>/dev/null").c_str()) == 0;
}
inline bool IsImmutable(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd == -1)
        return false;
    int flags = 0;
    const bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    close(fd);
    return ok && (flags & FS_IMMUTABLE_FL) != 0;
}

// Everything a tree shows, one line per entry in name order, links never followed: type,
// mode, owner, the immutable flag, a file's content and a link's target. Two equal
// fingerprints mean nothing in the tree was deleted, added or changed.
inline std::string Fingerprint(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return "missing\n";
    std::string line = std::to_string(st.st_mode) + " " + std::to_string(st.st_uid) + ":" +
                       std::to_string(st.st_gid);
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        const ssize_t n = readlink(path.c_str(), target, sizeof target);
        return line + " -> " + std::string(target, n > 0 ? size_t(n) : 0) + "\n";
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return line + "\n";
    line += IsImmutable(path) ? " locked" : "";
    if (S_ISREG(st.st_mode))
        return line + " " + ReadFile(path) + "\n";
    line += "\n";
    struct dirent** names = nullptr;
    const int count = scandir(path.c_str(), &names, nullptr, alphasort);
    for (int i = 0; i < count; ++i) {
        const std::string name = names[i]->d_name;
        free(names[i]);
        if (name != "." && name != "..")
            line += name + ": " + Fingerprint(path + "/" + name);
    }
    free(names);
    return line;
}

// Removes a test folder and everything in it; a failure to clean up fails the test. chattr
// clears the locks a test left and rm finishes; neither follows a link, and rm reaches
// trees deeper than PATH_MAX.
inline void RemoveTree(const std::string& path) {
    if (!Exists(path))
        return;
    const std::string quoted = "'" + path + "'";
    const std::string command =
        "chattr -R -f -i -- " + quoted + " 2>/dev/null; rm -rf --one-file-system -- " + quoted;
    if (std::system(command.c_str()) != 0 || Exists(path))
        ADD_FAILURE() << "could not clean up " << path;
}

// A new folder below `base`, or "" (with a test failure) when none can be made.
inline std::string MakeTempFolder(const std::string& base) {
    std::string pattern = base + "/orvik-test-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp in " << base << ": " << strerror(errno);
        return "";
    }
    return pattern;
}

// Builds `depth` nested folders below `root` (made if missing) with descriptor-relative
// calls, so that the paths may be far longer than PATH_MAX and one descriptor is open at a
// time. folderAt(level) names each level's folder; fileAt(level), unless empty, a file made
// beside it. Returns the deepest folder's path, or "" when a step failed.
template <class FolderName, class FileName>
std::string MakeDeepTree(const std::string& root, int depth, FolderName folderAt, FileName fileAt) {
    if (mkdir(root.c_str(), 0755) != 0 && errno != EEXIST)
        return "";
    std::string deepest = root;
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < depth && fd >= 0; ++level) {
        const std::string folder = folderAt(level), file = fileAt(level);
        const int made = file.empty() ? -2 : openat(fd, file.c_str(), O_CREAT | O_WRONLY, 0644);
        if (made >= 0)
            close(made);
        const int next = made != -1 && mkdirat(fd, folder.c_str(), 0755) == 0
                             ? openat(fd, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                             : -1;
        close(fd);
        fd = next;
        deepest += "/" + folder;
    }
    if (fd < 0)
        return "";
    close(fd);
    return deepest;
}

// Races a tree removal against a thread that exchanges folders of the tree for links to
// an outside folder whose names mirror the tree's, back and forth. The tree is
// base/tree/a/b/c with 16 files at each level; base/outside holds the same names, its
// files read-only. Round r swaps the top (the tree itself), the middle (a/b) or the deep
// folder (a/b/c), by r % 3; each folder's link waits beside it under its name and "~".
// After every round the outside must be exactly as it was. Returns the rounds in which
// `remove(treePath)` reported success, or -1 once the outside changed.
template <class Remove>
int RaceLinkSwapsAgainst(const std::string& base, int rounds, Remove remove) {
    const char* const levels[] = {"", "/a", "/a/b", "/a/b/c"};
    auto build = [&](const std::string& top, mode_t fileMode) {
        for (const char* level : levels) {
            mkdir((top + level).c_str(), 0755);
            for (int file = 0; file < 16; ++file)
                WriteFile(top + level + "/f" + std::to_string(file), top + level, fileMode);
        }
    };
    const std::string tree = base + "/tree", outside = base + "/outside";
    build(outside, 0444);
    const std::string before = Fingerprint(outside);
    int removed = 0;
    long totalSwaps = 0;
    for (int round = 0; round < rounds; ++round) {
        build(tree, 0644);
        const char* swapped = round % 3 == 0 ? "" : round % 3 == 1 ? "/a/b" : "/a/b/c";
        const std::string folder = tree + swapped, link = folder + "~";
        if (symlink((outside + swapped).c_str(), link.c_str()) != 0)
            return -1;
        std::atomic<bool> stop{false};
        std::atomic<int> swaps{0};
        std::thread swapper([&] {
            for (int misses = 0; !stop.load(std::memory_order_relaxed) && misses < 100000;) {
                const bool swappedNow = renameat2(AT_FDCWD, folder.c_str(), AT_FDCWD, link.c_str(),
                                                  RENAME_EXCHANGE) == 0;
                misses = swappedNow ? 0 : misses + 1;
                swaps += swappedNow ? 1 : 0;
            }
        });
        while (swaps.load() == 0)
            std::this_thread::yield();
        removed += remove(tree) ? 1 : 0;
        stop = true;
        swapper.join();
        totalSwaps += swaps;
        if (Fingerprint(outside) != before) {
            ADD_FAILURE() << "the outside changed in round " << round << " (swapping the "
                          << (*swapped ? swapped : "top") << " folder)";
            return -1;
        }
        for (const std::string& left : {tree, tree + "~", link})
            if (unlink(left.c_str()) != 0 && Exists(left))
                RemoveTree(left);
    }
    ::testing::Test::RecordProperty("swaps", std::to_string(totalSwaps));
    return removed;
}

// Runs `body` in a child process and returns its exit status (-1 if it died), so that
// limits, root changes and crashes stay there.
template <class F> int InChild(F body) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// Runs `body` in a child with its own mount namespace, so that a mount made there reaches
// nobody else; 77 ("can't test here") when no private namespace can be made.
template <class F> int InPrivateMountNamespace(F body) {
    return InChild([&] {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return 77;
        return body();
    });
}

// Sets an environment variable (unsets it for nullptr) until the end of the scope, then puts
// back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = getenv(name);
        had_ = old != nullptr;
        old_ = had_ ? old : "";
        Set(value);
    }
    ~ScopedEnv() { Set(had_ ? old_.c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    void Set(const char* value) {
        if (value != nullptr)
            setenv(name_.c_str(), value, 1);
        else
            unsetenv(name_.c_str());
    }

private:
    std::string name_, old_;
    bool had_ = false;
};

// Each test gets its own folder below Base(), removed after it.
class TempFolderTest : public ::testing::Test {
protected:
    // Big trees override it with MemoryBase().
    virtual std::string Base() const { return "/tmp"; }
    void SetUp() override {
        root_ = MakeTempFolder(Base());
        ASSERT_FALSE(root_.empty());
    }
    void TearDown() override {
        if (!root_.empty())
            RemoveTree(root_);
    }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

    std::string root_;
};

// The fastest place for big trees: memory where there is one.
inline std::string MemoryBase() {
    return IsDir("/dev/shm") && access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

} // namespace testsupport
