// Reading a gettext .mo catalog: header, charset and the message table, all checked.
#include "platform/intl/MoCatalog.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unicode/ucnv.h>

namespace orvik::platform {
namespace {

constexpr std::uint32_t kMagic = 0x950412DEu;
constexpr std::uint32_t kMagicSwapped = 0xDE120495u;
constexpr std::size_t kHeaderSize = 28;

std::uint32_t ReadWord(const std::string& data, std::size_t at, bool swapped) {
    std::uint32_t word;
    std::memcpy(&word, data.data() + at, sizeof word);
    return swapped ? __builtin_bswap32(word) : word;
}

// The key a catalog entry is sorted by: the msgid up to its first zero (a
// plural entry holds "singular\0plural").
std::string_view FirstPart(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

std::string CharsetOfHeader(std::string_view header) {
    const std::string_view marker = "charset=";
    const std::size_t at = header.find(marker);
    if (at == std::string_view::npos)
        return std::string();
    std::size_t end = at + marker.size();
    while (end < header.size() && header[end] != '\n' && header[end] != ';' && header[end] != ' ')
        ++end;
    std::string charset(header.substr(at + marker.size(), end - at - marker.size()));
    std::string lower = charset;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower == "utf-8" || lower == "utf8" || lower == "ascii" || lower == "us-ascii" ||
        lower == "charset")
        return std::string();
    return charset;
}

std::optional<std::string> ToUtf8(std::string_view text, const std::string& charset) {
    if (charset.empty())
        return std::string(text);
    UErrorCode error = U_ZERO_ERROR;
    std::string out(text.size() * 4 + 4, '\0');
    const int32_t length =
        ucnv_convert("UTF-8", charset.c_str(), out.data(), static_cast<int32_t>(out.size()),
                     text.data(), static_cast<int32_t>(text.size()), &error);
    if (U_FAILURE(error))
        return std::nullopt;
    out.resize(static_cast<std::size_t>(length));
    return out;
}

} // namespace

std::optional<MoCatalog> MoCatalog::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
        return std::nullopt;
    return Parse(std::move(content).str());
}

std::optional<MoCatalog> MoCatalog::Parse(std::string data) {
    if (data.size() < kHeaderSize || data.size() > UINT32_MAX)
        return std::nullopt;
    const std::uint32_t magic = ReadWord(data, 0, false);
    if (magic != kMagic && magic != kMagicSwapped)
        return std::nullopt;
    const bool swapped = magic == kMagicSwapped;
    // Major revision 0 and 1 share the tables read here.
    if ((ReadWord(data, 4, swapped) >> 16) > 1)
        return std::nullopt;
    const std::uint64_t count = ReadWord(data, 8, swapped);
    const std::uint64_t originals = ReadWord(data, 12, swapped);
    const std::uint64_t translations = ReadWord(data, 16, swapped);
    if (originals + count * 8 > data.size() || translations + count * 8 > data.size())
        return std::nullopt;

    MoCatalog catalog;
    catalog.entries_.reserve(count);
    auto span = [&](std::uint64_t table, std::uint64_t index, Span* out) {
        const std::uint32_t length = ReadWord(data, table + index * 8, swapped);
        const std::uint32_t offset = ReadWord(data, table + index * 8 + 4, swapped);
        // The text must be followed by its terminating zero inside the file.
        if (static_cast<std::uint64_t>(offset) + length >= data.size() ||
            data[offset + length] != '\0')
            return false;
        *out = Span{offset, length};
        return true;
    };
    for (std::uint64_t i = 0; i < count; ++i) {
        Entry entry;
        if (!span(originals, i, &entry.key) || !span(translations, i, &entry.value))
            return std::nullopt;
        catalog.entries_.push_back(entry);
    }
    catalog.data_ = std::move(data);
    auto before = [&catalog](const Entry& a, const Entry& b) {
        return FirstPart(catalog.View(a.key)) < FirstPart(catalog.View(b.key));
    };
    // msgfmt writes the table sorted; a hand-made file may not be.
    if (!std::is_sorted(catalog.entries_.begin(), catalog.entries_.end(), before))
        std::stable_sort(catalog.entries_.begin(), catalog.entries_.end(), before);
    if (!catalog.entries_.empty() && catalog.View(catalog.entries_.front().key).empty())
        catalog.charset_ = CharsetOfHeader(catalog.View(catalog.entries_.front().value));
    return catalog;
}

std::optional<std::string> MoCatalog::Find(std::string_view key) const {
    // The empty msgid is the catalog's header, not a translation.
    if (key.empty() || key.find('\0') != std::string_view::npos)
        return std::nullopt;
    const auto it = std::lower_bound(
        entries_.begin(), entries_.end(), key,
        [this](const Entry& entry, std::string_view k) { return FirstPart(View(entry.key)) < k; });
    if (it == entries_.end() || FirstPart(View(it->key)) != key)
        return std::nullopt;
    const std::string_view value = FirstPart(View(it->value));
    if (value.empty())
        return std::nullopt;
    return ToUtf8(value, charset_);
}

} // namespace orvik::platform
