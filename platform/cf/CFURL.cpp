// CFURL: URLs kept as their ASCII string form split into scheme, authority, escaped path,
// query and fragment. A file-system path enters as bytes (UTF-8) and every byte outside
// the unreserved set is percent-escaped, so any path survives; coming back out, the
// escapes turn into bytes again.
//
// Paths in UTF-16 and bytes meet here as in the file manager: UTF-8, except that bytes
// that are not valid UTF-8 travel as the lone surrogates U+DC80..U+DCFF, so a name read
// from disk that is not UTF-8 still names the same file when it comes back.
#include "platform/cf/CFInternal.h"
#include "platform/cf/Utf8Codec.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>

#include <string>
#include <string_view>
#include <vector>

using namespace orvik::cf;

// The parts live in the object itself (constructed in place, destroyed by the
// finalizer); the whole string is made only when someone asks for it, since a
// file URL is mostly made to be turned back into a path.
struct __CFURL {
    CFRuntimeBase base;
    std::string scheme; // lower case, empty when relative
    std::string authority;
    std::string path; // escaped
    std::string rest; // "?query#fragment" as written
    bool hasAuthority;
    std::atomic<CFStringRef> string; // the whole URL as written, once asked for
    CFURLRef baseURL;
};

namespace {

// ---------------------------------------------------------------------------------------
// Bytes, escapes and UTF-16
// ---------------------------------------------------------------------------------------

// Bytes a path keeps as they are in a URL: letters, digits and "-._~/!$&'()*+,;=:@".
constexpr auto kUnreservedPathByte = [] {
    std::array<bool, 256> table{};
    for (unsigned char c : std::string_view("-._~/!$&'()*+,;=:@"))
        table[c] = true;
    for (size_t c = 0; c < 26; ++c)
        table['a' + c] = table['A' + c] = true;
    for (size_t c = 0; c < 10; ++c)
        table['0' + c] = true;
    return table;
}();

bool isUnreservedPathByte(unsigned char c) {
    return kUnreservedPathByte[c];
}

// Escapes in place; a path with nothing to escape (the usual case) stays as it is.
void escapePath(std::string& bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    size_t first = 0;
    while (first < bytes.size() && isUnreservedPathByte(static_cast<unsigned char>(bytes[first])))
        ++first;
    if (first == bytes.size())
        return;
    std::string out(first + (bytes.size() - first) * 3, '\0');
    memcpy(out.data(), bytes.data(), first);
    char* to = out.data() + first;
    for (size_t i = first; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (isUnreservedPathByte(c)) {
            *to++ = static_cast<char>(c);
        } else {
            *to++ = '%';
            *to++ = kHex[c >> 4];
            *to++ = kHex[c & 15];
        }
    }
    out.resize(static_cast<size_t>(to - out.data()));
    bytes.swap(out);
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Percent escapes to bytes; escapes were checked when the URL was made.
std::string unescape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() + 0 && hexValue(s[i + 1]) >= 0 &&
            hexValue(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

// UTF-16 path to bytes: UTF-8, U+DC80..U+DCFF back to single bytes; false for any other
// unpaired surrogate.
bool pathToBytes(CFStringRef s, std::string& out) {
    return orvik::utf8::EncodePath(s->chars, static_cast<size_t>(s->length), out);
}

// Bytes to UTF-16: UTF-8 sequences decoded, any other byte b becomes U+DC00 + b.
CFStringRef bytesToPath(const std::string& b) {
    std::u16string out;
    orvik::utf8::DecodePath(b, out);
    return CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar*>(out.data()),
                                        static_cast<CFIndex>(out.size()));
}

// ---------------------------------------------------------------------------------------
// Objects
// ---------------------------------------------------------------------------------------

void finalizeURL(CFTypeRef cf) {
    auto* u = const_cast<__CFURL*>(static_cast<const __CFURL*>(cf));
    if (CFStringRef text = u->string.load(std::memory_order_acquire))
        CFRelease(text);
    if (u->baseURL)
        CFRelease(u->baseURL);
    using std::string;
    u->scheme.~string();
    u->authority.~string();
    u->path.~string();
    u->rest.~string();
    u->string.~atomic();
}

// The whole URL as written: made on first use; a thread that loses the race to
// publish it drops its own copy.
CFStringRef stringOf(CFURLRef cu) {
    auto* u = const_cast<__CFURL*>(cu);
    if (CFStringRef text = u->string.load(std::memory_order_acquire))
        return text;
    std::string text;
    if (!u->scheme.empty())
        text += u->scheme + ":";
    if (u->hasAuthority)
        text += "//" + u->authority;
    text += u->path + u->rest;
    CFStringRef made = CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingASCII);
    CFStringRef expected = nullptr;
    if (!u->string.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) {
        CFRelease(made);
        return expected;
    }
    return made;
}

Boolean equalURLs(CFTypeRef a, CFTypeRef b) {
    auto* x = static_cast<CFURLRef>(a);
    auto* y = static_cast<CFURLRef>(b);
    return CFEqual(stringOf(x), stringOf(y)) &&
           ((x->baseURL == nullptr && y->baseURL == nullptr) || CFEqual(x->baseURL, y->baseURL));
}

CFHashCode hashURL(CFTypeRef cf) {
    return CFHash(stringOf(static_cast<CFURLRef>(cf)));
}

CFStringRef describeURL(CFTypeRef cf) {
    return CFStringCreateCopy(nullptr, stringOf(static_cast<CFURLRef>(cf)));
}

__CFURL* newURL(std::string scheme, bool hasAuthority, std::string authority, std::string path,
                std::string rest, CFURLRef baseURL) {
    auto* u = static_cast<__CFURL*>(allocObject(kURLTypeID, sizeof(__CFURL)));
    new (&u->scheme) std::string(std::move(scheme));
    new (&u->authority) std::string(std::move(authority));
    new (&u->path) std::string(std::move(path));
    new (&u->rest) std::string(std::move(rest));
    new (&u->string) std::atomic<CFStringRef>(nullptr);
    u->hasAuthority = hasAuthority;
    u->baseURL = baseURL ? static_cast<CFURLRef>(CFRetain(baseURL)) : nullptr;
    return u;
}

// RFC 3986 remove_dot_segments.
std::string removeDots(const std::string& in) {
    std::vector<std::string> out;
    bool absolute = !in.empty() && in[0] == '/';
    size_t i = absolute ? 1 : 0;
    bool trailing = false;
    while (i <= in.size()) {
        size_t j = in.find('/', i);
        if (j == std::string::npos)
            j = in.size();
        std::string seg = in.substr(i, j - i);
        trailing = false;
        if (seg == ".") {
            trailing = true;
        } else if (seg == "..") {
            if (!out.empty())
                out.pop_back();
            trailing = true;
        } else {
            out.push_back(seg);
        }
        i = j + 1;
    }
    std::string r = absolute ? "/" : "";
    for (size_t k = 0; k < out.size(); ++k) {
        if (k > 0)
            r += "/";
        r += out[k];
    }
    if (trailing && !r.empty() && r.back() != '/')
        r += "/";
    return r;
}

// The path's directory part, including its last "/" ("/a/b" -> "/a/").
std::string directoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

CFURLRef fileURLFromBytes(std::string bytes, bool isDirectory) {
    if (bytes.empty())
        return nullptr;
    if (bytes[0] != '/') { // relative to the working folder at the time of the call
        std::vector<char> cwd(4096);
        while (getcwd(cwd.data(), cwd.size()) == nullptr) {
            if (errno != ERANGE)
                return nullptr;
            cwd.resize(cwd.size() * 2);
        }
        std::string base = cwd.data();
        if (base.empty() || base.back() != '/')
            base += "/";
        bytes = base + bytes;
    }
    if (isDirectory && bytes.back() != '/')
        bytes += "/";
    escapePath(bytes);
    return newURL("file", true, "", std::move(bytes), "", nullptr);
}

// The path of a URL resolved against its base (RFC 3986 5.2.2, path part).
std::string resolvedPath(CFURLRef u) {
    if (u->baseURL == nullptr || !u->scheme.empty() || u->hasAuthority)
        return u->path;
    std::string basePath = resolvedPath(u->baseURL);
    if (u->path.empty())
        return basePath;
    if (u->path[0] == '/')
        return removeDots(u->path);
    return removeDots(directoryOf(basePath.empty() ? "/" : basePath) + u->path);
}

// Decoded path bytes of a file (or relative) URL, without a trailing "/" except for "/".
bool fileSystemBytes(CFURLRef u, bool resolve, std::string& out) {
    CFURLRef eff = (resolve && u->baseURL && u->scheme.empty()) ? u->baseURL : u;
    if (!eff->scheme.empty() && eff->scheme != "file")
        return false;
    if (resolve && u->baseURL)
        out = unescape(resolvedPath(u));
    else if (u->path.find('%') == std::string::npos)
        out.assign(u->path); // nothing escaped: straight into out
    else
        out = unescape(u->path);
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return true;
}

} // namespace

const CFRuntimeClass orvik::cf::kURLClass = {"CFURL", finalizeURL, equalURLs, hashURL, describeURL};

CFTypeID CFURLGetTypeID(void) {
    return kURLTypeID;
}

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef filePath,
                                       CFURLPathStyle pathStyle, Boolean isDirectory) {
    if (!isString(filePath) || filePath->length == 0 || pathStyle != kCFURLPOSIXPathStyle)
        return nullptr;
    std::string bytes;
    if (!pathToBytes(filePath, bytes))
        return nullptr;
    return fileURLFromBytes(std::move(bytes), isDirectory);
}

CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8* buffer,
                                                 CFIndex bufLen, Boolean isDirectory) {
    if (buffer == nullptr || bufLen <= 0)
        return nullptr;
    std::string bytes(reinterpret_cast<const char*>(buffer), static_cast<size_t>(bufLen));
    if (size_t z = bytes.find('\0'); z != std::string::npos)
        bytes.resize(z);
    return fileURLFromBytes(std::move(bytes), isDirectory);
}

CFURLRef CFURLCreateWithString(CFAllocatorRef, CFStringRef URLString, CFURLRef baseURL) {
    if (!isString(URLString) || URLString->length == 0)
        return nullptr;
    std::string s;
    for (CFIndex i = 0; i < URLString->length; ++i) {
        UniChar c = URLString->chars[i];
        // Only the characters a URL may hold literally; everything else must be escaped.
        if (c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", static_cast<char>(c)))
            return nullptr;
        if (c == '%' && (i + 2 >= URLString->length ||
                         hexValue(static_cast<char>(URLString->chars[i + 1])) < 0 ||
                         hexValue(static_cast<char>(URLString->chars[i + 2])) < 0))
            return nullptr;
        s.push_back(static_cast<char>(c));
    }
    // scheme ":" — letters, digits, + - . starting with a letter, before any / ? #
    std::string scheme;
    size_t pos = 0;
    size_t colon = s.find(':');
    if (colon != std::string::npos && colon > 0 && std::isalpha(static_cast<unsigned char>(s[0]))) {
        bool ok = true;
        for (size_t i = 0; i < colon && ok; ++i)
            ok = std::isalnum(static_cast<unsigned char>(s[i])) || std::strchr("+-.", s[i]);
        if (ok) {
            for (size_t i = 0; i < colon; ++i)
                scheme.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(s[i]))));
            pos = colon + 1;
        }
    }
    bool hasAuthority = false;
    std::string authority;
    if (s.compare(pos, 2, "//") == 0) {
        hasAuthority = true;
        size_t end = s.find_first_of("/?#", pos + 2);
        if (end == std::string::npos)
            end = s.size();
        authority = s.substr(pos + 2, end - pos - 2);
        pos = end;
    }
    size_t end = s.find_first_of("?#", pos);
    if (end == std::string::npos)
        end = s.size();
    std::string path = s.substr(pos, end - pos);
    std::string rest = s.substr(end);
    return newURL(scheme, hasAuthority, authority, path, rest, scheme.empty() ? baseURL : nullptr);
}

CFStringRef CFURLGetString(CFURLRef anURL) {
    return isType(anURL, kURLTypeID) ? stringOf(anURL) : nullptr;
}

CFStringRef CFURLCopyScheme(CFURLRef anURL) {
    if (!isType(anURL, kURLTypeID))
        return nullptr;
    CFURLRef eff = anURL->scheme.empty() && anURL->baseURL ? anURL->baseURL : anURL;
    if (eff->scheme.empty())
        return nullptr;
    return CFStringCreateWithCString(nullptr, eff->scheme.c_str(), kCFStringEncodingASCII);
}

CFStringRef CFURLCopyPath(CFURLRef anURL) {
    if (!isType(anURL, kURLTypeID))
        return nullptr;
    return CFStringCreateWithCString(nullptr, anURL->path.c_str(), kCFStringEncodingASCII);
}

CFStringRef CFURLCopyFileSystemPath(CFURLRef anURL, CFURLPathStyle pathStyle) {
    std::string bytes;
    if (!isType(anURL, kURLTypeID) || pathStyle != kCFURLPOSIXPathStyle ||
        !fileSystemBytes(anURL, true, bytes))
        return nullptr;
    return bytesToPath(bytes);
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer,
                                         CFIndex maxBufLen) {
    if (!isType(url, kURLTypeID) || buffer == nullptr || maxBufLen <= 0)
        return false;
    // A file URL made from a path with nothing escaped is its path already.
    if (url->baseURL == nullptr && url->scheme == "file" &&
        url->path.find('%') == std::string::npos) {
        size_t n = url->path.size();
        while (n > 1 && url->path[n - 1] == '/')
            --n;
        if (static_cast<CFIndex>(n) + 1 > maxBufLen)
            return false;
        std::memcpy(buffer, url->path.data(), n);
        buffer[n] = 0;
        return true;
    }
    std::string bytes;
    // A zero byte inside ("%00") has no zero-terminated representation.
    if (!isType(url, kURLTypeID) || buffer == nullptr || maxBufLen <= 0 ||
        !fileSystemBytes(url, resolveAgainstBase, bytes) ||
        static_cast<CFIndex>(bytes.size()) + 1 > maxBufLen || bytes.find('\0') != std::string::npos)
        return false;
    std::memcpy(buffer, bytes.data(), bytes.size());
    buffer[bytes.size()] = 0;
    return true;
}

Boolean CFURLHasDirectoryPath(CFURLRef anURL) {
    return isType(anURL, kURLTypeID) && !anURL->path.empty() && anURL->path.back() == '/';
}

CFStringRef CFURLCopyLastPathComponent(CFURLRef anURL) {
    if (!isType(anURL, kURLTypeID))
        return nullptr;
    std::string path = resolvedPath(anURL);
    if (path == "/")
        return bytesToPath(path);
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    size_t slash = path.rfind('/');
    return bytesToPath(unescape(slash == std::string::npos ? path : path.substr(slash + 1)));
}

CFURLRef CFURLCreateCopyDeletingLastPathComponent(CFAllocatorRef, CFURLRef url) {
    if (!isType(url, kURLTypeID))
        return nullptr;
    std::string path = resolvedPath(url);
    std::string result;
    if (path == "/" || path.empty() || path == "." || path == "./") {
        result = path == "/" ? "/../" : "../";
    } else {
        std::string trimmed = path;
        if (trimmed.back() == '/')
            trimmed.pop_back();
        result = directoryOf(trimmed);
        if (result.empty())
            result = "./";
    }
    CFURLRef eff = url->scheme.empty() && url->baseURL ? url->baseURL : url;
    return newURL(eff->scheme, eff->hasAuthority, eff->authority, result, "", nullptr);
}

CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef, CFURLRef url,
                                               CFStringRef pathComponent, Boolean isDirectory) {
    std::string bytes;
    if (!isType(url, kURLTypeID) || !isString(pathComponent) || !pathToBytes(pathComponent, bytes))
        return nullptr;
    std::string path = resolvedPath(url);
    if (path.empty() || path.back() != '/')
        path += "/";
    escapePath(bytes);
    path += bytes;
    if (isDirectory && path.back() != '/')
        path += "/";
    CFURLRef eff = url->scheme.empty() && url->baseURL ? url->baseURL : url;
    return newURL(eff->scheme, eff->hasAuthority, eff->authority, path, "", nullptr);
}

CFURLRef CFURLCopyAbsoluteURL(CFURLRef relativeURL) {
    if (!isType(relativeURL, kURLTypeID))
        return nullptr;
    if (relativeURL->baseURL == nullptr)
        return static_cast<CFURLRef>(CFRetain(relativeURL));
    CFURLRef b = relativeURL->baseURL;
    return newURL(b->scheme, b->hasAuthority, b->authority, resolvedPath(relativeURL),
                  relativeURL->rest, nullptr);
}
