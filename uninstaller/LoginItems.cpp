// Removing the product's entries from the login window's list of auto-launched
// applications.
#include <cstring>
#include <string>
#include <syslog.h>

#include "platform/CFRef.h"
#include "platform/CFStringBytes.h"
#include "platform/CoreFoundation.h"
#include "uninstaller/Uninstall.h"

namespace {

// A platform string as 8-bit text in the system encoding; empty when it cannot
// be converted.
std::string SystemEncodingText(CFStringRef text) {
    return CFStringBytes(text, CFStringGetSystemEncoding());
}

// The "Path" string of one login item, or null when the entry has none.
CFStringRef LoginItemPath(CFTypeRef item) {
    if (item == nullptr || CFGetTypeID(item) != CFDictionaryGetTypeID())
        return nullptr;
    const orvik::CFRef<CFStringRef> key(
        CFStringCreateWithCString(kCFAllocatorDefault, "Path", kCFStringEncodingUTF8));
    CFTypeRef path = CFDictionaryGetValue(static_cast<CFDictionaryRef>(item), key.get());
    if (path == nullptr || CFGetTypeID(path) != CFStringGetTypeID())
        return nullptr;
    return static_cast<CFStringRef>(path);
}

orvik::CFRef<CFStringRef> CFText(const char* text) {
    return orvik::CFRef<CFStringRef>(
        CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingUTF8));
}

} // namespace

bool RemoveMatchingLoginItems(CFMutableArrayRef items, CFStringRef prefix) {
    const std::string folder = SystemEncodingText(prefix);
    bool removed = false;
    CFIndex i = 0;
    while (i < CFArrayGetCount(items)) {
        CFStringRef path = LoginItemPath(CFArrayGetValueAtIndex(items, i));
        if (path == nullptr) {
            ++i;
            continue;
        }
        const bool match = CFStringHasPrefix(path, prefix);
        const std::string entry = SystemEncodingText(path);
        UninstallLog(LOG_NOTICE, "Comparing %s to %s == %d\n", entry.c_str(), folder.c_str(),
                     match ? 1 : 0);
        if (match) {
            UninstallLog(LOG_NOTICE, "Removing value %s at index %d\n", entry.c_str(),
                         static_cast<int>(i));
            CFArrayRemoveValueAtIndex(items, i);
            removed = true; // i stays: the next entry has moved into place i
        } else {
            ++i;
        }
    }
    return removed;
}

bool RemoveService(const CAtlString& appFolder) {
    const orvik::CFRef<CFStringRef> prefix(appFolder.CreateCFStringRef(kCFAllocatorDefault));
    const CAtlStringA folder(appFolder);
    UninstallLog(LOG_NOTICE,
                 "Attempting to remove entries for %s in "
                 "/Libary/Preferences/loginwindow.plist\n",
                 folder.GetString());

    const orvik::CFRef<CFStringRef> key = CFText("AutoLaunchedApplicationDictionary");
    const orvik::CFRef<CFStringRef> domain = CFText("loginwindow");
    const orvik::CFRef<CFPropertyListRef> value(CFPreferencesCopyValue(
        key.get(), domain.get(), kCFPreferencesAnyUser, kCFPreferencesCurrentHost));
    if (!value) {
        UninstallLog(LOG_WARNING, "Failed to load loginwindow.plist.  This is potentially a file "
                                  "permission problem.\n");
        UninstallLog(LOG_WARNING,
                     "Please remove the entries for Path=\"%s\" in this file manually\n",
                     folder.GetString());
        return false;
    }

    // A value that is not a list cannot be copied as one.
    orvik::CFRef<CFMutableArrayRef> items;
    if (CFGetTypeID(value.get()) == CFArrayGetTypeID())
        items.reset(
            CFArrayCreateMutableCopy(kCFAllocatorDefault, 0, static_cast<CFArrayRef>(value.get())));
    if (!items)
        return false;

    const bool removed = RemoveMatchingLoginItems(items.get(), prefix.get());
    CFPreferencesSetValue(key.get(), items.get(), domain.get(), kCFPreferencesAnyUser,
                          kCFPreferencesCurrentHost);
    if (removed)
        CFPreferencesSynchronize(domain.get(), kCFPreferencesAnyUser, kCFPreferencesCurrentHost);
    return true;
}
