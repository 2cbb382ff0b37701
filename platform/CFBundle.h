// Bundles: the program's resources and translations.
//
// The main bundle's resources live in <exe dir>/../share/orvik-uninstaller,
// its translations in <exe dir>/../share/locale/<lang>/LC_MESSAGES/<table>.mo
// (gettext catalogs keyed by the English text, default table
// "orvik-uninstaller"); the same layout serves the build tree (build/bin,
// build/share) and an installation (<prefix>/bin, <prefix>/share).
//
//   CFBundleCopyLocalizedString(CFBundleGetMainBundle(), CFSTR("Yes"), CFSTR("Yes"), nullptr)
//     -> "Ja" with LANGUAGE=de, "Yes" for a language without a catalog
//
// Languages are tried in the user's order (LANGUAGE, else LC_ALL,
// LC_MESSAGES, LANG), each as language_REGION and then as language alone.
#pragma once

#include <string>

#if __has_include("platform/CoreFoundation.h")
#include "platform/CoreFoundation.h"
#endif

typedef struct __CFBundle* CFBundleRef;

CFTypeID CFBundleGetTypeID(void);
// The program's bundle; owned by the platform (not to be released). Never null.
CFBundleRef CFBundleGetMainBundle(void);
// The translation of `key` in table `tableName` (null: the default table);
// when there is none, `value` if it is not null or empty, else `key`. A new
// string; null only when `key` is null and `value` is null.
CFStringRef CFBundleCopyLocalizedString(CFBundleRef bundle, CFStringRef key, CFStringRef value,
                                        CFStringRef tableName);
// The file "<name>[.<type>]" in the resources ([subDirName/]), preferring a
// "<lang>.lproj" folder of the user's languages; null when it does not exist.
CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                                 CFStringRef resourceType, CFStringRef subDirName);
// The resources folder and the bundle's folder (the one above bin/).
CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle);
CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle);

#define CFCopyLocalizedString(key, comment)                                                        \
    CFBundleCopyLocalizedString(CFBundleGetMainBundle(), (key), (key), nullptr)

namespace orvik::bundle {

// Points the main bundle at `resources` and its catalogs at `locales`
// (tests); empty strings restore the folders beside the executable. Loaded
// catalogs are forgotten.
void SetMainBundleFolders(const std::string& resources, const std::string& locales);
// The folders the main bundle uses now.
std::string MainBundleResourcesFolder();
std::string MainBundleLocalesFolder();

} // namespace orvik::bundle
