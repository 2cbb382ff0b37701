// Preferences: property-list values stored per domain in the preference
// folders.
//
//   user kCFPreferencesAnyUser      -> <root>/Library/Preferences/<domain>.plist
//   user kCFPreferencesCurrentUser  -> <root>$HOME/Library/Preferences/<domain>.plist
//
// <root> is empty except in tests (SetPreferencesRootPrefix). The host does
// not change the file. Values are the CF property-list types (dictionary,
// array, string, number, boolean, data, date). Files are read in XML or
// binary form.
//
//   CFPreferencesCopyValue(key, domain, user, host)   new reference, or null when
//                                                     the file or key is missing or
//                                                     unreadable
//   CFPreferencesSetValue(key, value, domain, ...)    changes the value in memory
//                                                     (null value: removes the key)
//   CFPreferencesSynchronize(domain, user, host)      writes the pending changes:
//                                                     temporary file in the same
//                                                     folder, fsync, rename; keeps
//                                                     the file's mode, owner and
//                                                     format (binary stays binary)
//   CFPreferencesCopyAppValue(key, app)               current user, any host; for
//                                                     "AppleLanguages" the user's
//                                                     languages from LANGUAGE, else
//                                                     LC_ALL, LC_MESSAGES, LANG
//                                                     (e.g. "de_DE.UTF-8" -> ["de-DE"]),
//                                                     null when none is set
//
// kCFPreferencesAnyApplication is the domain ".GlobalPreferences";
// kCFPreferencesCurrentApplication the program's name. A user may also be
// given by name (its home folder from the password database).
#pragma once

#include <string>

#if __has_include("platform/CoreFoundation.h")
#include "platform/CoreFoundation.h"
#endif

typedef CFTypeRef CFPropertyListRef;

extern const CFStringRef kCFPreferencesAnyApplication;
extern const CFStringRef kCFPreferencesCurrentApplication;
extern const CFStringRef kCFPreferencesAnyHost;
extern const CFStringRef kCFPreferencesCurrentHost;
extern const CFStringRef kCFPreferencesAnyUser;
extern const CFStringRef kCFPreferencesCurrentUser;

CFPropertyListRef CFPreferencesCopyValue(CFStringRef key, CFStringRef applicationID,
                                         CFStringRef userName, CFStringRef hostName);
CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID);
void CFPreferencesSetValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID,
                           CFStringRef userName, CFStringRef hostName);
void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID);
Boolean CFPreferencesSynchronize(CFStringRef applicationID, CFStringRef userName,
                                 CFStringRef hostName);
Boolean CFPreferencesAppSynchronize(CFStringRef applicationID);

namespace orvik::preferences {

// Puts `prefix` in front of every preference file path ("" restores the real
// folders) and drops unsaved changes. Tests point it at a temporary folder.
void SetPreferencesRootPrefix(const std::string& prefix);
// The file that holds `domain` for `user`: "" for a domain that is not a
// plain file name, an unknown user, or a current user without a home.
std::string PreferencesFilePath(CFStringRef domain, CFStringRef user);

} // namespace orvik::preferences
