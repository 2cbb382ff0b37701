// Path resolution: a path text walked one name at a time from "/" or from
// the remembered folder of the previous call, never through a link the
// caller did not ask to follow.
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

// ---- Path resolution ----

namespace {

void PushComponents(std::vector<std::string>& pending, std::string_view path) {
    size_t end = path.size();
    while (end > 0) {
        size_t start = path.rfind('/', end - 1);
        start = start == path.npos ? 0 : start + 1;
        if (end > start)
            pending.emplace_back(path.substr(start, end - start));
        if (start == 0)
            break;
        end = start - 1;
    }
}

class Walker {
public:
    OSErr StartAtRoot() {
        Move(NodeRef::Share(RootNode()), UniqueFd(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC)));
        return fd_ < 0 ? LastStatus() : OSErr(noErr);
    }
    // Starts at a folder already resolved: takes over one reference and
    // borrows fd, which the caller keeps open for the walk.
    void StartAtBorrowed(NodeRef node, int fd) {
        Move(std::move(node), UniqueFd());
        fd_ = fd;
    }
    int fd() const { return fd_; }
    OrvikFSNode* node() const { return cur_.get(); }
    OSErr Up() {
        if (cur_->isRoot())
            return noErr;
        UniqueFd next(openat(fd_, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (next.get() < 0)
            return LastStatus();
        Move(NodeRef::Share(cur_->parent), std::move(next));
        return noErr;
    }
    OSErr Down(const std::string& name, const struct statx& st) {
        UniqueFd next(openat(fd_, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.get() < 0)
            return LastStatus();
        struct stat check;
        if (fstat(next.get(), &check) != 0 || check.st_ino != st.stx_ino)
            return fnfErr; // replaced while we looked
        Move(NodeRef(NodeFromStatx(Retain(cur_.get()), name, st)), std::move(next));
        return noErr;
    }

private:
    void Move(NodeRef node, UniqueFd fd) {
        cur_ = std::move(node);
        owned_ = std::move(fd);
        fd_ = owned_.get();
    }
    NodeRef cur_;
    UniqueFd owned_;
    int fd_ = -1;
};

} // namespace

int StatxAt(int dirFd, const char* name, unsigned mask, struct statx* st) {
    if (statx(dirFd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, mask, st) == 0)
        return 0;
    return errno;
}

namespace {

// The folder that held the last leaf resolved, by the text that named it. A
// tree walk resolves thousands of paths in one folder; starting there instead
// of at "/" saves a descriptor and a statx per level, and the shared record
// lets the descriptor pool hit. The text is reused only when it still leads to
// the same folder (device and inode, one statx that does not follow a final
// link), and only for plain absolute paths whose first walk met no link, "."
// or "..", so the records match the text. The folder's own descriptor is kept,
// which also keeps its inode number from naming another folder meanwhile.
struct LastFolder {
    std::string text;
    NodeRef node;
    UniqueFd fd;
};
LastFolder& TheLastFolder() {
    static LastFolder last;
    return last;
}

} // namespace

// "/a/b/c" -> "/a/b" for a plain absolute path; empty when the text has "//",
// a "." or ".." component or a trailing "/", or its leaf is in "/".
std::string_view PlainParentText(std::string_view path) {
    const size_t n = path.size();
    if (n < 2 || path.front() != '/' || path.back() == '/')
        return {};
    // From slash to slash; each component must be neither empty, "." nor "..".
    const char* p = path.data();
    size_t lastSlash = 0;
    for (size_t i = 0; i < n;) {
        const char* slash = static_cast<const char*>(memchr(p + i, '/', n - i));
        if (!slash)
            break;
        i = size_t(slash - p); // the component after it starts at i + 1 < n
        lastSlash = i;
        const char c1 = p[i + 1];
        const char c2 = i + 2 < n ? p[i + 2] : '/';
        if (c1 == '/' ||
            (c1 == '.' && (c2 == '/' || (c2 == '.' && (i + 3 == n || p[i + 3] == '/')))))
            return {};
        i += 1;
    }
    return lastSlash == 0 ? std::string_view{} : path.substr(0, lastSlash);
}

namespace {

void RememberFolder(std::string_view text, OrvikFSNode* folder, int folderFd) {
    LastFolder& last = TheLastFolder();
    if (last.node.get() == folder && last.text == text)
        return;
    UniqueFd fd(fcntl(folderFd, F_DUPFD_CLOEXEC, 0));
    last = LastFolder{};
    if (fd.get() < 0)
        return;
    last.node = NodeRef::Share(folder);
    last.text.assign(text);
    last.fd = std::move(fd);
}

// The remembered folder when `text` still names it (*st: what it is now),
// else null.
OrvikFSNode* RememberedFolder(std::string_view text, struct statx* st) {
    LastFolder& last = TheLastFolder();
    if (!last.node || text.empty() || text != last.text)
        return nullptr;
    if (StatxAt(AT_FDCWD, last.text.c_str(), FactsMask(STATX_TYPE | STATX_INO), st) != 0 ||
        !S_ISDIR(st->stx_mode) || st->stx_ino != last.node->ino ||
        makedev(st->stx_dev_major, st->stx_dev_minor) != last.node->dev)
        return nullptr;
    return last.node.get();
}

// A leaf in the remembered folder, found with one statx of the whole text:
// true with *ref set when the text names an object that is not a link to be
// followed; false to walk instead. The record's folder is checked before it
// is used (OpenParent), since this lookup did not look in the folder.
// A text that names nothing gives fnfErr at once (*status).
bool ResolveInRememberedFolder(std::string_view path, std::string_view parentText, bool followLeaf,
                               FSRef* ref, Boolean* isDirectory, OSErr* status) {
    LastFolder& last = TheLastFolder();
    if (!last.node || parentText.empty() || parentText != last.text || path.size() >= PATH_MAX)
        return false;
    struct statx st; // path.data() is a C string: zero after, none inside
    if (int error = StatxAt(AT_FDCWD, path.data(), FactsMask(STATX_TYPE | STATX_INO), &st)) {
        *status = fnfErr;
        return error == ENOENT || error == ENOTDIR; // else the walk finds out why
    }
    if (S_ISLNK(st.stx_mode) && followLeaf)
        return false; // the walk follows it
    *status = noErr;
    OrvikFSNode* node =
        NodeFromStatx(Retain(last.node.get()), path.substr(parentText.size() + 1), st);
    node->parentUnchecked = true;
    KeepFacts(node, st, path);
    if (isDirectory)
        *isDirectory = node->isDir();
    SetRef(ref, node);
    return true;
}

bool StartAtRememberedFolder(std::string_view parentText, Walker& walk) {
    struct statx st;
    OrvikFSNode* folder = RememberedFolder(parentText, &st);
    if (!folder)
        return false;
    walk.StartAtBorrowed(NodeRef::Share(folder), TheLastFolder().fd.get());
    return true;
}

} // namespace

namespace {

// What earlier calls left answers for the text: the facts of the call just
// before, the tree scope, the remembered folder. False when none knows it.
// *parentText is the path's plain parent text when none of them knew it (it
// is only worth the scan then).
bool ResolveFromEarlierCalls(std::string_view path, bool followLeaf, std::string_view* parentText,
                             FSRef* ref, Boolean* isDirectory, OSErr* status) {
    *status = noErr;
    // Named by the same text in the call before, within one compound operation.
    OrvikFSNode* known = nullptr;
    if (AnswerFromFacts(path, followLeaf, &known)) {
        if (!known) {
            *status = fnfErr;
            return true;
        }
        if (isDirectory)
            *isDirectory = known->isDir();
        SetRef(ref, Retain(known));
        return true;
    }
    if (ResolveInTree(path, ref, isDirectory, status))
        return true;
    // The folder a tree walk is in is named again and again by itself too.
    struct statx folderNow;
    if (OrvikFSNode* folder = RememberedFolder(path, &folderNow)) {
        KeepFacts(folder, folderNow, path);
        if (isDirectory)
            *isDirectory = true;
        SetRef(ref, Retain(folder));
        return true;
    }
    *parentText = PlainParentText(path);
    return ResolveInRememberedFolder(path, *parentText, followLeaf, ref, isDirectory, status);
}

// One walk of a path text, name by name, from its starting folder.
struct PathWalk {
    Walker walk;
    std::vector<std::string> pending; // the names still to walk, the next one last
    std::string_view parentText;      // a plain parent text to remember, or empty
    bool followLeaf = false;
    bool mustBeFolder = false;
    int links = 0;

    OSErr Start(std::string_view path);
    OSErr FollowLink(const std::string& name, bool last);
    OSErr Finish(OrvikFSNode** result);
};

OSErr PathWalk::Start(std::string_view path) {
    if (StartAtRememberedFolder(parentText, walk)) {
        pending.emplace_back(path.substr(parentText.size() + 1)); // the leaf alone
        return noErr;
    }
    PushComponents(pending, path);
    if (path.front() != '/') {
        char* cwd = getcwd(nullptr, 0);
        if (!cwd)
            return LastStatus();
        PushComponents(pending, cwd);
        free(cwd);
    }
    return walk.StartAtRoot();
}

// A link met on the way: the names of its target take its place.
OSErr PathWalk::FollowLink(const std::string& name, bool last) {
    if (++links > 40)
        return fnfErr; // ELOOP
    std::string target(PATH_MAX, '\0');
    const ssize_t n = readlinkat(walk.fd(), name.c_str(), target.data(), target.size());
    if (n <= 0)
        return n < 0 ? LastStatus() : OSErr(fnfErr);
    target.resize(size_t(n));
    if (target.front() == '/') {
        if (OSErr status = walk.StartAtRoot())
            return status;
    }
    if (target.back() == '/' && last)
        mustBeFolder = true;
    PushComponents(pending, target);
    return noErr;
}

// Walks the pending names; *result is the object they name, retained.
OSErr PathWalk::Finish(OrvikFSNode** result) {
    *result = nullptr;
    while (!pending.empty()) {
        const std::string name = std::move(pending.back());
        pending.pop_back();
        const bool last = pending.empty();
        if (last && !parentText.empty() && links == 0)
            RememberFolder(parentText, walk.node(), walk.fd());
        if (name == ".")
            continue;
        if (name == "..") {
            if (OSErr status = walk.Up())
                return status;
            continue;
        }
        struct statx st;
        const unsigned mask = last ? FactsMask(STATX_TYPE | STATX_INO) : STATX_TYPE | STATX_INO;
        if (int error = StatxAt(walk.fd(), name.c_str(), mask, &st))
            return StatusFromErrno(error);
        if (S_ISLNK(st.stx_mode) && (!last || followLeaf || mustBeFolder)) {
            if (OSErr status = FollowLink(name, last))
                return status;
            continue;
        }
        if (last && !S_ISDIR(st.stx_mode)) {
            if (mustBeFolder)
                return fnfErr; // ENOTDIR
            *result = NodeFromStatx(Retain(walk.node()), name, st);
            KeepFacts(*result, st);
            return noErr;
        }
        if (!S_ISDIR(st.stx_mode))
            return fnfErr; // ENOTDIR
        if (OSErr status = walk.Down(name, st))
            return status;
        if (last)
            KeepFacts(walk.node(), st);
    }
    *result = Retain(walk.node());
    return noErr;
}

} // namespace

OSErr ResolvePath(std::string_view path, bool followLeaf, FSRef* ref, Boolean* isDirectory) {
    if (!ref)
        return paramErr;
    if (path.empty() || path.find('\0') != path.npos)
        return fnfErr;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    if (InEntryScope())
        followLeaf = false;
    std::string_view parentText;
    OSErr status = noErr;
    if (ResolveFromEarlierCalls(path, followLeaf, &parentText, ref, isDirectory, &status))
        return status;
    PathWalk walk;
    walk.parentText = parentText;
    walk.followLeaf = followLeaf;
    walk.mustBeFolder = path.back() == '/';
    OrvikFSNode* result = nullptr;
    if (OSErr failure = walk.Start(path); failure != noErr)
        return failure;
    if (OSErr failure = walk.Finish(&result); failure != noErr)
        return failure;
    if (isDirectory)
        *isDirectory = result->isDir();
    SetRef(ref, result);
    return noErr;
}

} // namespace orvik::fm
