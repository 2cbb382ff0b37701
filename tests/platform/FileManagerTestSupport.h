// Shared by the file-manager tests: the common temporary-folder fixture, and a
// recursive deletion written against the file-manager calls the way the
// layer above uses them (iterate in deleting mode, depth first, clear a lock
// just before deleting).
#pragma once

#include <string>

#include "platform/FileManager.h"
#include "tests/TestSupport.h"

namespace fmtest {

class TempFolderTest : public testsupport::TempFolderTest {
protected:
    void MakeFile(const std::string& relative, const std::string& content = "",
                  mode_t mode = 0644) {
        ASSERT_TRUE(testsupport::WriteFile(Path(relative), content, mode)) << relative;
    }
    void MakeFolder(const std::string& relative) {
        ASSERT_EQ(mkdir(Path(relative).c_str(), 0755), 0) << relative;
    }
    bool Exists(const std::string& relative) const { return testsupport::Exists(Path(relative)); }
    OSErr Ref(const std::string& relative, FSRef* ref, bool followLeaf = true) const {
        std::string path = Path(relative);
        return OSErr(FSPathMakeRefWithOptions(
            reinterpret_cast<const UInt8*>(path.c_str()),
            followLeaf ? OptionBits(0) : OptionBits(kFSPathMakeRefDoNotFollowLeafSymlink), ref,
            nullptr));
    }
};

inline std::u16string U16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// The path a reference names now, or the failure's status.
inline std::string PathOf(const FSRef& ref) {
    UInt8 buffer[4096];
    const OSErr status = FSRefMakePath(&ref, buffer, sizeof buffer);
    return status == noErr ? reinterpret_cast<char*>(buffer) : "status " + std::to_string(status);
}

inline std::string NameOf(const HFSUniStr255& name) {
    std::string bytes(name.length * 3 + 1, '\0');
    size_t length = 0;
    EXPECT_TRUE(
        FSNameUnicodeToBytes(name.unicode, name.length, bytes.data(), bytes.size(), &length));
    bytes.resize(length);
    return bytes;
}

// Called on entering each folder level (0 for the top one), before its listing.
using LevelHook = void (*)(int depth);

OSErr DeleteLevel(const FSRef& folder, LevelHook onLevel = nullptr, int depth = 0);

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

inline OSErr DeleteLevel(const FSRef& folder, LevelHook onLevel, int depth) {
    FSIterator iterator;
    OSErr status = FSOpenIterator(&folder, kFSIterateDelete, &iterator);
    if (status != noErr)
        return status;
    if (onLevel != nullptr)
        onLevel(depth);
    while (status == noErr) {
        ItemCount count = 0;
        FSCatalogInfo info;
        FSRef child;
        status = FSGetCatalogInfoBulk(iterator, 1, &count, nullptr, kFSCatInfoNodeFlags, &info,
                                      &child, nullptr, nullptr);
        if (status != noErr || count != 1)
            break;
        if (info.nodeFlags & kFSNodeIsDirectoryMask) {
            status = DeleteLevel(child, onLevel, depth + 1);
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
