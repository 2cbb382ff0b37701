// The user's locale and languages read from the environment as gettext reads them.
#include "platform/intl/LocaleEnvironment.h"

#include <cstdlib>

namespace orvik::platform {
namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

std::string ToTag(const std::string& posixName) {
    std::string tag = posixName;
    for (char& c : tag)
        if (c == '_')
            c = '-';
    return tag;
}

} // namespace

std::string NormalizeLocaleName(const std::string& name) {
    std::string base = name.substr(0, name.find_first_of(".@"));
    if (base.empty() || base == "C" || base == "POSIX")
        return std::string();
    for (char c : base) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !digit && c != '_' && c != '-')
            return std::string();
    }
    return base;
}

std::string LocaleFromEnvironment() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const std::string value = Variable(variable);
        if (!value.empty())
            return NormalizeLocaleName(value);
    }
    return std::string();
}

std::vector<std::string> LanguagesFromEnvironment() {
    std::vector<std::string> languages;
    const std::string list = Variable("LANGUAGE");
    std::size_t start = 0;
    while (start <= list.size() && !list.empty()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        const std::string name = NormalizeLocaleName(list.substr(start, end - start));
        if (!name.empty())
            languages.push_back(ToTag(name));
        start = end + 1;
    }
    if (languages.empty()) {
        const std::string locale = LocaleFromEnvironment();
        if (!locale.empty())
            languages.push_back(ToTag(locale));
    }
    return languages;
}

} // namespace orvik::platform
