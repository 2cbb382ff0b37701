// Feeds the input to the .mo catalog reader and looks texts up in what it loaded. The first byte
// picks the catalog:
//   even  the rest as it is; every zero-separated piece of it is looked up;
//   odd   a catalog built from the rest: keys and translations, perhaps a header naming a
//         character set, either byte order, the table sorted or not, then perhaps damaged at
//         places the rest chooses; every key is looked up.
// Checks: no crash, nothing leaked, and an undamaged UTF-8 catalog loads and gives each key its
// translation.
#include "FuzzInput.h"
#include "platform/intl/MoCatalog.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using fuzzinput::check;
using fuzzinput::Input;

using orvik::platform::MoCatalog;

const char* const kCharsets[] = {"UTF-8", "ISO-8859-1", "KOI8-R", "Shift_JIS",
                                 "utf8",  "CHARSET",    "x-none", ""};

struct Built {
    std::string data;
    std::map<std::string, std::string> translations; // key -> what Find must give
    bool checkable = false;                          // undamaged and UTF-8
};

void PutWord(std::string& data, size_t at, uint32_t word, bool swapped) {
    if (swapped)
        word = __builtin_bswap32(word);
    for (int i = 0; i < 4; ++i)
        data[at + i] = static_cast<char>(word >> (8 * i));
}

// Keys and translations; the header (empty key) first when there is one.
std::vector<std::pair<std::string, std::string>> Entries(Input& in, bool* utf8) {
    std::vector<std::pair<std::string, std::string>> entries;
    const uint8_t charset = in.byte();
    *utf8 = true;
    if (charset & 1) {
        const std::string name = kCharsets[(charset >> 1) % 8];
        entries.emplace_back("", "Content-Type: text/plain; charset=" + name + "\n");
        *utf8 = name == "UTF-8" || name == "utf8" || name == "CHARSET" || name.empty();
    }
    for (int k = in.byte() % 12; k > 0 && !in.empty(); --k) {
        // Unique keys; a plural key and translation hold a second part after a zero.
        std::string key = std::to_string(entries.size()) + ":" + in.bytes(10, false);
        std::string value = in.bytes(10, false);
        if (in.byte() % 4 == 0) {
            key += '\0' + in.bytes(6, true);
            value += '\0' + in.bytes(6, true);
        }
        entries.emplace_back(key, value);
    }
    return entries;
}

Built BuildCatalog(Input& in) {
    const uint8_t shape = in.byte();
    const bool swapped = shape & 1, sorted = shape & 2;
    bool utf8 = true;
    std::vector<std::pair<std::string, std::string>> entries = Entries(in, &utf8);
    if (sorted)
        std::sort(entries.begin(), entries.end());
    const uint32_t count = static_cast<uint32_t>(entries.size());
    Built b;
    b.data.assign(28 + 16 * count, '\0');
    PutWord(b.data, 0, 0x950412DEu, swapped);
    PutWord(b.data, 4, (shape & 4) ? 1u << 16 : 0, swapped);
    PutWord(b.data, 8, count, swapped);
    PutWord(b.data, 12, 28, swapped);
    PutWord(b.data, 16, 28 + 8 * count, swapped);
    for (uint32_t i = 0; i < count; ++i) {
        for (int side = 0; side < 2; ++side) {
            const std::string& text = side == 0 ? entries[i].first : entries[i].second;
            const size_t slot = 28 + 8 * (side * count + i);
            PutWord(b.data, slot, static_cast<uint32_t>(text.size()), swapped);
            PutWord(b.data, slot + 4, static_cast<uint32_t>(b.data.size()), swapped);
            b.data += text;
            b.data += '\0';
        }
        const std::string& key = entries[i].first;
        const std::string value = entries[i].second.substr(0, entries[i].second.find('\0'));
        if (!key.empty() && !value.empty())
            b.translations[key.substr(0, key.find('\0'))] = value;
    }
    b.checkable = utf8;
    for (int k = (shape >> 3) % 8; k > 0 && !in.empty(); --k) {
        b.data[(in.byte() | in.byte() << 8) % b.data.size()] = static_cast<char>(in.byte());
        b.checkable = false;
    }
    return b;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    if ((in.byte() & 1) == 0) {
        const std::string text(reinterpret_cast<const char*>(in.p), in.n);
        const std::optional<MoCatalog> catalog = MoCatalog::Parse(text);
        if (!catalog)
            return 0;
        size_t start = 0;
        for (int pieces = 0; start <= text.size() && pieces < 64; ++pieces) {
            const size_t end = std::min(text.find('\0', start), text.size());
            const std::optional<std::string> found =
                catalog->Find(std::string_view(text).substr(start, end - start));
            check(!found || !found->empty());
            start = end + 1;
        }
        return 0;
    }
    const Built built = BuildCatalog(in);
    const std::optional<MoCatalog> catalog = MoCatalog::Parse(built.data);
    check(catalog.has_value() || !built.checkable);
    if (!catalog)
        return 0;
    for (const auto& [key, value] : built.translations) {
        const std::optional<std::string> found = catalog->Find(key);
        check(!built.checkable || found == value);
    }
    return 0;
}
