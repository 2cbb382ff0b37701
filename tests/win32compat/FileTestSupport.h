// Helpers for the file-layer tests: a fresh temporary folder per test, 16-bit paths, and
// direct POSIX access to set up and check what the functions under test did. Nothing here
// uses the functions under test, so a fault in them cannot hide behind a helper.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace filetest {

inline bool IsRoot() {
    return geteuid() == 0;
}

// UTF-8 to UTF-16, enough for test paths.
inline std::u16string U(const std::string& s) {
    std::u16string out;
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp;
        int extra;
        if (c < 0x80) {
            cp = c;
            extra = 0;
        } else if (c < 0xE0) {
            cp = c & 0x1F;
            extra = 1;
        } else if (c < 0xF0) {
            cp = c & 0x0F;
            extra = 2;
        } else {
            cp = c & 0x07;
            extra = 3;
        }
        for (int k = 1; k <= extra && i + k < s.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += 1 + extra;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

inline std::string Narrow(const char16_t* s) {
    std::string out;
    for (; *s != 0; ++s)
        out.push_back(*s < 0x80 ? static_cast<char>(*s) : '?');
    return out;
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

inline void Write(const std::string& path, const std::string& content) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << content;
}
inline std::string Read(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}
inline void MakeDir(const std::string& path, mode_t mode = 0755) {
    mkdir(path.c_str(), mode);
}

// The immutable inode flag, which the file manager reports as "locked".
inline bool SetImmutable(const std::string& path, bool on) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
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
inline bool IsImmutable(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    const bool ok = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    close(fd);
    return ok && (flags & FS_IMMUTABLE_FL) != 0;
}

// Removes a test folder whatever the test left in it (immutable flags included), without
// following links; used only for cleaning up.
inline int ClearFlagsEntry(const char* path, const struct stat* st, int, struct FTW*) {
    if (!S_ISLNK(st->st_mode))
        SetImmutable(path, false);
    return 0;
}
inline int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;
}
inline void RemoveTree(const std::string& path) {
    if (!Exists(path))
        return;
    if (IsRoot())
        nftw(path.c_str(), ClearFlagsEntry, 64, FTW_PHYS);
    nftw(path.c_str(), RemoveEntry, 64, FTW_PHYS | FTW_DEPTH);
    if (Exists(path)) {
        // Deeper than nftw reaches with PATH_MAX: let rm(1) finish, it never follows links.
        const std::string cmd = "rm -rf --one-file-system -- '" + path + "'";
        if (std::system(cmd.c_str()) != 0)
            ADD_FAILURE() << "could not clean up " << path;
    }
}

// A fresh folder per test, below BaseDir() (default: the system's temporary folder).
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeTempDir(BaseDir());
        if (!extraDirs_.empty() && extraDirs_.back() == dir_)
            extraDirs_.pop_back();
    }
    // Where the test folder goes; big trees use memory-backed storage to stay quick.
    virtual std::string BaseDir() const { return "/tmp"; }
    void TearDown() override {
        for (const auto& d : extraDirs_)
            RemoveTree(d);
        RemoveTree(dir_);
    }

    std::string MakeTempDir(const std::string& base) {
        std::string tmpl = base + "/w32files.XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp in " << base;
            return base;
        }
        if (base != "/tmp")
            extraDirs_.push_back(tmpl);
        return tmpl;
    }

    std::string P(const std::string& rel) const { return dir_ + "/" + rel; }
    std::u16string W(const std::string& rel) const { return U(P(rel)); }

    std::string dir_;
    std::vector<std::string> extraDirs_;
};

} // namespace filetest
