// Preferences over property-list files (libplist).
//
// Unsaved changes are kept per file as a dictionary of key -> value, with
// kCFNull marking a removed key; reads consult them before the file, so a
// value set is seen at once. Synchronize merges them into the file as it is
// on disk at that moment, so concurrent writers of other keys lose nothing.
#include "platform/CFPreferences.h"
#include "platform/CFRef.h"
#include "platform/CFStringBytes.h"

#include "platform/UniqueFd.h"
#include "platform/intl/LocaleEnvironment.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <plist/plist.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

const CFStringRef kCFPreferencesAnyApplication = CFSTR("kCFPreferencesAnyApplication");
const CFStringRef kCFPreferencesCurrentApplication = CFSTR("kCFPreferencesCurrentApplication");
const CFStringRef kCFPreferencesAnyHost = CFSTR("kCFPreferencesAnyHost");
const CFStringRef kCFPreferencesCurrentHost = CFSTR("kCFPreferencesCurrentHost");
const CFStringRef kCFPreferencesAnyUser = CFSTR("kCFPreferencesAnyUser");
const CFStringRef kCFPreferencesCurrentUser = CFSTR("kCFPreferencesCurrentUser");

namespace orvik::preferences {
namespace {

constexpr const char* kGlobalDomain = ".GlobalPreferences";

std::string g_rootPrefix;

// Unsaved changes by file path; released when written or dropped.
std::map<std::string, CFMutableDictionaryRef>& PendingChanges() {
    static std::map<std::string, CFMutableDictionaryRef> pending;
    return pending;
}

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

std::string Utf8(CFStringRef string) {
    return CFStringBytes(string);
}

bool Is(CFStringRef a, CFStringRef b) {
    return a != nullptr && CFEqual(a, b);
}

std::string DomainName(CFStringRef applicationID) {
    if (Is(applicationID, kCFPreferencesAnyApplication))
        return kGlobalDomain;
    if (Is(applicationID, kCFPreferencesCurrentApplication))
        return program_invocation_short_name;
    return Utf8(applicationID);
}

std::string HomeOf(CFStringRef user) {
    if (Is(user, kCFPreferencesCurrentUser)) {
        const char* home = std::getenv("HOME");
        if (home != nullptr && *home != '\0')
            return home;
        const passwd* entry = getpwuid(geteuid());
        return entry != nullptr ? entry->pw_dir : "";
    }
    const std::string name = Utf8(user);
    const passwd* entry = name.empty() ? nullptr : getpwnam(name.c_str());
    return entry != nullptr ? entry->pw_dir : "";
}

// ---- property lists <-> CF values -------------------------------------------

// Deeper nesting than this is refused rather than recursed into.
constexpr int kMaxDepth = 256;

CFTypeRef CFFromPlist(plist_t node, int depth);

CFTypeRef ArrayFromPlist(plist_t node, int depth) {
    orvik::CFRef<CFMutableArrayRef> array(
        CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks));
    const uint32_t count = plist_array_get_size(node);
    for (uint32_t i = 0; i < count; ++i) {
        const orvik::CFRef<CFTypeRef> value(CFFromPlist(plist_array_get_item(node, i), depth + 1));
        if (!value)
            return nullptr;
        CFArrayAppendValue(array.get(), value.get());
    }
    return array.release();
}

CFTypeRef DictionaryFromPlist(plist_t node, int depth) {
    orvik::CFRef<CFMutableDictionaryRef> dict(CFDictionaryCreateMutable(
        kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(node, &iter);
    for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iter, &key, &item);
        if (item == nullptr) {
            std::free(key);
            break;
        }
        const orvik::CFRef<CFStringRef> cfKey(
            CFStringCreateWithCString(kCFAllocatorDefault, key ? key : "", kCFStringEncodingUTF8));
        std::free(key);
        const orvik::CFRef<CFTypeRef> value(CFFromPlist(item, depth + 1));
        if (!cfKey || !value) {
            std::free(iter);
            return nullptr;
        }
        CFDictionarySetValue(dict.get(), cfKey.get(), value.get());
    }
    std::free(iter);
    return dict.release();
}

// A new CF value for the node; null for a node that has none (or bad UTF-8).
CFTypeRef CFFromPlist(plist_t node, int depth) {
    if (depth > kMaxDepth)
        return nullptr;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t value = 0;
        plist_get_bool_val(node, &value);
        return CFRetain(value ? kCFBooleanTrue : kCFBooleanFalse);
    }
    case PLIST_UINT:
    case PLIST_UID: {
        uint64_t value = 0;
        if (plist_get_node_type(node) == PLIST_UINT)
            plist_get_uint_val(node, &value);
        else
            plist_get_uid_val(node, &value);
        const int64_t signedValue = static_cast<int64_t>(value);
        return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &signedValue);
    }
    case PLIST_REAL: {
        double value = 0;
        plist_get_real_val(node, &value);
        return CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &value);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        char* text = nullptr;
        if (plist_get_node_type(node) == PLIST_STRING)
            plist_get_string_val(node, &text);
        else
            plist_get_key_val(node, &text);
        CFStringRef string =
            CFStringCreateWithCString(kCFAllocatorDefault, text ? text : "", kCFStringEncodingUTF8);
        std::free(text);
        return string;
    }
    case PLIST_DATA: {
        uint64_t length = 0;
        const char* bytes = plist_get_data_ptr(node, &length);
        return CFDataCreate(kCFAllocatorDefault, reinterpret_cast<const UInt8*>(bytes),
                            static_cast<CFIndex>(length));
    }
    case PLIST_DATE: {
        int32_t seconds = 0, microseconds = 0;
        plist_get_date_val(node, &seconds, &microseconds);
        return CFDateCreate(kCFAllocatorDefault, seconds + microseconds / 1e6);
    }
    case PLIST_ARRAY:
        return ArrayFromPlist(node, depth);
    case PLIST_DICT:
        return DictionaryFromPlist(node, depth);
    default:
        return nullptr;
    }
}

plist_t PlistFromCF(CFTypeRef value, int depth = 0);

plist_t PlistFromArray(CFArrayRef array, int depth) {
    PlistPtr node(plist_new_array());
    const CFIndex count = CFArrayGetCount(array);
    for (CFIndex i = 0; i < count; ++i) {
        plist_t item = PlistFromCF(CFArrayGetValueAtIndex(array, i), depth + 1);
        if (item == nullptr)
            return nullptr;
        plist_array_append_item(node.get(), item);
    }
    return node.release();
}

plist_t PlistFromDictionary(CFDictionaryRef dict, int depth) {
    PlistPtr node(plist_new_dict());
    const CFIndex count = CFDictionaryGetCount(dict);
    std::vector<const void*> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
    for (CFIndex i = 0; i < count; ++i) {
        if (keys[i] == nullptr || CFGetTypeID(keys[i]) != CFStringGetTypeID())
            return nullptr; // property-list keys are strings
        plist_t item = PlistFromCF(values[i], depth + 1);
        if (item == nullptr)
            return nullptr;
        plist_dict_set_item(node.get(), Utf8(static_cast<CFStringRef>(keys[i])).c_str(), item);
    }
    return node.release();
}

// A new node for a property-list value; null for other objects.
plist_t PlistFromCF(CFTypeRef value, int depth) {
    if (value == nullptr || depth > kMaxDepth)
        return nullptr;
    const CFTypeID type = CFGetTypeID(value);
    if (type == CFStringGetTypeID())
        return plist_new_string(Utf8(static_cast<CFStringRef>(value)).c_str());
    if (type == CFBooleanGetTypeID())
        return plist_new_bool(CFBooleanGetValue(static_cast<CFBooleanRef>(value)) ? 1 : 0);
    if (type == CFNumberGetTypeID()) {
        CFNumberRef number = static_cast<CFNumberRef>(value);
        if (CFNumberIsFloatType(number)) {
            double real = 0;
            CFNumberGetValue(number, kCFNumberFloat64Type, &real);
            return plist_new_real(real);
        }
        int64_t integer = 0;
        CFNumberGetValue(number, kCFNumberSInt64Type, &integer);
        return plist_new_uint(static_cast<uint64_t>(integer));
    }
    if (type == CFDataGetTypeID()) {
        CFDataRef data = static_cast<CFDataRef>(value);
        return plist_new_data(reinterpret_cast<const char*>(CFDataGetBytePtr(data)),
                              static_cast<uint64_t>(CFDataGetLength(data)));
    }
    if (type == CFDateGetTypeID()) {
        const double at = CFDateGetAbsoluteTime(static_cast<CFDateRef>(value));
        const double seconds = std::floor(at);
        if (seconds < INT32_MIN || seconds > INT32_MAX)
            return nullptr;
        return plist_new_date(static_cast<int32_t>(seconds),
                              static_cast<int32_t>((at - seconds) * 1e6));
    }
    if (type == CFArrayGetTypeID())
        return PlistFromArray(static_cast<CFArrayRef>(value), depth);
    if (type == CFDictionaryGetTypeID())
        return PlistFromDictionary(static_cast<CFDictionaryRef>(value), depth);
    return nullptr;
}

// ---- files -------------------------------------------------------------------

// Whether the tree nests no deeper than kMaxDepth below `node` (at `depth`); reads no text.
bool WithinDepth(plist_t node, int depth) {
    if (depth > kMaxDepth)
        return false;
    if (plist_get_node_type(node) == PLIST_ARRAY) {
        const uint32_t count = plist_array_get_size(node);
        for (uint32_t i = 0; i < count; ++i)
            if (!WithinDepth(plist_array_get_item(node, i), depth + 1))
                return false;
    } else if (plist_get_node_type(node) == PLIST_DICT) {
        plist_dict_iter iter = nullptr;
        plist_dict_new_iter(node, &iter);
        bool within = true;
        for (plist_t item = nullptr; within;) {
            plist_dict_next_item(node, iter, nullptr, &item); // no key: see TextsHoldNoZero
            if (item == nullptr)
                break;
            within = WithinDepth(item, depth + 1);
        }
        std::free(iter);
        return within;
    }
    return true;
}

// libplist ends the program (a failed assertion) when it hands out a string or key holding a
// zero byte, which its parsers let through from raw zero bytes in XML and from U+0000 in a
// binary file's UTF-16 strings. The XML form of the tree shows every byte of every text (data
// goes as Base64), so a zero byte there is a text's own, and such a file is refused before any
// text is read. The depth is checked first: the XML writer recurses.
bool TextsHoldNoZero(plist_t root) {
    if (!WithinDepth(root, 0))
        return false;
    char* xml = nullptr;
    uint32_t size = 0;
    plist_to_xml(root, &xml, &size);
    if (xml == nullptr)
        return false;
    const bool clean = std::memchr(xml, '\0', size) == nullptr;
    plist_to_xml_free(xml);
    return clean;
}

enum class ReadResult { Ok, Missing, Unreadable };

// Reads a property-list file; `binary` tells its format.
ReadResult ReadPlistFile(const std::string& path, PlistPtr* root, bool* binary) {
    // Non-blocking, so that a FIFO in the file's place cannot stall the reader.
    const orvik::UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    const int fd = file.get();
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Unreadable;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return ReadResult::Unreadable;
    std::string data;
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || data.size() + static_cast<size_t>(n) > UINT32_MAX)
            return ReadResult::Unreadable;
        data.append(buffer, static_cast<size_t>(n));
    }
    if (data.empty())
        return ReadResult::Unreadable;
    const uint32_t size = static_cast<uint32_t>(data.size());
    *binary = plist_is_binary(data.data(), size) != 0;
    plist_t node = nullptr;
    plist_from_memory(data.data(), size, &node);
    if (node == nullptr)
        return ReadResult::Unreadable;
    root->reset(node);
    return TextsHoldNoZero(node) ? ReadResult::Ok : ReadResult::Unreadable;
}

// The whole file as a CF dictionary; null when missing or not a dictionary.
CFDictionaryRef CopyFileDictionary(const std::string& path) {
    PlistPtr root;
    bool binary = false;
    if (ReadPlistFile(path, &root, &binary) != ReadResult::Ok ||
        plist_get_node_type(root.get()) != PLIST_DICT)
        return nullptr;
    return static_cast<CFDictionaryRef>(CFFromPlist(root.get(), 0));
}

bool MakeFolders(const std::string& folder) {
    struct stat info;
    if (folder.empty() || stat(folder.c_str(), &info) == 0)
        return true;
    const std::size_t slash = folder.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash)))
        return false;
    return mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Replaces `path` by `bytes` so that a reader sees the old file or the new
// one, never a part: a temporary file in the same folder, flushed, renamed.
bool WriteFileAtomically(const std::string& path, const char* bytes, size_t size) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    if (!MakeFolders(folder))
        return false;
    struct stat old;
    const bool existed = stat(path.c_str(), &old) == 0;
    std::string temp = folder + "/." + path.substr(slash + 1) + ".XXXXXX";
    orvik::UniqueFd file(mkostemp(temp.data(), O_CLOEXEC));
    const int fd = file.get();
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, bytes, size);
    if (existed) {
        ok = ok && fchmod(fd, old.st_mode & 07777) == 0;
        // Only root can give a file away; others keep their own files anyway.
        if (ok && (old.st_uid != geteuid() || old.st_gid != getegid()))
            ok = fchown(fd, old.st_uid, old.st_gid) == 0;
    } else {
        ok = ok && fchmod(fd, 0644) == 0;
    }
    ok = ok && fsync(fd) == 0;
    ok = file.Close() && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    const orvik::UniqueFd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        fsync(dir.get());
    return true;
}

// Whether the reader gets values from the file: a dictionary that converts as a whole (a key
// or string that is not UTF-8, or nesting too deep, makes every read of the file give null).
bool ReadableDictionary(plist_t root) {
    if (plist_get_node_type(root) != PLIST_DICT)
        return false;
    return static_cast<bool>(orvik::CFRef<CFTypeRef>(CFFromPlist(root, 0)));
}

bool WritePending(const std::string& path, CFDictionaryRef changes) {
    PlistPtr root;
    bool binary = false;
    switch (ReadPlistFile(path, &root, &binary)) {
    case ReadResult::Unreadable:
        return false; // never overwrite what could not be read
    case ReadResult::Missing:
        root.reset(plist_new_dict());
        break;
    case ReadResult::Ok:
        if (!ReadableDictionary(root.get()))
            return false;
        break;
    }
    const CFIndex count = CFDictionaryGetCount(changes);
    std::vector<const void*> keys(static_cast<size_t>(count)), values(static_cast<size_t>(count));
    CFDictionaryGetKeysAndValues(changes, keys.data(), values.data());
    for (CFIndex i = 0; i < count; ++i) {
        const std::string key = Utf8(static_cast<CFStringRef>(keys[i]));
        if (values[i] == kCFNull) {
            plist_dict_remove_item(root.get(), key.c_str());
            continue;
        }
        plist_t node = PlistFromCF(values[i]);
        if (node == nullptr)
            return false;
        plist_dict_set_item(root.get(), key.c_str(), node);
    }
    char* bytes = nullptr;
    uint32_t size = 0;
    if (binary)
        plist_to_bin(root.get(), &bytes, &size);
    else
        plist_to_xml(root.get(), &bytes, &size);
    if (bytes == nullptr)
        return false;
    const bool ok = WriteFileAtomically(path, bytes, size);
    if (binary)
        plist_to_bin_free(bytes);
    else
        plist_to_xml_free(bytes);
    return ok;
}

CFArrayRef CopyLanguagesFromEnvironment() {
    const std::vector<std::string> languages = orvik::platform::LanguagesFromEnvironment();
    if (languages.empty())
        return nullptr;
    CFMutableArrayRef array = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
    for (const std::string& tag : languages) {
        const orvik::CFRef<CFStringRef> string(
            CFStringCreateWithCString(kCFAllocatorDefault, tag.c_str(), kCFStringEncodingUTF8));
        if (string)
            CFArrayAppendValue(array, string.get());
    }
    return array;
}

} // namespace

void SetPreferencesRootPrefix(const std::string& prefix) {
    for (auto& [path, changes] : PendingChanges())
        CFRelease(changes);
    PendingChanges().clear();
    g_rootPrefix = prefix;
    while (!g_rootPrefix.empty() && g_rootPrefix.back() == '/')
        g_rootPrefix.pop_back();
}

std::string PreferencesFilePath(CFStringRef domain, CFStringRef user) {
    const std::string name = DomainName(domain);
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return std::string();
    std::string folder;
    if (Is(user, kCFPreferencesAnyUser)) {
        folder = "/Library/Preferences";
    } else {
        const std::string home = HomeOf(user);
        if (home.empty())
            return std::string();
        folder = home + (home.back() == '/' ? "" : "/") + "Library/Preferences";
    }
    return g_rootPrefix + folder + "/" + name + ".plist";
}

} // namespace orvik::preferences

using namespace orvik::preferences;

CFPropertyListRef CFPreferencesCopyValue(CFStringRef key, CFStringRef applicationID,
                                         CFStringRef userName, CFStringRef) {
    if (key == nullptr)
        return nullptr;
    const std::string path = PreferencesFilePath(applicationID, userName);
    if (path.empty())
        return nullptr;
    const auto pending = PendingChanges().find(path);
    if (pending != PendingChanges().end()) {
        const void* value = nullptr;
        if (CFDictionaryGetValueIfPresent(pending->second, key, &value))
            return value == kCFNull ? nullptr : CFRetain(value);
    }
    const orvik::CFRef<CFDictionaryRef> file(CopyFileDictionary(path));
    if (!file)
        return nullptr;
    const void* value = CFDictionaryGetValue(file.get(), key);
    return value != nullptr ? CFRetain(value) : nullptr;
}

CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID) {
    if (key == nullptr)
        return nullptr;
    if (Is(key, CFSTR("AppleLanguages")))
        return CopyLanguagesFromEnvironment();
    // The usual search: the application, then the global domain; the current
    // user before every user.
    for (CFStringRef user : {kCFPreferencesCurrentUser, kCFPreferencesAnyUser})
        for (CFStringRef domain : {applicationID, kCFPreferencesAnyApplication})
            if (CFPropertyListRef value =
                    CFPreferencesCopyValue(key, domain, user, kCFPreferencesAnyHost))
                return value;
    return nullptr;
}

void CFPreferencesSetValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID,
                           CFStringRef userName, CFStringRef) {
    if (key == nullptr)
        return;
    const std::string path = PreferencesFilePath(applicationID, userName);
    if (path.empty())
        return;
    if (value != nullptr) {
        // Only property-list values can be stored.
        plist_t check = PlistFromCF(value);
        if (check == nullptr)
            return;
        plist_free(check);
    }
    CFMutableDictionaryRef& changes = PendingChanges()[path];
    if (changes == nullptr)
        changes =
            CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFCopyStringDictionaryKeyCallBacks,
                                      &kCFTypeDictionaryValueCallBacks);
    CFDictionarySetValue(changes, key, value != nullptr ? value : kCFNull);
}

void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value, CFStringRef applicationID) {
    CFPreferencesSetValue(key, value, applicationID, kCFPreferencesCurrentUser,
                          kCFPreferencesAnyHost);
}

Boolean CFPreferencesSynchronize(CFStringRef applicationID, CFStringRef userName, CFStringRef) {
    const std::string path = PreferencesFilePath(applicationID, userName);
    if (path.empty())
        return false;
    const auto pending = PendingChanges().find(path);
    if (pending == PendingChanges().end())
        return true; // nothing to write; reads always see the file as it is
    if (!WritePending(path, pending->second))
        return false;
    CFRelease(pending->second);
    PendingChanges().erase(pending);
    return true;
}

Boolean CFPreferencesAppSynchronize(CFStringRef applicationID) {
    return CFPreferencesSynchronize(applicationID, kCFPreferencesCurrentUser,
                                    kCFPreferencesAnyHost);
}
