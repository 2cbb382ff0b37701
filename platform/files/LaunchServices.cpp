// Item information without an application registry: the flags come from
// the object's type, mode and name (see LaunchServices.h).
#include "platform/LaunchServices.h"

#include "platform/files/FileManagerInternal.h"

#include "platform/CoreFoundation.h"

using namespace orvik::fm;

namespace {

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// The extension after the last '.', when the name has one that is neither
// its first nor its last character.
std::string_view ExtensionOf(std::string_view name) {
    size_t dot = name.rfind('.');
    if (dot == name.npos || dot == 0 || dot + 1 == name.size())
        return {};
    return name.substr(dot + 1);
}

} // namespace

OSStatus LSCopyItemInfoForRef(const FSRef* inItemRef, LSRequestedInfo inWhichInfo,
                              LSItemInfoRecord* outItemInfo) {
    OrvikFSNode* node = NodeOf(inItemRef);
    if (!node || !outItemInfo)
        return paramErr;
    struct statx st;
    bool volume = false;
    {
        std::lock_guard<std::recursive_mutex> lock(Lock());
        DirFd dir;
        const char* name;
        if (OSErr status = OpenParent(node, dir, &name))
            return status;
        if (int error = StatxAt(dir.fd(), name, STATX_TYPE | STATX_MODE | STATX_INO, &st))
            return StatusFromErrno(error);
        volume = node->isRoot() || (st.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT &&
                                    st.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    }
    std::string_view name = node->isRoot() ? std::string_view("/") : node->nameView();
    bool link = S_ISLNK(st.stx_mode);
    if (inWhichInfo & (kLSRequestBasicFlagsOnly | kLSRequestAppTypeFlags | kLSRequestAllFlags |
                       kLSRequestExtensionFlagsOnly)) {
        LSItemInfoFlags flags = 0;
        if (link) {
            flags |= kLSItemInfoIsSymlink | kLSItemInfoIsAliasFile;
        } else if (S_ISDIR(st.stx_mode)) {
            flags |= kLSItemInfoIsContainer;
            if (EndsWith(name, ".app"))
                flags |= kLSItemInfoIsPackage | kLSItemInfoIsApplication | kLSItemInfoIsNativeApp;
        } else {
            flags |= kLSItemInfoIsPlainFile;
            if (S_ISREG(st.stx_mode) && (st.stx_mode & (S_IXUSR | S_IXGRP | S_IXOTH)))
                flags |= kLSItemInfoIsApplication | kLSItemInfoIsNativeApp;
        }
        if (name.size() > 1 && name[0] == '.')
            flags |= kLSItemInfoIsInvisible;
        if (volume)
            flags |= kLSItemInfoIsVolume;
        outItemInfo->flags = flags;
    }
    if (inWhichInfo & kLSRequestTypeCreator) {
        outItemInfo->filetype = link ? OSType(kSymLinkFileType) : 0;
        outItemInfo->creator = link ? OSType(kSymLinkCreator) : 0;
    }
    if (inWhichInfo & kLSRequestIconAndKind) {
        outItemInfo->iconFileName = nullptr;
        outItemInfo->kindID = 0;
    }
    if (inWhichInfo & kLSRequestExtension) {
        outItemInfo->extension = nullptr;
        std::string_view extension = ExtensionOf(name);
        if (!extension.empty()) {
            std::u16string units;
            BytesToUnicode(extension, units);
            outItemInfo->extension = CFStringCreateWithCharacters(kCFAllocatorDefault, units.data(),
                                                                  CFIndex(units.size()));
        }
    }
    return noErr;
}
