// Shared by the file-manager tests: a fresh temporary folder per test, and a
// recursive deletion written against the file-manager calls the way the
// layer above uses them (iterate in deleting mode, depth first, clear a lock
// just before deleting).
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/FileManager.h"

namespace fmtest {

inline int ClearImmutable(const char* path, const struct stat* st, int, struct FTW*) {
    if (!S_ISREG(st->st_mode) && !S_ISDIR(st->st_mode))
        return 0;
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    int flags = 0;
    if (ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL)) {
        flags &= ~FS_IMMUTABLE_FL;
        ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    close(fd);
    return 0;
}

class TempFolderTest : public ::testing::Test {
protected:
    // Where the test's folder is made: /tmp, or memory for the large trees.
    virtual std::string Base() const { return "/tmp"; }
    void SetUp() override {
        std::string pattern = Base() + "/orvik-fm-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override {
        nftw(root_.c_str(), ClearImmutable, 16, FTW_PHYS);
        std::string command = "rm -rf '" + root_ + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }
    std::string Path(const std::string& relative) const { return root_ + "/" + relative; }
    void MakeFile(const std::string& relative, const std::string& content = "",
                  mode_t mode = 0644) {
        int fd = open(Path(relative).c_str(), O_CREAT | O_TRUNC | O_WRONLY, mode);
        ASSERT_GE(fd, 0) << relative;
        ASSERT_EQ(write(fd, content.data(), content.size()), ssize_t(content.size()));
        fchmod(fd, mode);
        close(fd);
    }
    void MakeFolder(const std::string& relative) {
        ASSERT_EQ(mkdir(Path(relative).c_str(), 0755), 0) << relative;
    }
    bool Exists(const std::string& relative) const {
        struct stat st;
        return lstat(Path(relative).c_str(), &st) == 0;
    }
    OSErr Ref(const std::string& relative, FSRef* ref, bool followLeaf = true) const {
        std::string path = Path(relative);
        return OSErr(FSPathMakeRefWithOptions(
            reinterpret_cast<const UInt8*>(path.c_str()),
            followLeaf ? OptionBits(0) : OptionBits(kFSPathMakeRefDoNotFollowLeafSymlink), ref,
            nullptr));
    }
    std::string root_;
};

inline std::u16string U16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

inline std::string NameOf(const HFSUniStr255& name) {
    std::string bytes(name.length * 3 + 1, '\0');
    size_t length = 0;
    EXPECT_TRUE(
        FSNameUnicodeToBytes(name.unicode, name.length, bytes.data(), bytes.size(), &length));
    bytes.resize(length);
    return bytes;
}

OSErr DeleteLevel(const FSRef& folder);

inline OSErr ClearLockIfSet(const FSRef& ref, const FSCatalogInfo& info) {
    if (!(info.nodeFlags & kFSNodeLockedMask))
        return noErr;
    FSCatalogInfo cleared = info;
    cleared.nodeFlags &= ~kFSNodeLockedMask;
    return FSSetCatalogInfo(&ref, kFSCatInfoNodeFlags, &cleared);
}

// Deletes an object and, for a folder, everything inside it.
inline OSErr DeleteTree(const FSRef& ref) {
    FSCatalogInfo info;
    OSErr status = FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr);
    if (status != noErr)
        return status;
    if (info.nodeFlags & kFSNodeIsDirectoryMask) {
        status = DeleteLevel(ref);
        if (status != noErr)
            return status;
    }
    ClearLockIfSet(ref, info);
    return FSDeleteObject(&ref);
}

inline OSErr DeleteLevel(const FSRef& folder) {
    FSIterator iterator;
    OSErr status = FSOpenIterator(&folder, kFSIterateDelete, &iterator);
    if (status != noErr)
        return status;
    while (status == noErr) {
        ItemCount count = 0;
        FSCatalogInfo info;
        FSRef child;
        status = FSGetCatalogInfoBulk(iterator, 1, &count, nullptr, kFSCatInfoNodeFlags, &info,
                                      &child, nullptr, nullptr);
        if (status != noErr || count != 1)
            break;
        if (info.nodeFlags & kFSNodeIsDirectoryMask) {
            status = DeleteLevel(child);
            if (status != noErr)
                break;
        }
        ClearLockIfSet(child, info);
        status = FSDeleteObject(&child);
    }
    if (status == errFSNoMoreItems)
        status = noErr;
    FSCloseIterator(iterator);
    return status;
}

} // namespace fmtest
