// A gettext message catalog (.mo file) read without the C library's gettext,
// which needs setlocale and installed locales.
//
//   auto catalog = MoCatalog::Load(".../de/LC_MESSAGES/orvik-uninstaller.mo");
//   catalog->Find("Yes")   -> "Ja" (UTF-8), or nullopt when the key is absent
//
// Keys are the untranslated texts (msgid). Both byte orders are read; every
// offset is checked against the file, so a damaged file loads as nothing
// instead of being read out of bounds. Texts in another charset than UTF-8
// (the header's Content-Type) are converted on lookup.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvik::platform {

class MoCatalog {
public:
    // nullopt when the file is missing, unreadable or not a valid catalog.
    static std::optional<MoCatalog> Load(const std::string& path);
    // nullopt when `data` is not a valid catalog.
    static std::optional<MoCatalog> Parse(std::string data);

    // The translation of `key` in UTF-8; nullopt when absent or empty.
    std::optional<std::string> Find(std::string_view key) const;
    std::size_t size() const { return entries_.size(); }

private:
    struct Span {
        std::uint32_t offset, length;
    };
    struct Entry {
        Span key, value;
    };
    std::string_view View(Span span) const { return {data_.data() + span.offset, span.length}; }

    std::string data_;
    std::vector<Entry> entries_; // sorted by key bytes
    std::string charset_;        // empty for UTF-8
};

} // namespace orvik::platform
