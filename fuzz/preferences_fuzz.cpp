// Feeds the input to the preferences reader as a preference file where the platform looks for
// one (<root>/Library/Preferences/fuzz.plist, the root a temporary folder of this run's own),
// reads it, then changes one value and writes the file back. The first byte picks the file:
//   0  the rest as it is (binary when it starts with "bplist00", else XML);
//   1  "bplist00" followed by the rest;
//   2  an XML property list built from the rest: nested markup, values and raw bytes mixed;
//   3  a binary property list the platform writes itself from values built from the rest,
//      then damaged at places the rest chooses.
// Checks: no crash, nothing leaked, a file that could not be read is never replaced, and a value
// written is read back.
#include "FuzzInput.h"
#include "platform/CFPreferences.h"
#include "platform/CoreFoundation.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using fuzzinput::check;
using fuzzinput::Input;

// This run's folder below the temporary folder, holding the file of the domain "fuzz" for any
// user; removed when the run ends.
struct Scratch {
    std::string root, folder, file;
    Scratch() {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/prefs-XXXXXX";
        check(mkdtemp(pattern.data()) != nullptr);
        root = pattern;
        check(mkdir((root + "/Library").c_str(), 0700) == 0);
        folder = root + "/Library/Preferences";
        check(mkdir(folder.c_str(), 0700) == 0);
        file = folder + "/fuzz.plist";
        orvik::preferences::SetPreferencesRootPrefix(root);
        check(orvik::preferences::PreferencesFilePath(CFSTR("fuzz"), kCFPreferencesAnyUser) ==
              file);
    }
    ~Scratch() {
        orvik::preferences::SetPreferencesRootPrefix("");
        unlink(file.c_str());
        rmdir(folder.c_str());
        rmdir((root + "/Library").c_str());
        rmdir(root.c_str());
    }
};

const Scratch& scratch() {
    static Scratch s;
    return s;
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    out.close();
    check(!out.fail());
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// ---- an XML property list built from the input

const char* const kKeys[] = {"k0", "k1", "k2", "k3"};

void XmlValue(Input& in, std::string& out, int depth);

void XmlEntries(Input& in, std::string& out, int depth, bool dict) {
    for (int k = in.byte() % 5; k > 0 && !in.empty(); --k) {
        if (dict)
            out += "<key>" + (in.byte() & 1 ? std::string(kKeys[in.byte() % 4]) : in.bytes(8)) +
                   "</key>";
        XmlValue(in, out, depth + 1);
    }
}

// A run of `levels` arrays around one value, closed or left open.
void XmlDeep(Input& in, std::string& out, int depth) {
    const int levels = in.byte() * 2;
    for (int i = 0; i < levels; ++i)
        out += "<array>";
    XmlValue(in, out, depth + 1);
    if (in.byte() & 1)
        for (int i = 0; i < levels; ++i)
            out += "</array>";
}

void XmlValue(Input& in, std::string& out, int depth) {
    const uint8_t kind = in.byte();
    switch (depth > 40 ? kind % 7 : kind % 10) {
    case 0:
        out += "<string>" + in.bytes(12) + "</string>";
        break;
    case 1:
        out += "<integer>" +
               std::to_string(static_cast<int8_t>(in.byte()) * (1ll << (in.byte() % 56))) +
               "</integer>";
        break;
    case 2:
        out += "<real>" + in.bytes(10) + "</real>";
        break;
    case 3:
        out += in.byte() & 1 ? "<true/>" : "<false/>";
        break;
    case 4:
        out += "<data>" + in.bytes(16) + "</data>";
        break;
    case 5:
        out += "<date>" + in.bytes(24) + "</date>";
        break;
    case 6:
        out += in.bytes(6); // raw bytes where markup belongs
        break;
    case 7:
        out += "<array>";
        XmlEntries(in, out, depth, false);
        out += "</array>";
        break;
    case 8:
        out += "<dict>";
        XmlEntries(in, out, depth, true);
        out += "</dict>";
        break;
    default:
        XmlDeep(in, out, depth);
        break;
    }
}

std::string BuildXml(Input& in) {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>";
    XmlEntries(in, out, 0, true);
    return out + "</dict>\n</plist>\n";
}

// ---- a binary property list the platform writes from values built from the input

// A binary property list holding an empty dictionary.
std::string EmptyBinaryPlist() {
    std::string data = "bplist00";
    data += '\xD0';                               // object 0: a dictionary of no entries
    data += '\x08';                               // its offset
    data += std::string(6, '\0');                 // trailer
    data += std::string("\x01\x01", 2);           // offset and reference sizes
    data += std::string("\0\0\0\0\0\0\0\x01", 8); // one object
    data += std::string(8, '\0');                 // the top object is object 0
    data += std::string("\0\0\0\0\0\0\0\x09", 8); // offset table at byte 9
    return data;
}

CFStringRef Key(Input& in) {
    return CFStringCreateWithCString(nullptr, kKeys[in.byte() % 4], kCFStringEncodingUTF8);
}

CFTypeRef CFValue(Input& in, int depth);

CFTypeRef CFContainer(Input& in, int depth, bool dict) {
    CFMutableArrayRef array =
        dict ? nullptr : CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    CFMutableDictionaryRef map =
        dict ? CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                         &kCFTypeDictionaryValueCallBacks)
             : nullptr;
    for (int k = in.byte() % 4; k > 0 && !in.empty(); --k) {
        CFTypeRef item = CFValue(in, depth + 1);
        if (dict) {
            CFStringRef key = Key(in);
            CFDictionarySetValue(map, key, item);
            CFRelease(key);
        } else {
            CFArrayAppendValue(array, item);
        }
        CFRelease(item);
    }
    return dict ? static_cast<CFTypeRef>(map) : array;
}

CFTypeRef CFValue(Input& in, int depth) {
    switch (in.byte() % (depth > 8 ? 6 : 8)) {
    case 0: {
        const std::string text = in.bytes(12);
        CFStringRef s = CFStringCreateWithBytes(
            nullptr, reinterpret_cast<const UInt8*>(text.data()), static_cast<CFIndex>(text.size()),
            kCFStringEncodingUTF8, false);
        return s != nullptr ? s : CFRetain(CFSTR("not UTF-8"));
    }
    case 1: {
        const int64_t value = static_cast<int64_t>(in.byte()) << (in.byte() % 64);
        return CFNumberCreate(nullptr, kCFNumberSInt64Type, &value);
    }
    case 2: {
        const double value = static_cast<int8_t>(in.byte()) / 3.0 * (1 << (in.byte() % 30));
        return CFNumberCreate(nullptr, kCFNumberFloat64Type, &value);
    }
    case 3:
        return CFRetain(in.byte() & 1 ? kCFBooleanTrue : kCFBooleanFalse);
    case 4: {
        const std::string bytes = in.bytes(16);
        return CFDataCreate(nullptr, reinterpret_cast<const UInt8*>(bytes.data()),
                            static_cast<CFIndex>(bytes.size()));
    }
    case 5:
        return CFDateCreate(nullptr, static_cast<int8_t>(in.byte()) * 1e7 + in.byte() / 7.0);
    case 6:
        return CFContainer(in, depth, false);
    default:
        return CFContainer(in, depth, true);
    }
}

// The platform's own binary file of a few values, then up to 16 bytes changed.
std::string BuildDamagedBinary(Input& in) {
    WriteFile(scratch().file, EmptyBinaryPlist());
    for (int k = in.byte() % 4 + 1; k > 0; --k) {
        CFStringRef key = Key(in);
        CFTypeRef value = CFValue(in, 0);
        CFPreferencesSetValue(key, value, CFSTR("fuzz"), kCFPreferencesAnyUser,
                              kCFPreferencesAnyHost);
        CFRelease(key);
        CFRelease(value);
    }
    check(CFPreferencesSynchronize(CFSTR("fuzz"), kCFPreferencesAnyUser, kCFPreferencesAnyHost));
    std::string data = ReadFile(scratch().file);
    for (int k = in.byte() % 17; k > 0 && !in.empty(); --k) {
        const size_t at = (in.byte() | in.byte() << 8) % data.size();
        data[at] = static_cast<char>(in.byte());
    }
    return data;
}

// ---- reading and writing

// One read converts the whole file, whichever key it asks for.
void ReadOneKey(Input& in) {
    CFStringRef key = Key(in);
    CFPropertyListRef value =
        CFPreferencesCopyValue(key, CFSTR("fuzz"), kCFPreferencesAnyUser, kCFPreferencesAnyHost);
    if (value != nullptr)
        CFRelease(value);
    CFRelease(key);
}

// Sets one value and writes the file: either the write fails and the file is as it was, or the
// value is read back from the new file.
void WriteOneValue() {
    const std::string before = ReadFile(scratch().file);
    CFStringRef key = CFSTR("written");
    const int64_t number = 42;
    CFNumberRef value = CFNumberCreate(nullptr, kCFNumberSInt64Type, &number);
    CFPreferencesSetValue(key, value, CFSTR("fuzz"), kCFPreferencesAnyUser, kCFPreferencesAnyHost);
    const bool written =
        CFPreferencesSynchronize(CFSTR("fuzz"), kCFPreferencesAnyUser, kCFPreferencesAnyHost);
    // Unsaved changes go, so that only the file answers.
    orvik::preferences::SetPreferencesRootPrefix(scratch().root);
    if (written) {
        CFPropertyListRef back = CFPreferencesCopyValue(key, CFSTR("fuzz"), kCFPreferencesAnyUser,
                                                        kCFPreferencesAnyHost);
        check(back != nullptr && CFEqual(back, value));
        CFRelease(back);
    } else {
        check(ReadFile(scratch().file) == before);
    }
    CFRelease(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Scratch& s = scratch();
    Input in{data, size};
    switch (in.byte() % 4) {
    case 0:
        WriteFile(s.file, std::string(reinterpret_cast<const char*>(in.p), in.n));
        break;
    case 1:
        WriteFile(s.file, "bplist00" + std::string(reinterpret_cast<const char*>(in.p), in.n));
        break;
    case 2:
        WriteFile(s.file, BuildXml(in));
        break;
    default:
        WriteFile(s.file, BuildDamagedBinary(in));
        break;
    }
    ReadOneKey(in);
    WriteOneValue();
    return 0;
}
