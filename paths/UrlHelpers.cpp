// URL protocol prefixes, URL checks and the repair of loose web addresses.
#include "paths/UrlHelpers.h"

namespace {

struct ProtocolPrefix {
    const char16_t* prefix;
    tagURLPROTOCOLS protocol;
};

// Tested in this order; the first prefix found at index 0 decides.
constexpr ProtocolPrefix kRecognised[] = {
    {u"http://", URLPROTOCOL_HTTP},         {u"https://", URLPROTOCOL_HTTPS},
    {u"ftp://", URLPROTOCOL_FTP},           {u"file://", URLPROTOCOL_FILE},
    {u"mailto:", URLPROTOCOL_MAILTO},       {u"gopher://", URLPROTOCOL_GOPHER},
    {u"nntp://", URLPROTOCOL_NNTP},         {u"telnet://", URLPROTOCOL_TELNET},
    {u"news:", URLPROTOCOL_NEWS},           {u"wais://", URLPROTOCOL_WAIS},
    {u"prospero://", URLPROTOCOL_PROSPERO},
};

// Indexed by the enumerator's value.
constexpr const char16_t* kCanonical[] = {
    u"http://",   u"file://", u"mailto://", u"ftp://",  u"gopher://", u"nntp://",
    u"telnet://", u"news:",   u"wais://",   u"http://", u"https://",  u"prospero://",
};

} // namespace

CAtlString GetAppropriateProtocol(tagURLPROTOCOLS protocol) {
    int index = static_cast<int>(protocol);
    if (index < 0 || index >= static_cast<int>(sizeof(kCanonical) / sizeof(kCanonical[0])))
        return CAtlString(u"http://");
    return CAtlString(kCanonical[index]);
}

tagURLPROTOCOLS GetUrlProtocol(CAtlString url) {
    url.MakeLower();
    for (const ProtocolPrefix& entry : kRecognised)
        if (url.Find(entry.prefix) == 0)
            return entry.protocol;
    return URLPROTOCOL_NONE;
}

bool IsValidURL(const CAtlString& url) {
    tagURLPROTOCOLS protocol = GetUrlProtocol(url);
    if (url.CompareNoCase(GetAppropriateProtocol(protocol)) == 0)
        return false;
    if (url.IsEmpty())
        return false;
    return protocol != URLPROTOCOL_NONE;
}

bool MakeValidHyperlink(CAtlString& link) {
    if (link.IsEmpty())
        return false;
    link.Trim();
    link.Replace(u'\\', u'/');
    tagURLPROTOCOLS protocol = GetUrlProtocol(link);
    if (GetAppropriateProtocol(protocol).CompareNoCase(link) == 0)
        return false;
    if (protocol != URLPROTOCOL_NONE)
        return true;
    if (link.Find(u'/') == -1 && link.Find(u"www.") == -1 && link.Find(u"WWW.") == -1)
        return false;
    if (link.Find(u"://") != -1)
        return false;
    link.Insert(0, GetAppropriateProtocol(URLPROTOCOL_HTTP).GetString());
    return true;
}
