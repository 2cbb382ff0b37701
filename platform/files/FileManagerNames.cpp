// File manager statuses and names: the one table from errno to statuses,
// and the conversion between 16-bit names and the bytes the kernel stores.
#include "platform/cf/Utf8Codec.h"
#include "platform/files/FileManagerInternal.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <new>
#include <vector>

namespace orvik::fm {

OSErr StatusFromErrno(int error) {
    switch (error) {
    case 0:
        return noErr;
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ESTALE:
    case ENXIO:
        return fnfErr;
    case ENOTEMPTY:
    case EBUSY:
    case ETXTBSY:
        return fBsyErr;
    case EEXIST:
        return dupFNErr;
    case EXDEV:
        return diffVolErr;
    case EINVAL:
    case EFAULT:
    case EOVERFLOW:
    case ENOTSUP:
    case ENOSYS:
        return paramErr;
    case EISDIR:
        return notAFileErr;
    case EACCES:
        return afpAccessDenied;
    case EPERM:
        return permErr;
    case EROFS:
        return wPrErr;
    case ENOSPC:
    case EDQUOT:
    case E2BIG:
    case EFBIG:
        return dskFulErr;
    case ENAMETOOLONG:
        return errFSNameTooLong;
    case EILSEQ:
        return bdNamErr;
    case EMFILE:
    case ENFILE:
        return tmfoErr;
    case EBADF:
        return rfNumErr;
    case ENOMEM:
        return memFullErr;
    case ENODATA:
        return errFSForkNotFound;
    case ENODEV:
        return nsvErr;
    default:
        return ioErr;
    }
}

// ---- Names ----

bool IsValidUtf8(const char* bytes, size_t length) {
    return utf8::IsValid(bytes, length);
}

bool UnicodeToBytes(const UniChar* units, size_t count, std::string& out) {
    return utf8::EncodePath(units, count, out);
}

bool BytesToUnicode(std::string_view bytes, std::u16string& out) {
    utf8::DecodePath(bytes, out);
    return true;
}

void BytesToName(std::string_view bytes, HFSUniStr255* out) {
    UInt16 n = 0;
    utf8::DecodePath(bytes, [&](char16_t u) {
        if (n < 255)
            out->unicode[n++] = u;
    });
    out->length = n;
}

NameCheck NameToBytes(const UniChar* units, UniCharCount count, std::string& out) {
    if (!units || count == 0 || count > 255 || !UnicodeToBytes(units, count, out))
        return NameCheck::invalid;
    if (out == "." || out == ".." || out.find_first_of(std::string_view("/\0", 2)) != out.npos)
        return NameCheck::invalid;
    if (out.size() > NAME_MAX)
        return NameCheck::tooLong;
    return NameCheck::ok;
}

} // namespace orvik::fm
