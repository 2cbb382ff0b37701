// UTF-8 forms of CAtlString, through the code-page functions of the
// compatibility layer (compiled into the win32compat library for that reason).
// Paths cross to the C library (stat, open, fopen) in this form.
//
// Failures are not reported: a conversion that fails gives an empty or
// shortened result.
#pragma once

#include "strings/AtlString.h"

// s in UTF-8: u"\u00E9" -> "\xC3\xA9"; empty -> empty. Exactly the bytes the
// conversion wrote.
CAtlStringA MakeUTF8StringFromUnicodeString(CAtlString const& s);

// The UTF-16 units decoded from the UTF-8 bytes of s, in a buffer of
// length + 10 units; bytes that do not decode give an empty string.
// "\xE2\x82\xAC" -> u"\u20AC".
CAtlString MakeWideStringFromUTF8String(CAtlStringA const& s);

// The same decoding with code page 0, the system's default 8-bit code page.
CAtlString MakeWideStringFromASCIIString(CAtlStringA const& s);
