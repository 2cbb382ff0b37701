// Copying and moving one file with Windows semantics, over the file manager.
//
// CopyFile copies fork by fork (the data fork, then any named fork) with the catalog
// information; while its data is written the new file carries the busy type and owner
// read/write/execute, and it gets the source's flags and permissions back at the end (a
// locked source gives a locked copy). Any failure after the new file was created deletes
// it again, so no partial copy is left behind. MoveFile exchanges the source with a fresh
// empty file at the new path inside one volume, and copies then deletes across volumes.
// Paths are zero-terminated 16-bit POSIX paths; results are BOOL. Neither operation
// touches the last-error code.
#pragma once

#include <cstdint>

#include "platform/FileManager.h"
#include "win32compat/WinTypes.h"

// Bytes of the copy buffer: CopyFile allocates this much per fork and never moves more per
// read. A 600000-byte file is copied in reads of 262144, 262144 and 75712 bytes.
extern uint64_t g_copyBufferSize;

// Copies the file `source` (links followed) to `destination`. FALSE for null or textually
// equal paths, a missing source, a folder as source, an existing destination when
// `failIfExists` is set, a destination that is the source under another spelling (or a
// hard link to it), or a destination that cannot be replaced (a folder that is not empty).
BOOL CopyFile(const char16_t* source, const char16_t* destination, bool failIfExists);
BOOL CopyFile(const unsigned short* source, const unsigned short* destination, bool failIfExists);

// Moves `existing` to `newPath`, or into `newPath` under its own name when that is an
// existing folder. TRUE at once for equal texts; FALSE for an existing file at `newPath`,
// for a missing `newPath` ending in '/', and when the move cannot be done. Across volumes
// a move into a folder replaces a file of the same name there, as a copy that may replace
// does. A move that gives FALSE has changed nothing, and the data always survives: when
// the source cannot be removed after a copy, the copy is removed instead.
BOOL MoveFile(const char16_t* existing, const char16_t* newPath);
BOOL MoveFile(const unsigned short* existing, const unsigned short* newPath);

// Exchanges the contents of two files while each name keeps its own catalog information
// (the content's modification date goes with the content). Uses the platform's exchange
// where the volume offers it and the file system takes it, else renames through two
// temporary names. `newSource` and `newDestination` receive references to the objects now
// at the source's and the destination's name. 0, -50 for null references, -1303 across
// volumes, -1302 when either is a folder, or the failing status (all steps undone).
OSErr FSExchangeObjectsCompat(const FSRef* source, const FSRef* destination, FSRef* newSource,
                              FSRef* newDestination);

// The rename emulation of the exchange alone, whatever the volume supports.
OSErr FSExchangeObjectsEmulated(const FSRef* source, const FSRef* destination, FSRef* newSource,
                                FSRef* newDestination);

// Writes into `name` the first eight-digit upper-case hexadecimal number, counting from
// `*seed`, that names nothing in either folder; `*seed` goes up after every attempt.
// 0, or the failing lookup status.
OSErr GenerateUniqueHFSUniStr(uint32_t* seed, const FSRef* folder1, const FSRef* folder2,
                              HFSUniStr255* name);
