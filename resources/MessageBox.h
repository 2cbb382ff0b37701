// Windows-style message boxes and the small framework entry points that code
// written for Windows expects.
//
//   AfxMessageBox(u"Delete the file?", MB_YESNO | MB_ICONQUESTION)   -> IDYES or IDNO,
//       shown as a note alert titled "Alert" with "Yes" (default) and "No";
//       0 when no alert could be shown
//   AfxLoadString(0xF023, buffer, 4)   -> 3, buffer = u"Out"
//   CurrentMachineOSXVersion()         -> 3 on this platform (newer than 10.4)
//
// The message box type: bits 0-2 the buttons, 0x10/0x20/0x40 the icon,
// 0x100/0x200 the default button; other bits are ignored. A message is cut to
// 255 characters and each unit reduced to its low 8 bits (Mac OS Roman).
// AfxGetEmptyString comes with the string classes (strings/AtlString.h).
#pragma once

#include "strings/AtlString.h"
#include "win32compat/WinTypes.h"

int AfxMessageBox(const char16_t* lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
int AfxMessageBox(const unsigned short* lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);
// The text of `nIDPrompt` (AfxLoadString) in a message box.
int AfxMessageBox(UINT nIDPrompt, UINT nType = MB_OK, UINT nIDHelp = static_cast<UINT>(-1));

// Copies min(nBufferMax - 1, length) units of the id's framework message and
// a zero; returns the count. 0 (nothing written) for a null buffer or size 0.
//   0xF021 "Operation not supported"   0xF022 "Resource not found"
//   0xF023 "Out of memory"             0xF024 "User cannot perform operation"
//   0xF025 "Invalid argument"          others "Unknown error"
UINT AfxLoadString(UINT nID, char16_t* lpszBuf, UINT nBufferMax);
UINT AfxLoadString(UINT nID, unsigned short* lpszBuf, UINT nBufferMax);

// The system version class: -2 unknown, -1 before 10.2, 0 10.2, 1 10.3, 2 10.4,
// 3 anything newer.
int CurrentMachineOSXVersion();

class CScrivletEditionHelper {
public:
    static void SetScrivletStudentMode(bool on) { m_bScrivletStudentMode = on; }
    static bool IsScrivletStudentMode() { return m_bScrivletStudentMode; }
    static bool m_bScrivletStudentMode; // false at start; nothing here sets it
};

// Trace output is compiled in but does nothing: each form returns at once and
// evaluates nothing beyond its arguments.
template <class... Args> inline void ATLTRACE(const char*, const Args&...) {}
template <class... Args> inline void ATLTRACE(const char16_t*, const Args&...) {}
template <class... Args> inline void ATLTRACE(const unsigned short*, const Args&...) {}
template <class... Args> inline void ATLTRACE(const CAtlStringA&, const Args&...) {}
template <class... Args> inline void ATLTRACE(const CAtlString&, const Args&...) {}
template <class... Args> inline void ATLTRACE(CFStringRef, const Args&...) {}

// TRUE exactly when p is not null.
BOOL AtlIsValidAddress(const void* p, UINT nBytes, BOOL bReadWrite = TRUE);
BOOL AfxIsValidAddress(const void* p, UINT nBytes, BOOL bReadWrite = TRUE);

struct AFX_MODULE_STATE;
// There is no module state here: null.
AFX_MODULE_STATE* AfxGetStaticModuleState();

namespace orvik::resources {
// The class CurrentMachineOSXVersion gives for a version query's outcome.
int ClassifySystemVersion(OSErr status, SInt32 version);
} // namespace orvik::resources
