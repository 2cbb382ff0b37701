// Shared helpers of the path tests: a fixture that gives each test its own
// temporary folder (removed afterwards without following links, immutable
// flags cleared first), and small POSIX helpers to build and inspect trees.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "strings/AtlString.h"

namespace pathtest {

// ASCII and Latin-1 test paths widen byte for byte.
inline CAtlString W(const std::string& text) {
    return CAtlString(text.c_str());
}

// The bytes of a CAtlString holding only ASCII.
inline std::string N(const CAtlString& text) {
    std::string out;
    for (int i = 0; i < text.GetLength(); ++i)
        out.push_back(static_cast<char>(text.GetAt(i)));
    return out;
}

inline bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

inline void MakeFile(const std::string& path, const std::string& content = "x",
                     mode_t mode = 0644) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_NE(fd, -1) << path;
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

inline void MakeDir(const std::string& path, mode_t mode = 0755) {
    ASSERT_EQ(mkdir(path.c_str(), mode), 0) << path;
}

inline std::string ReadAll(const std::string& path) {
    std::string out;
    int fd = open(path.c_str(), O_RDONLY);
    if (fd == -1)
        return out;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof(buffer))) > 0)
        out.append(buffer, static_cast<size_t>(n));
    close(fd);
    return out;
}

// Sets or clears the immutable flag; false where the file system refuses.
inline bool SetImmutable(const std::string& path, bool on) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW);
    if (fd == -1)
        return false;
    int flags = 0;
    bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    close(fd);
    return ok;
}

// Removes everything inside the directory open at `fd` (then closes it),
// relative to descriptors so that depth and links don't matter.
inline void RemoveContentsAt(int fd) {
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return;
    }
    while (struct dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        struct stat st;
        if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!S_ISLNK(st.st_mode)) {
            int child = openat(dirfd(dir), name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
            if (child != -1) {
                int flags = 0;
                if (ioctl(child, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL)) {
                    flags &= ~FS_IMMUTABLE_FL;
                    ioctl(child, FS_IOC_SETFLAGS, &flags);
                }
                if (S_ISDIR(st.st_mode)) {
                    fchmod(child, 0755);
                    RemoveContentsAt(child);
                    child = -1;
                }
                if (child != -1)
                    close(child);
            }
        }
        unlinkat(dirfd(dir), name, S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0);
    }
    closedir(dir);
}

inline void RemoveTree(const std::string& path) {
    SetImmutable(path, false);
    chmod(path.c_str(), 0755);
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd != -1)
        RemoveContentsAt(fd);
    rmdir(path.c_str());
}

// Each test gets a fresh folder below the temporary directory.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/orvik-paths-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override { RemoveTree(root_); }

    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
    CAtlString WPath(const std::string& relative) const { return W(Path(relative)); }

    std::string root_;
};

} // namespace pathtest
