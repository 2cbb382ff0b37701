// The user's locale and languages as the environment states them, read the
// way gettext reads them (internal to the platform layer).
//
//   LANG=de_DE.UTF-8          -> LocaleFromEnvironment() == "de_DE"
//   LANGUAGE=fr_CA:de         -> LanguagesFromEnvironment() == {"fr-CA", "de"}
//   LC_ALL=C                  -> "" and {} (no particular language)
#pragma once

#include <string>
#include <vector>

namespace orvik::platform {

// The POSIX locale name without codeset and modifier from LC_ALL, else
// LC_MESSAGES, else LANG (the first one set and non-empty); "" for C, POSIX,
// nothing set or a malformed name.
std::string LocaleFromEnvironment();

// BCP-47 tags of the user's languages in order: the LANGUAGE list when set
// and non-empty, else the locale's language and region. Empty when neither
// names a language.
std::vector<std::string> LanguagesFromEnvironment();

// "de_DE.UTF-8@euro" -> "de_DE"; "" for C, POSIX and names with other
// characters than letters, digits, "_" and "-".
std::string NormalizeLocaleName(const std::string& name);

} // namespace orvik::platform
