// File and directory manipulators over the compatibility layer.
#include "paths/Manipulators.h"

#include <cassert>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <deque>
#include <new>
#include <string_view>

#include "paths/TreeOperation.h"
#include "paths/UrlHelpers.h"
#include "platform/FileManager.h"
#include "platform/UniqueFd.h"
#include "strings/Utf8String.h"
#include "win32compat/FileCopy.h"
#include "win32compat/FileSystem.h"

namespace {

constexpr const char kUrlKeyMarker[] = "<key>URL</key>\n\t<string>";
constexpr const char kUrlStringEnd[] = "</string>\n";
constexpr const char kSectionHeader[] = "[InternetShortcut]";
constexpr const char kSectionUrl[] = "URL=";
constexpr const char kSectionSeparators[] = "\n\r\t \"";

constexpr unsigned long kUnknownSize = 0xFFFFFFFFul;

using orvik::UniqueFd;

// What the content helpers read and write: regular files. A folder may be
// read (it yields no bytes); a FIFO would block the reader and a device may
// act on being opened, so they are refused before and after the open.
bool IsContent(mode_t mode, bool writes) {
    return S_ISREG(mode) || (!writes && S_ISDIR(mode));
}

// Opens the file at `path` for the content helpers. A file opened for
// writing is never reached through a final symbolic link, and is truncated
// only once it is known to be a regular file. -1 on failure.
int OpenContent(const char* path, int flags, bool truncate) {
    const bool writes = (flags & O_ACCMODE) != O_RDONLY;
    struct stat st;
    if ((writes ? lstat(path, &st) : stat(path, &st)) == 0 && !IsContent(st.st_mode, writes))
        return -1;
    UniqueFd fd(
        open(path, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (writes ? O_NOFOLLOW : 0), 0666));
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !IsContent(st.st_mode, writes))
        return -1;
    if (truncate && ftruncate(fd.get(), 0) != 0)
        return -1;
    const int status = fcntl(fd.get(), F_GETFL);
    if (status < 0 || fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) != 0)
        return -1;
    return fd.release();
}

// The open flags of an fopen mode ("rb", "w", "a+", "wx", ...); false for a
// mode fopen refuses.
bool OpenFlagsOf(const char* mode, int* flags, bool* truncate) {
    std::string_view options(mode[0] ? mode + 1 : mode);
    options = options.substr(0, options.find(','));
    const bool update = options.find('+') != options.npos;
    const int access = update ? O_RDWR : O_WRONLY;
    switch (mode[0]) {
    case 'r':
        *flags = update ? O_RDWR : O_RDONLY;
        break;
    case 'w':
        *flags = access | O_CREAT;
        break;
    case 'a':
        *flags = access | O_CREAT | O_APPEND;
        break;
    default:
        return false;
    }
    if (mode[0] != 'r' && options.find('x') != options.npos)
        *flags |= O_EXCL;
    *truncate = mode[0] == 'w';
    return true;
}

// Writes all `length` bytes from offset 0 into the file, creating it when
// missing.
bool WriteNewFile(const COrvikFilePath& file, const char* data, size_t length) {
    CAtlStringA utf8 = MakeUTF8StringFromUnicodeString(file.GetFilePathString());
    if (utf8.IsEmpty())
        return false;
    UniqueFd fd(OpenContent(utf8.GetString(), O_WRONLY | O_CREAT, false));
    if (fd.get() == -1)
        return false;
    size_t done = 0;
    while (done < length) {
        ssize_t n = pwrite(fd.get(), data + done, length - done, static_cast<off_t>(done));
        if (n <= 0)
            break;
        done += static_cast<size_t>(n);
    }
    return done == length && fd.Close();
}

// The URL of an Internet shortcut's content, or empty.
CAtlStringA FindShortcutUrl(const CAtlStringA& content) {
    int marker = content.Find(kUrlKeyMarker);
    if (marker != -1) {
        CAtlStringA after = content.Mid(marker + static_cast<int>(sizeof(kUrlKeyMarker) - 1));
        int end = after.Find(kUrlStringEnd);
        return end == -1 ? CAtlStringA() : after.Left(end);
    }
    if (content.Find(kSectionHeader) != 0)
        return CAtlStringA();
    int key = content.Find(kSectionUrl);
    if (key == -1)
        return CAtlStringA();
    CAtlStringA rest = content.Mid(key + static_cast<int>(sizeof(kSectionUrl) - 1));
    int position = 0;
    return rest.Tokenize(kSectionSeparators, position);
}

} // namespace

// ---- COrvikFilePath content members --------------------------------------

unsigned long COrvikFilePath::GetFileSize() const {
    if (!FileExists() || IsDirectory())
        return kUnknownSize;
    FILE* stream = CFileManipulator::OpenFile(*this, "rb");
    if (stream == nullptr)
        return kUnknownSize;
    long size = fseek(stream, 0, SEEK_END) == 0 ? ftell(stream) : -1;
    fclose(stream);
    return size < 0 ? kUnknownSize : static_cast<unsigned long>(size);
}

// ---- CFileManipulator ----------------------------------------------------

BOOL CFileManipulator::DeleteFile(const COrvikFilePath& file) {
    // The entry itself is what goes: a link exists even when it dangles, has
    // no attributes to reset, and is deleted as a link.
    orvik::fm::EntryScope entry;
    // The three steps below ask about one file: the file manager looks at it
    // once and answers the later steps from that, unless a step changed it.
    orvik::fm::CompoundOperation once;
    if (!file.FileExists())
        return TRUE;
    CAtlString path = file.GetFilePathString();
    if (!::SetFileAttributes(path.GetString(), FILE_ATTRIBUTE_NORMAL))
        return FALSE;
    return ::DeleteFile(path.GetString()) ? TRUE : FALSE;
}

BOOL CFileManipulator::CopyFileTo(const COrvikFilePath& source, const COrvikFilePath& target,
                                  bool failIfExists) {
    CAtlString from = source.GetFilePathString();
    CAtlString to = target.GetFilePathString();
    return ::CopyFile(from.GetString(), to.GetString(), failIfExists) ? TRUE : FALSE;
}

BOOL CFileManipulator::CopyFileTo(const COrvikFilePath& source,
                                  const COrvikDirectoryPath& targetDirectory, bool failIfExists) {
    return CopyFileTo(source, targetDirectory.CreateFilePath(source.GetFileName()), failIfExists);
}

BOOL CFileManipulator::MoveFileTo(const COrvikFilePath& source, const COrvikFilePath& target) {
    CAtlString from = source.GetFilePathString();
    CAtlString to = target.GetFilePathString();
    return ::MoveFile(from.GetString(), to.GetString()) ? TRUE : FALSE;
}

FILE* CFileManipulator::OpenFile(const COrvikFilePath& file, const char* mode) {
    CAtlStringA utf8 = MakeUTF8StringFromUnicodeString(file.GetFilePathString());
    int flags = 0;
    bool truncate = false;
    if (utf8.IsEmpty() || mode == nullptr || !OpenFlagsOf(mode, &flags, &truncate))
        return nullptr;
    UniqueFd fd(OpenContent(utf8.GetString(), flags, truncate));
    if (fd.get() == -1)
        return nullptr;
    FILE* stream = fdopen(fd.get(), mode);
    if (stream != nullptr)
        fd.release();
    return stream;
}

unsigned long CFileManipulator::ReadFileIntoBuffer(const COrvikFilePath& file,
                                                   unsigned char** buffer) {
    *buffer = nullptr;
    FILE* stream = OpenFile(file, "rb");
    if (stream == nullptr)
        return 0;
    unsigned long size = file.GetFileSize();
    if (size == 0 || size == kUnknownSize) {
        fclose(stream);
        return 0;
    }
    // A file too large for memory gives the same answer as an unreadable one.
    unsigned char* block = new (std::nothrow) unsigned char[size];
    if (block == nullptr) {
        fclose(stream);
        return 0;
    }
    *buffer = block;
    unsigned long read = fread(block, 1, size, stream);
    fclose(stream);
    return read;
}

HRESULT CFileManipulator::WriteAsciiStringToFile(const COrvikFilePath& file, const char* data,
                                                 unsigned int length) {
    if (data == nullptr || length == 0)
        return E_INVALIDARG;
    if (file.IsEmptyPath())
        return E_INVALIDARG;
    FILE* stream = OpenFile(file, "wb");
    if (stream == nullptr)
        return E_INVALIDARG;
    size_t written = fwrite(data, 1, length, stream);
    bool closed = fclose(stream) == 0;
    return (written == length && closed) ? S_OK : E_INVALIDARG;
}

HRESULT CFileManipulator::ReadAsciiFileIntoAsciiString(const COrvikFilePath& file,
                                                       CAtlStringA& text, const char* prefix) {
    if (file.IsEmptyPath())
        return E_INVALIDARG;
    FILE* stream = OpenFile(file, "rb");
    if (stream == nullptr)
        return E_INVALIDARG;
    unsigned long size = file.GetFileSize();
    int start = 0;
    if (prefix != nullptr) {
        text = prefix;
        start = text.GetLength();
    } else {
        text.Empty();
    }
    // An unknown size, or one the string can't hold, reads nothing.
    if (size == kUnknownSize || size > static_cast<unsigned long>(INT_MAX - 1 - start)) {
        fclose(stream);
        return E_UNEXPECTED;
    }
    int total = start + static_cast<int>(size) + 1;
    char* buffer = text.GetBufferSetLength(total);
    size_t read = fread(buffer + start, 1, size, stream);
    fclose(stream);
    if (read != size) {
        text.ReleaseBuffer(static_cast<int>(start + read));
        return E_UNEXPECTED;
    }
    buffer[start + size] = 0;
    text.ReleaseBuffer(-1); // a zero byte inside the file ends the text there
    return S_OK;
}

HRESULT CFileManipulator::CreateShortcut(const COrvikFilePath& shortcut,
                                         const COrvikFilePath& target) {
    CAtlStringA utf8 = MakeUTF8StringFromUnicodeString(target.GetFilePathString());
    return WriteAsciiStringToFile(shortcut, utf8.GetString(),
                                  static_cast<unsigned int>(utf8.GetLength()));
}

namespace {

// A shortcut file's bytes, read whole; empty when it can't be read.
CAtlStringA ReadShortcutContent(const COrvikFilePath& shortcut) {
    unsigned char* block = nullptr;
    unsigned long read = CFileManipulator::ReadFileIntoBuffer(shortcut, &block);
    CAtlStringA content;
    if (read > 0 && read <= static_cast<unsigned long>(INT_MAX))
        content = CAtlStringA(reinterpret_cast<const char*>(block), static_cast<int>(read));
    delete[] block;
    return content;
}

} // namespace

COrvikFilePath CFileManipulator::ResolveShortcut(const COrvikFilePath& shortcut) {
    if (!shortcut.FileExists())
        return COrvikFilePath();
    return COrvikFilePath(MakeWideStringFromUTF8String(ReadShortcutContent(shortcut)));
}

HRESULT CFileManipulator::CreateURLShortcut(const CAtlString& url, const COrvikFilePath& shortcut) {
    if (shortcut.IsEmptyPath() || shortcut.IsDirectory())
        return E_INVALIDARG;
    if (shortcut.FileExists())
        return S_OK;
    CAtlString link(url);
    MakeValidHyperlink(link); // the result does not matter: the copy is trimmed in any case
    if (url.IsEmpty())
        return E_INVALIDARG;
    CAtlStringA content("[InternetShortcut]\nURL=");
    content += CAtlStringA(link);
    content += "\n";
    return WriteNewFile(shortcut, content.GetString(), static_cast<size_t>(content.GetLength()))
               ? S_OK
               : E_INVALIDARG;
}

CAtlString CFileManipulator::ResolveURLShortcut(const COrvikFilePath& shortcut) {
    if (!shortcut.FileExists())
        return CAtlString();
    return CAtlString(FindShortcutUrl(ReadShortcutContent(shortcut)));
}

// ---- CDirectoryManipulator -----------------------------------------------

bool CDirectoryManipulator::CreateDirectory(const COrvikDirectoryPath& directory) {
    if (directory.DirectoryExists())
        return true;
    COrvikDirectoryPath parent(directory);
    if (parent.RemoveLastSubdirectoryFromPath())
        CreateDirectory(parent);
    CAtlString path = directory.GetDirectoryPathString();
    return ::CreateDirectory(path.GetString(), nullptr) != 0;
}

BOOL CDirectoryManipulator::RemoveDirectory(const COrvikDirectoryPath& directory) {
    orvik::fm::CompoundOperation once; // one look at the directory for both steps
    if (!directory.DirectoryExists())
        return TRUE;
    CAtlString path = directory.GetDirectoryPathString();
    return ::RemoveDirectory(path.GetString()) ? TRUE : FALSE;
}

bool CDirectoryManipulator::RemoveFilesFromDirectory(const COrvikDirectoryPath& directory,
                                                     const CAtlString& pattern) {
    orvik::paths::TreeOf tree(directory.GetDirectoryPathString());
    CFilePathArray files;
    directory.FindFilesInDirectory(pattern, files);
    for (unsigned long i = 0; i < files.m_nSize; ++i)
        CFileManipulator::DeleteFile(files[i]);
    return true;
}

// Each directory is emptied the way a recursion over the listing would: its
// subdirectories in list order, each emptied and then removed, then its own
// files. The levels still to finish live on a stack of their own, so depth
// costs heap, not the call stack.
bool CDirectoryManipulator::RemoveAllFilesAndSubDirectories(const COrvikDirectoryPath& directory) {
    orvik::paths::TreeOf tree(directory.GetDirectoryPathString());
    orvik::paths::SharedPaths shared;
    // Only the file manager's own calls run in here: what one call learned of a
    // path answers the next about the same path (a gone subdirectory's three checks).
    orvik::fm::CompoundOperation once;
    if (tree.FolderIsLink())
        return true; // nothing lies in a link; what it points to is not ours
    struct Level {
        explicit Level(const COrvikDirectoryPath& path) : directory(path) {
            directory.ListSubDirectories(u"*", subdirectories, true);
        }
        COrvikDirectoryPath directory;
        CDirectoryPathArray subdirectories;
        unsigned long next = 0;
    };
    std::deque<Level> levels;
    levels.emplace_back(directory);
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next < level.subdirectories.m_nSize) {
            levels.emplace_back(level.subdirectories[level.next]);
            continue;
        }
        RemoveFilesFromDirectory(level.directory, u"*");
        levels.pop_back();
        if (levels.empty())
            break;
        Level& parent = levels.back();
        assert(parent.next < parent.subdirectories.m_nSize && "a level finished twice");
        RemoveDirectory(parent.subdirectories[parent.next]);
        parent.subdirectories[parent.next++] = COrvikDirectoryPath(); // done with it
    }
    return true;
}

BOOL CDirectoryManipulator::RemoveDirectoryAndContents(const COrvikDirectoryPath& directory) {
    orvik::paths::TreeOf tree(directory.GetDirectoryPathString());
    // A link named for removal goes as a link; what it points to stays.
    if (tree.FolderIsLink())
        return ::DeleteFileDoNotFollowSymlinks(directory.GetDirectoryPathString().GetString());
    RemoveAllFilesAndSubDirectories(directory);
    return RemoveDirectory(directory);
}

HRESULT CDirectoryManipulator::RecursivelyCopyDirectory(const COrvikDirectoryPath& source,
                                                        const COrvikDirectoryPath& target,
                                                        bool move) {
    if (!source.DirectoryExists())
        return E_FAIL;
    CreateDirectory(target);
    CFilePathArray files;
    source.FindFilesInDirectory(u"*", files);
    for (unsigned long i = 0; i < files.m_nSize; ++i) {
        COrvikFilePath destination = target.CreateFilePath(files[i].GetFileName());
        if (move)
            CFileManipulator::MoveFileTo(files[i], destination);
        else
            CFileManipulator::CopyFileTo(files[i], destination, false);
    }
    CDirectoryPathArray subdirectories;
    source.ListSubDirectories(u"*", subdirectories, false);
    for (unsigned long i = 0; i < subdirectories.m_nSize; ++i) {
        COrvikDirectoryPath destination(target);
        destination.AddDirectoryToPath(subdirectories[i].GetLastDirectoryName());
        CreateDirectory(destination);
        HRESULT result = RecursivelyCopyDirectory(subdirectories[i], destination, move);
        if (static_cast<int32_t>(result) < 0)
            return result;
    }
    return S_OK;
}
