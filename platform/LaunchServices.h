// Item information of the application registry, over POSIX.
//
// There is no registry on this system, so an item's flags come from the file
// system alone: an application is a regular file with an execute bit (owner,
// group or others), or a folder whose name ends in ".app" (an application
// bundle). The reference is never followed: a symbolic link is reported as a
// link, never as what it points to.
//   LSCopyItemInfoForRef(&ref, kLSRequestAllFlags, &info)
//     /usr/bin/env      -> noErr, flags PlainFile|Application|NativeApp
//     /opt/Foo.app      -> noErr, flags Package|Application|NativeApp|Container
//     /etc/hosts        -> noErr, flags PlainFile
#pragma once

#include "platform/FileManager.h"

typedef OptionBits LSRequestedInfo;
enum : LSRequestedInfo {
    kLSRequestExtension = 0x00000001, // the name's extension as a CFString
    kLSRequestTypeCreator = 0x00000002,
    kLSRequestBasicFlagsOnly = 0x00000004,
    kLSRequestAppTypeFlags = 0x00000008,
    kLSRequestAllFlags = 0x00000010,
    kLSRequestIconAndKind = 0x00000020,
    kLSRequestExtensionFlagsOnly = 0x00000040,
    kLSRequestAllInfo = 0xFFFFFFFF,
};

typedef OptionBits LSItemInfoFlags;
enum : LSItemInfoFlags {
    kLSItemInfoIsPlainFile = 0x00000001,
    kLSItemInfoIsPackage = 0x00000002,
    kLSItemInfoIsApplication = 0x00000004,
    kLSItemInfoIsContainer = 0x00000008,
    kLSItemInfoIsAliasFile = 0x00000010,
    kLSItemInfoIsSymlink = 0x00000020,
    kLSItemInfoIsInvisible = 0x00000040,
    kLSItemInfoIsNativeApp = 0x00000080,
    kLSItemInfoIsClassicApp = 0x00000100,
    kLSItemInfoAppPrefersNative = 0x00000200,
    kLSItemInfoAppPrefersClassic = 0x00000400,
    kLSItemInfoAppIsScriptable = 0x00000800,
    kLSItemInfoIsVolume = 0x00001000,
    kLSItemInfoExtensionIsHidden = 0x00100000,
};

struct LSItemInfoRecord {
    LSItemInfoFlags flags;
    OSType filetype;          // 'slnk' for a link, 0 otherwise
    OSType creator;           // 'rhap' for a link, 0 otherwise
    CFStringRef extension;    // with kLSRequestExtension: the caller releases it (null if none)
    CFStringRef iconFileName; // always null
    UInt32 kindID;
};

// Fills the fields requested (flags for any of the flag requests); noErr,
// paramErr for a null or empty reference, fnfErr when the object is gone.
OSStatus LSCopyItemInfoForRef(const FSRef* inItemRef, LSRequestedInfo inWhichInfo,
                              LSItemInfoRecord* outItemInfo);
