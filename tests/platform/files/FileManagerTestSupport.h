// Shared by the file-manager tests: the temporary-folder fixture, and a
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
        return OSErr(FSPathMakeRefWithOptions(
            reinterpret_cast<const UInt8*>(Path(relative).c_str()),
            followLeaf ? OptionBits(0) : OptionBits(kFSPathMakeRefDoNotFollowLeafSymlink), ref,
            nullptr));
    }
    // The catalog information of what the text names (a final link itself).
    OSErr Info(const std::string& relative, FSCatalogInfo* info,
               FSCatalogInfoBitmap which = kFSCatInfoGettableInfo) const {
        FSRef ref;
        const OSErr status = Ref(relative, &ref, false);
        return status ? status : FSGetCatalogInfo(&ref, which, info, nullptr, nullptr, nullptr);
    }
};

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

inline OSErr DeleteObjectClearingLock(const FSRef& ref, FSCatalogInfo info) {
    if (info.nodeFlags & kFSNodeLockedMask) {
        info.nodeFlags &= ~kFSNodeLockedMask;
        FSSetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info);
    }
    return FSDeleteObject(&ref);
}

// Deletes what a folder holds, depth first.
inline OSErr DeleteLevel(const FSRef& folder) {
    FSIterator iterator = nullptr;
    OSErr status = FSOpenIterator(&folder, kFSIterateDelete, &iterator);
    while (status == noErr) {
        ItemCount count = 0;
        FSCatalogInfo info;
        FSRef child;
        status = FSGetCatalogInfoBulk(iterator, 1, &count, nullptr, kFSCatInfoNodeFlags, &info,
                                      &child, nullptr, nullptr);
        if (status == noErr && (info.nodeFlags & kFSNodeIsDirectoryMask))
            status = DeleteLevel(child);
        if (status == noErr)
            status = DeleteObjectClearingLock(child, info);
    }
    if (iterator != nullptr)
        FSCloseIterator(iterator);
    return status == errFSNoMoreItems ? OSErr(noErr) : status;
}

// Deletes an object and, for a folder, everything inside it.
inline OSErr DeleteTree(const FSRef& ref) {
    FSCatalogInfo info;
    OSErr status = FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr);
    if (status == noErr && (info.nodeFlags & kFSNodeIsDirectoryMask))
        status = DeleteLevel(ref);
    return status == noErr ? DeleteObjectClearingLock(ref, info) : status;
}

} // namespace fmtest
