// URL helpers: the protocol prefix of a URL, whether a string is a usable
// URL, and the repair of a loose web address into a hyperlink.
//   GetUrlProtocol(u"HTTPS://A")   == URLPROTOCOL_HTTPS   (case ignored)
//   GetUrlProtocol(u"see http://x") == URLPROTOCOL_NONE   (start only)
//   IsValidURL(u"http://") == false: a bare prefix is no URL
//   MakeValidHyperlink("  www.a.b  ") -> "http://www.a.b", true
#pragma once

#include "strings/AtlString.h"

enum tagURLPROTOCOLS {
    URLPROTOCOL_HTTP = 0,
    URLPROTOCOL_FILE = 1,
    URLPROTOCOL_MAILTO = 2,
    URLPROTOCOL_FTP = 3,
    URLPROTOCOL_GOPHER = 4,
    URLPROTOCOL_NNTP = 5,
    URLPROTOCOL_TELNET = 6,
    URLPROTOCOL_NEWS = 7,
    URLPROTOCOL_WAIS = 8,
    URLPROTOCOL_NONE = 9,
    URLPROTOCOL_HTTPS = 10,
    URLPROTOCOL_PROSPERO = 11,
};

// The canonical prefix of a protocol ("mailto://" for mail); "http://" for
// URLPROTOCOL_NONE and any value outside the table.
CAtlString GetAppropriateProtocol(tagURLPROTOCOLS protocol);

// The protocol whose recognised prefix `url` begins with, ignoring case.
tagURLPROTOCOLS GetUrlProtocol(CAtlString url);

// True for a URL with a recognised protocol that is more than the bare
// canonical prefix.
bool IsValidURL(const CAtlString& url);

// Trims `link`, turns backslashes into slashes (both edits stay even when the
// result is false) and puts "http://" in front of a protocol-less address
// that holds a "/" or "www."/"WWW.". False when no hyperlink can be made.
bool MakeValidHyperlink(CAtlString& link);
