// The main bundle: where the program's resources and translations are found.
#include "platform/CFBundle.h"
#include "platform/CFRef.h"

#include "platform/CFRuntime.h"
#include "platform/CFStringBytes.h"
#include "platform/intl/LocaleEnvironment.h"
#include "platform/intl/MoCatalog.h"

#include <algorithm>
#include <climits>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

struct __CFBundle {
    CFRuntimeBase base;
};

namespace orvik::bundle {
namespace {

constexpr const char* kDefaultTable = "orvik-uninstaller";
constexpr const char* kResourcesBelowPrefix = "/share/orvik-uninstaller";
constexpr const char* kLocalesBelowPrefix = "/share/locale";

const CFRuntimeClass kBundleClass = {"CFBundle", nullptr, nullptr, nullptr, nullptr};

std::string g_resourcesOverride, g_localesOverride;

std::map<std::string, std::optional<platform::MoCatalog>>& Catalogs() {
    static std::map<std::string, std::optional<platform::MoCatalog>> catalogs;
    return catalogs;
}

// The folder above the executable's own folder: <prefix> of <prefix>/bin/exe.
std::string InstallPrefix() {
    char exe[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0)
        return std::string();
    std::string path(exe, static_cast<size_t>(n));
    path.erase(path.rfind('/'));                        // the executable's folder
    path.erase(std::min(path.rfind('/'), path.size())); // its parent
    return path;
}

std::string Utf8(CFStringRef string) {
    return CFStringBytes(string);
}

// A name that stays inside its folder.
bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

// "fr-CA" -> "fr_CA", "fr"; in the user's order, without repeats.
std::vector<std::string> CatalogLanguages() {
    std::vector<std::string> names;
    auto add = [&names](const std::string& name) {
        if (IsPlainName(name) && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    };
    for (std::string tag : platform::LanguagesFromEnvironment()) {
        for (char& c : tag)
            if (c == '-')
                c = '_';
        for (std::string name = tag; !name.empty();) {
            add(name);
            const std::size_t cut = name.rfind('_');
            name = cut == std::string::npos ? std::string() : name.substr(0, cut);
        }
    }
    return names;
}

const std::optional<platform::MoCatalog>& Catalog(const std::string& path) {
    auto found = Catalogs().find(path);
    if (found == Catalogs().end())
        found = Catalogs().emplace(path, platform::MoCatalog::Load(path)).first;
    return found->second;
}

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

CFURLRef FileURL(const std::string& path, bool isDirectory) {
    const orvik::CFRef<CFStringRef> string(
        CFStringCreateWithCString(kCFAllocatorDefault, path.c_str(), kCFStringEncodingUTF8));
    if (!string)
        return nullptr;
    return CFURLCreateWithFileSystemPath(kCFAllocatorDefault, string.get(), kCFURLPOSIXPathStyle,
                                         isDirectory);
}

CFTypeID BundleTypeID() {
    static const CFTypeID id = _CFRuntimeRegisterClass(&kBundleClass);
    return id;
}

} // namespace

void SetMainBundleFolders(const std::string& resources, const std::string& locales) {
    g_resourcesOverride = resources;
    g_localesOverride = locales;
    Catalogs().clear();
}

std::string MainBundleResourcesFolder() {
    return !g_resourcesOverride.empty() ? g_resourcesOverride
                                        : InstallPrefix() + kResourcesBelowPrefix;
}

std::string MainBundleLocalesFolder() {
    return !g_localesOverride.empty() ? g_localesOverride : InstallPrefix() + kLocalesBelowPrefix;
}

} // namespace orvik::bundle

using namespace orvik::bundle;

CFTypeID CFBundleGetTypeID(void) {
    return BundleTypeID();
}

CFBundleRef CFBundleGetMainBundle(void) {
    // Created once and never freed: the platform keeps its own reference.
    static CFBundleRef main = static_cast<CFBundleRef>(const_cast<void*>(
        _CFRuntimeCreateInstance(kCFAllocatorDefault, BundleTypeID(), sizeof(__CFBundle))));
    return main;
}

CFStringRef CFBundleCopyLocalizedString(CFBundleRef bundle, CFStringRef key, CFStringRef value,
                                        CFStringRef tableName) {
    CFStringRef fallback =
        value != nullptr && CFStringGetLength(value) > 0 ? value : (key != nullptr ? key : value);
    if (bundle != nullptr && key != nullptr) {
        const std::string table = tableName != nullptr ? Utf8(tableName) : kDefaultTable;
        const std::string text = Utf8(key);
        if (IsPlainName(table) && !text.empty()) {
            const std::string locales = MainBundleLocalesFolder();
            for (const std::string& language : CatalogLanguages()) {
                const auto& catalog =
                    Catalog(locales + "/" + language + "/LC_MESSAGES/" + table + ".mo");
                if (!catalog)
                    continue;
                if (const auto translation = catalog->Find(text))
                    if (CFStringRef found = CFStringCreateWithCString(
                            kCFAllocatorDefault, translation->c_str(), kCFStringEncodingUTF8))
                        return found;
            }
        }
    }
    return fallback != nullptr ? CFStringCreateCopy(kCFAllocatorDefault, fallback) : nullptr;
}

CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                                 CFStringRef resourceType, CFStringRef subDirName) {
    if (bundle == nullptr || resourceName == nullptr)
        return nullptr;
    std::string file = Utf8(resourceName);
    const std::string type = Utf8(resourceType);
    if (!type.empty())
        file += (type[0] == '.' ? "" : ".") + type;
    std::string folder = MainBundleResourcesFolder();
    const std::string subfolder = Utf8(subDirName);
    if (!subfolder.empty()) {
        if (subfolder.find("..") != std::string::npos)
            return nullptr;
        folder += "/" + subfolder;
    }
    if (file.empty() || file.find("..") != std::string::npos)
        return nullptr;
    std::vector<std::string> candidates;
    for (const std::string& language : CatalogLanguages())
        candidates.push_back(folder + "/" + language + ".lproj/" + file);
    candidates.push_back(folder + "/" + file);
    for (const std::string& path : candidates)
        if (Exists(path))
            return FileURL(path, false);
    return nullptr;
}

CFURLRef CFBundleCopyResourcesDirectoryURL(CFBundleRef bundle) {
    return bundle != nullptr ? FileURL(MainBundleResourcesFolder(), true) : nullptr;
}

CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle) {
    if (bundle == nullptr)
        return nullptr;
    std::string folder = MainBundleResourcesFolder();
    const std::size_t cut = folder.rfind("/share/");
    return FileURL(cut == std::string::npos ? folder : folder.substr(0, cut), true);
}
