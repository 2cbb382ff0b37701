// File references over POSIX: the errno table, names, the reference records,
// the pool of folder descriptors and path resolution.
//
// A reference is a chain of records {parent, name, device, inode} from "/".
// Operations reach an object as (descriptor of its folder, its name), so the
// kernel never follows a link on their behalf. Folder descriptors come from a
// small pool (kSlots at most) keyed by record; a miss reopens the folder
// from the nearest pooled ancestor (or from a pooled child through ".."),
// refusing every link on the way, and checks the device and inode.
#include "platform/FileManagerInternal.h"
#include "platform/PathBytes.h"

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
    return pathbytes::IsValidUtf8(bytes, length);
}

bool UnicodeToBytes(const UniChar* units, size_t count, std::string& out) {
    return pathbytes::EncodePathBytes(units, count, out);
}

bool BytesToUnicode(std::string_view bytes, std::u16string& out) {
    pathbytes::DecodePathBytes(bytes, out);
    return true;
}

void BytesToName(std::string_view bytes, HFSUniStr255* out) {
    UInt16 n = 0;
    pathbytes::DecodePathBytes(bytes, [&](char16_t u) {
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

// ---- Records ----

namespace {

struct RootRecord {
    OrvikFSNode node;
    char name[2] = {'/', 0};
};

RootRecord* MakeRoot() {
    auto* r = new RootRecord;
    r->node.refs.store(1u << 30);
    r->node.parent = nullptr;
    struct stat st {};
    stat("/", &st);
    r->node.dev = st.st_dev;
    r->node.ino = st.st_ino;
    r->node.mode = S_IFDIR;
    r->node.nameLength = 1;
    r->node.parentUnchecked = false;
    return r;
}

} // namespace

OrvikFSNode* RootNode() {
    static RootRecord* root = MakeRoot();
    return &root->node;
}

OrvikFSNode* MakeNode(OrvikFSNode* parent, std::string_view name, dev_t dev, ino_t ino,
                      uint32_t mode) {
    void* memory = ::operator new(sizeof(OrvikFSNode) + name.size() + 1);
    auto* node = new (memory) OrvikFSNode;
    node->refs.store(1, std::memory_order_relaxed);
    node->parent = parent;
    node->dev = dev;
    node->ino = ino;
    node->mode = mode & S_IFMT;
    node->nameLength = uint32_t(name.size());
    node->parentUnchecked = false;
    char* text = reinterpret_cast<char*>(node + 1);
    memcpy(text, name.data(), name.size());
    text[name.size()] = 0;
    return node;
}

OrvikFSNode* NodeFromStatx(OrvikFSNode* parentRetained, std::string_view name,
                           const struct statx& st) {
    return MakeNode(parentRetained, name, makedev(st.stx_dev_major, st.stx_dev_minor), st.stx_ino,
                    st.stx_mode);
}

OrvikFSNode* Retain(OrvikFSNode* node) {
    if (node)
        node->refs.fetch_add(1, std::memory_order_relaxed);
    return node;
}

// Iterative, so that dropping the last reference to a record 3,000 folders
// deep does not recurse 3,000 times.
void Release(OrvikFSNode* node) {
    while (node && node->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        OrvikFSNode* parent = node->parent;
        node->~OrvikFSNode();
        ::operator delete(node);
        node = parent;
    }
}

void SetRef(FSRef* ref, OrvikFSNode* adoptedNode) {
    OrvikFSNode* old = ref->node;
    ref->node = adoptedNode;
    Release(old);
}

std::string PathOf(const OrvikFSNode* node) {
    if (node->isRoot())
        return "/";
    size_t total = 0;
    for (const OrvikFSNode* n = node; !n->isRoot(); n = n->parent)
        total += n->nameLength + 1;
    std::string path(total, '/');
    for (const OrvikFSNode* n = node; !n->isRoot(); n = n->parent) {
        total -= n->nameLength;
        memcpy(path.data() + total, n->name(), n->nameLength);
        --total; // the "/" before the name, already there
    }
    return path;
}

// ---- The descriptor pool ----

namespace {

constexpr int kSlots = 64;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

struct Slot {
    OrvikFSNode* node = nullptr;
    int fd = -1;
    uint64_t used = 0;
    int pins = 0;
    bool pathOnly = false; // O_PATH: usable as a folder, not for reading
    bool unread = true;    // never read by an iterator: still at position 0
    IteratorSlotOwner* owner = nullptr;
};

Slot g_slots[kSlots];
uint64_t g_clock = 0;

bool SameObject(int fd, const OrvikFSNode* node) {
    struct stat st;
    return fstat(fd, &st) == 0 && st.st_dev == node->dev && st.st_ino == node->ino &&
           S_ISDIR(st.st_mode);
}

// A slot holds the folder by its descriptor, so any record of the same
// device and inode can use it: the descriptor keeps that inode alive, so its
// number names no other folder meanwhile. Records of one folder made by
// separate resolutions then share one descriptor.
int FindSlot(const OrvikFSNode* node) {
    for (int i = 0; i < kSlots; ++i) {
        const OrvikFSNode* held = g_slots[i].node;
        if (held == node || (held && held->ino == node->ino && held->dev == node->dev))
            return i;
    }
    return -1;
}

void EvictSlot(int i) {
    Slot& s = g_slots[i];
    if (s.owner)
        s.owner->Evicted();
    close(s.fd);
    Release(s.node);
    s = Slot{};
}

int InsertSlot(OrvikFSNode* node, int fd, bool pathOnly, IteratorSlotOwner* owner) {
    int chosen = -1;
    for (int i = 0; i < kSlots && chosen < 0; ++i)
        if (!g_slots[i].node)
            chosen = i;
    if (chosen < 0) {
        for (int i = 0; i < kSlots; ++i)
            if (g_slots[i].pins == 0 && (chosen < 0 || g_slots[i].used < g_slots[chosen].used))
                chosen = i;
        if (chosen < 0)
            return -1;
        EvictSlot(chosen);
    }
    g_slots[chosen] = Slot{Retain(node), fd, ++g_clock, 1, pathOnly, true, owner};
    return chosen;
}

// Gives back unpinned descriptors when the process runs out of them.
void ShedSlots() {
    for (int i = 0; i < kSlots; ++i)
        if (g_slots[i].node && g_slots[i].pins == 0)
            EvictSlot(i);
}

int OpenFolderAt(int dirFd, const char* name, bool* pathOnly) {
    int fd = openat(dirFd, name, kFolderFlags);
    if (fd < 0 && (errno == EMFILE || errno == ENFILE)) {
        ShedSlots();
        fd = openat(dirFd, name, kFolderFlags);
    }
    *pathOnly = false;
    if (fd < 0 && errno == EACCES) {
        fd = openat(dirFd, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        *pathOnly = true;
    }
    return fd;
}

// openat2 with RESOLVE_NO_SYMLINKS, where the kernel has it: a whole chain
// of names in one call, refusing any link on the way.
int OpenChain(int dirFd, const std::string& relative, bool* pathOnly) {
    static std::atomic<bool> unavailable{false};
    if (!unavailable.load(std::memory_order_relaxed)) {
        struct open_how how {};
        how.flags = kFolderFlags;
        how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        int fd = int(syscall(SYS_openat2, dirFd, relative.c_str(), &how, sizeof how));
        if (fd < 0 && (errno == EMFILE || errno == ENFILE)) {
            ShedSlots();
            fd = int(syscall(SYS_openat2, dirFd, relative.c_str(), &how, sizeof how));
        }
        if (fd >= 0) {
            *pathOnly = false;
            return fd;
        }
        if (errno != ENOSYS && errno != EPERM && errno != E2BIG && errno != EACCES)
            return -1;
        if (errno != EACCES)
            unavailable.store(true, std::memory_order_relaxed);
    }
    // One name at a time, each refusing a link.
    int cur = dirFd;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('/', start);
        if (end == relative.npos)
            end = relative.size();
        std::string name = relative.substr(start, end - start);
        int next = OpenFolderAt(cur, name.c_str(), pathOnly);
        int saved = errno;
        if (cur != dirFd)
            close(cur);
        if (next < 0) {
            errno = saved;
            return -1;
        }
        cur = next;
        start = end + 1;
    }
    return cur;
}

int OpenRootFolder(bool* pathOnly) {
    *pathOnly = false;
    return open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// A new descriptor of the folder, or -1 with *status set.
int OpenFolderFresh(OrvikFSNode* node, bool* pathOnly, OSErr* status) {
    if (node->isRoot()) {
        int fd = OpenRootFolder(pathOnly);
        if (fd < 0)
            *status = LastStatus();
        return fd;
    }
    // A pooled child leads back up through "..", which is never a link.
    for (int i = 0; i < kSlots; ++i) {
        if (!g_slots[i].node || g_slots[i].node->parent != node)
            continue;
        int fd = OpenFolderAt(g_slots[i].fd, "..", pathOnly);
        if (fd >= 0 && SameObject(fd, node))
            return fd;
        if (fd >= 0)
            close(fd);
    }
    // Otherwise down from the nearest pooled ancestor, or from "/".
    std::vector<const OrvikFSNode*> chain;
    int base = -1, baseSlot = -1;
    for (const OrvikFSNode* a = node;;) {
        chain.push_back(a);
        a = a->parent;
        if (a->isRoot())
            break;
        baseSlot = FindSlot(a);
        if (baseSlot >= 0)
            break;
    }
    bool ignored;
    if (baseSlot >= 0) {
        base = g_slots[baseSlot].fd;
        g_slots[baseSlot].pins++;
    } else {
        baseSlot = FindSlot(RootNode());
        if (baseSlot >= 0) {
            base = g_slots[baseSlot].fd;
            g_slots[baseSlot].pins++;
        } else {
            base = OpenRootFolder(&ignored);
        }
    }
    if (base < 0) {
        *status = LastStatus();
        return -1;
    }
    int cur = base;
    for (size_t i = chain.size(); i > 0;) {
        std::string relative;
        while (i > 0 && relative.size() + chain[i - 1]->nameLength + 1 < 3800) {
            if (!relative.empty())
                relative.push_back('/');
            relative.append(chain[--i]->nameView());
        }
        int next = OpenChain(cur, relative, pathOnly);
        int saved = errno;
        if (cur != base)
            close(cur);
        cur = next;
        if (cur < 0) {
            errno = saved;
            break;
        }
    }
    int saved = errno;
    if (baseSlot >= 0)
        g_slots[baseSlot].pins--;
    else
        close(base);
    if (cur < 0) {
        *status = StatusFromErrno(saved);
        return -1;
    }
    if (!SameObject(cur, node)) {
        close(cur);
        *status = fnfErr;
        return -1;
    }
    return cur;
}

} // namespace

namespace {
// Numbers the entries into the lock, in every thread: facts stamped with the
// number of the entry that learned them are fresh for the call whose entry
// has the next number, and for no other. A call of another thread that came
// in between, even one that entered before the facts were stamped, took a
// number in between.
std::atomic<uint64_t> g_lockEntries{0};
thread_local uint64_t t_lastEntry = 0; // the number of this thread's last entry

struct Facts {
    int depth = 0;               // open CompoundOperation scopes on this thread
    bool held = false;           // what a call learned is kept
    OrvikFSNode* node = nullptr; // null: the text named nothing
    uint64_t entry = 0;
    struct statx st;  // stx_mask 0 when the answer came without a statx
    std::string text; // the path text that named node itself, when one did
};
thread_local Facts t_facts;

void DropFacts() {
    Release(t_facts.node);
    t_facts.node = nullptr;
    t_facts.held = false;
    t_facts.text.clear();
}

bool FreshFacts() {
    return t_facts.held && t_facts.entry + 1 == t_lastEntry;
}

// Facts stay fresh for the next call into the file manager, and the next only.
void Restamp() {
    t_facts.entry = t_lastEntry;
}
} // namespace

std::recursive_mutex& Lock() {
    static std::recursive_mutex mutex;
    t_lastEntry = g_lockEntries.fetch_add(1, std::memory_order_relaxed) + 1;
    return mutex;
}

unsigned FactsMask(unsigned mask) {
    return t_facts.depth > 0 ? mask | STATX_BASIC_STATS : mask;
}

void KeepFacts(OrvikFSNode* node, const struct statx& st, std::string_view text) {
    if (t_facts.depth == 0 || (st.stx_mask & STATX_BASIC_STATS) != STATX_BASIC_STATS)
        return;
    DropFacts();
    t_facts.held = true;
    t_facts.node = Retain(node);
    t_facts.st = st;
    t_facts.text.assign(text);
    Restamp();
}

void KeepAnswer(OrvikFSNode* node, std::string_view text) {
    if (t_facts.depth == 0)
        return;
    DropFacts();
    t_facts.held = true;
    t_facts.node = Retain(node);
    t_facts.st.stx_mask = 0;
    t_facts.text.assign(text);
    Restamp();
}

bool TakeFacts(const OrvikFSNode* node, unsigned mask, struct statx* st) {
    if (!FreshFacts() || t_facts.node != node || (t_facts.st.stx_mask & mask) != mask) {
        DropFacts();
        return false;
    }
    *st = t_facts.st;
    Restamp();
    return true;
}

bool AnswerFromFacts(std::string_view text, bool followLeaf, OrvikFSNode** node) {
    if (!FreshFacts() || t_facts.text.empty() || t_facts.text != text ||
        (t_facts.node && S_ISLNK(t_facts.node->mode) && followLeaf)) {
        DropFacts();
        return false;
    }
    Restamp();
    *node = t_facts.node;
    return true;
}

CompoundOperation::CompoundOperation() {
    ++t_facts.depth;
}

CompoundOperation::~CompoundOperation() {
    if (--t_facts.depth == 0)
        DropFacts();
}

DirFd::~DirFd() {
    if (owned_ && fd_ >= 0)
        close(fd_);
    if (slot_ >= 0)
        UnpinSlot(slot_);
}

void PinSlot(int slot) {
    g_slots[slot].pins++;
    g_slots[slot].used = ++g_clock;
}

void UnpinSlot(int slot) {
    if (g_slots[slot].pins > 0)
        g_slots[slot].pins--;
}

OSErr OpenFolder(OrvikFSNode* folder, DirFd& out) {
    if (!folder)
        return paramErr;
    int slot = FindSlot(folder);
    if (slot >= 0) {
        PinSlot(slot);
        out.set(g_slots[slot].fd, slot, false);
        return noErr;
    }
    bool pathOnly = false;
    OSErr status = noErr;
    int fd = OpenFolderFresh(folder, &pathOnly, &status);
    if (fd < 0)
        return status;
    slot = InsertSlot(folder, fd, pathOnly, nullptr);
    out.set(fd, slot, slot < 0);
    return noErr;
}

OSErr OpenParent(OrvikFSNode* node, DirFd& out, const char** name) {
    if (!node)
        return paramErr;
    if (node->isRoot()) {
        out.set(AT_FDCWD, -1, false);
        *name = "/";
        return noErr;
    }
    *name = node->name();
    if (OSErr status = OpenFolder(node->parent, out))
        return status;
    // A record made from a whole path text was never looked up in its folder:
    // the folder must hold that very object under that name before it is
    // reached by the name, as a record made by walking is.
    if (node->parentUnchecked) {
        struct statx st;
        if (StatxAt(out.fd(), *name, STATX_INO, &st) != 0 || st.stx_ino != node->ino ||
            makedev(st.stx_dev_major, st.stx_dev_minor) != node->dev)
            return fnfErr;
    }
    return noErr;
}

void ForgetFolder(const OrvikFSNode* folder) {
    for (int i = 0; i < kSlots; ++i) {
        const Slot& s = g_slots[i];
        if (s.node && s.pins == 0 &&
            (s.node == folder || (s.node->dev == folder->dev && s.node->ino == folder->ino)))
            EvictSlot(i);
    }
}

OSErr AttachIterator(OrvikFSNode* folder, IteratorSlotOwner* owner, int* fd, int* slot) {
    DirFd dir;
    OSErr status = OpenFolder(folder, dir);
    if (status != noErr)
        return status;
    // A cached descriptor nobody iterates with becomes the iterator's own.
    int i = dir.slot();
    if (i >= 0 && !g_slots[i].owner && !g_slots[i].pathOnly && g_slots[i].pins == 1 &&
        (g_slots[i].unread || lseek(g_slots[i].fd, 0, SEEK_SET) == 0)) {
        g_slots[i].unread = false;
        g_slots[i].owner = owner;
        PinSlot(i); // the iterator's pin; dir gives back its own
        *fd = g_slots[i].fd;
        *slot = i;
        return noErr;
    }
    int own = openat(dir.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0 && (errno == EMFILE || errno == ENFILE)) {
        ShedSlots();
        own = openat(dir.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (own < 0)
        return LastStatus();
    i = InsertSlot(folder, own, false, owner);
    if (i < 0) {
        close(own);
        return tmfoErr;
    }
    g_slots[i].unread = false;
    *fd = own;
    *slot = i;
    return noErr;
}

void DetachIterator(int slot) {
    g_slots[slot].owner = nullptr;
    g_slots[slot].unread = false;
}

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
    ~Walker() {
        if (fd_ >= 0 && owned_)
            close(fd_);
        Release(cur_);
    }
    OSErr StartAtRoot() {
        Move(Retain(RootNode()), open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        return fd_ < 0 ? LastStatus() : OSErr(noErr);
    }
    // Starts at a folder already resolved: takes over one reference and
    // borrows fd, which the caller keeps open for the walk.
    void StartAtBorrowed(OrvikFSNode* node, int fd) {
        Move(node, fd);
        owned_ = false;
    }
    int fd() const { return fd_; }
    OrvikFSNode* node() const { return cur_; }
    OSErr Up() {
        if (cur_->isRoot())
            return noErr;
        int next = openat(fd_, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (next < 0)
            return LastStatus();
        Move(Retain(cur_->parent), next);
        return noErr;
    }
    OSErr Down(const std::string& name, const struct statx& st) {
        int next = openat(fd_, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0)
            return LastStatus();
        struct stat check;
        if (fstat(next, &check) != 0 || check.st_ino != st.stx_ino) {
            close(next);
            return fnfErr; // replaced while we looked
        }
        Move(NodeFromStatx(Retain(cur_), name, st), next);
        return noErr;
    }

private:
    void Move(OrvikFSNode* node, int fd) {
        if (fd_ >= 0 && owned_)
            close(fd_);
        Release(cur_);
        cur_ = node;
        fd_ = fd;
        owned_ = true;
    }
    OrvikFSNode* cur_ = nullptr;
    int fd_ = -1;
    bool owned_ = true;
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
    OrvikFSNode* node = nullptr;
    int fd = -1;
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
    if (last.node == folder && last.text == text)
        return;
    int fd = fcntl(folderFd, F_DUPFD_CLOEXEC, 0);
    if (last.fd >= 0)
        close(last.fd);
    Release(last.node);
    last = LastFolder{};
    if (fd < 0)
        return;
    last.node = Retain(folder);
    last.text.assign(text);
    last.fd = fd;
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
    return last.node;
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
    OrvikFSNode* node = NodeFromStatx(Retain(last.node), path.substr(parentText.size() + 1), st);
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
    walk.StartAtBorrowed(Retain(folder), TheLastFolder().fd);
    return true;
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
    // Named by the same text in the call before, within one compound operation.
    OrvikFSNode* known = nullptr;
    if (AnswerFromFacts(path, followLeaf, &known)) {
        if (!known)
            return fnfErr;
        if (isDirectory)
            *isDirectory = known->isDir();
        SetRef(ref, Retain(known));
        return noErr;
    }
    OSErr treeStatus = noErr;
    if (ResolveInTree(path, ref, isDirectory, &treeStatus))
        return treeStatus;
    // The folder a tree walk is in is named again and again by itself too.
    struct statx folderNow;
    if (OrvikFSNode* folder = RememberedFolder(path, &folderNow)) {
        KeepFacts(folder, folderNow, path);
        if (isDirectory)
            *isDirectory = true;
        SetRef(ref, Retain(folder));
        return noErr;
    }
    const std::string_view parentText = PlainParentText(path);
    OSErr quick = noErr;
    if (ResolveInRememberedFolder(path, parentText, followLeaf, ref, isDirectory, &quick))
        return quick;
    std::vector<std::string> pending;
    Walker walk;
    if (StartAtRememberedFolder(parentText, walk)) {
        pending.emplace_back(path.substr(parentText.size() + 1)); // the leaf alone
    } else {
        PushComponents(pending, path);
        if (path.front() != '/') {
            char* cwd = getcwd(nullptr, 0);
            if (!cwd)
                return LastStatus();
            PushComponents(pending, cwd);
            free(cwd);
        }
        if (OSErr status = walk.StartAtRoot())
            return status;
    }
    bool mustBeFolder = path.back() == '/';
    OrvikFSNode* result = nullptr;
    int links = 0;
    bool plainWalk = !parentText.empty();
    while (!pending.empty()) {
        std::string name = std::move(pending.back());
        pending.pop_back();
        bool last = pending.empty();
        if (last && plainWalk && links == 0)
            RememberFolder(parentText, walk.node(), walk.fd());
        if (name == ".")
            continue;
        if (name == "..") {
            if (OSErr status = walk.Up())
                return status;
            continue;
        }
        struct statx st;
        unsigned mask = last ? FactsMask(STATX_TYPE | STATX_INO) : STATX_TYPE | STATX_INO;
        if (int error = StatxAt(walk.fd(), name.c_str(), mask, &st))
            return StatusFromErrno(error);
        if (S_ISLNK(st.stx_mode) && (!last || followLeaf || mustBeFolder)) {
            if (++links > 40)
                return fnfErr; // ELOOP
            std::string target(PATH_MAX, '\0');
            ssize_t n = readlinkat(walk.fd(), name.c_str(), target.data(), target.size());
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
            continue;
        }
        if (last && !S_ISDIR(st.stx_mode)) {
            if (mustBeFolder)
                return fnfErr; // ENOTDIR
            result = NodeFromStatx(Retain(walk.node()), name, st);
            KeepFacts(result, st);
            break;
        }
        if (!S_ISDIR(st.stx_mode))
            return fnfErr; // ENOTDIR
        if (OSErr status = walk.Down(name, st))
            return status;
        if (last)
            KeepFacts(walk.node(), st);
    }
    if (!result)
        result = Retain(walk.node());
    if (isDirectory)
        *isDirectory = result->isDir();
    SetRef(ref, result);
    return noErr;
}

} // namespace orvik::fm

using namespace orvik::fm;

// ---- FSRef value semantics ----

FSRef::FSRef(const FSRef& other) noexcept : node(Retain(other.node)) {}
FSRef::FSRef(FSRef&& other) noexcept : node(other.node) {
    other.node = nullptr;
}
FSRef& FSRef::operator=(const FSRef& other) noexcept {
    if (this != &other)
        SetRef(this, Retain(other.node));
    return *this;
}
FSRef& FSRef::operator=(FSRef&& other) noexcept {
    if (this != &other) {
        SetRef(this, other.node);
        other.node = nullptr;
    }
    return *this;
}
FSRef::~FSRef() {
    Release(node);
}

// ---- Public calls ----

OSStatus FSPathMakeRef(const UInt8* path, FSRef* ref, Boolean* isDirectory) {
    return FSPathMakeRefWithOptions(path, kFSPathMakeRefDefaultOptions, ref, isDirectory);
}

OSStatus FSPathMakeRefWithOptions(const UInt8* path, OptionBits options, FSRef* ref,
                                  Boolean* isDirectory) {
    if (!path || !ref)
        return paramErr;
    std::string_view text(reinterpret_cast<const char*>(path));
    // Only UTF-8: a path narrowed to another encoding must not name another file.
    if (!IsValidUtf8(text.data(), text.size()))
        return fnfErr;
    return ResolvePath(text, !(options & kFSPathMakeRefDoNotFollowLeafSymlink), ref, isDirectory);
}

OSStatus FSRefMakePath(const FSRef* ref, UInt8* path, UInt32 maxPathSize) {
    OrvikFSNode* node = NodeOf(ref);
    if (!node || !path)
        return paramErr;
    std::string text = PathOf(node);
    if (text.size() + 1 > maxPathSize)
        return pathTooLongErr;
    memcpy(path, text.c_str(), text.size() + 1);
    return noErr;
}

OSErr FSMakeFSRefUnicode(const FSRef* parentRef, UniCharCount nameLength, const UniChar* name,
                         TextEncoding /*textEncodingHint*/, FSRef* newRef) {
    OrvikFSNode* parent = NodeOf(parentRef);
    if (!parent || !newRef || (nameLength && !name))
        return paramErr;
    std::string bytes;
    switch (NameToBytes(name, nameLength, bytes)) {
    case NameCheck::ok:
        break;
    case NameCheck::invalid:
        return fnfErr; // nothing can have that name
    case NameCheck::tooLong:
        return errFSNameTooLong;
    }
    std::lock_guard<std::recursive_mutex> lock(Lock());
    DirFd dir;
    if (OSErr status = OpenFolder(parent, dir))
        return status;
    struct statx st;
    if (int error = StatxAt(dir.fd(), bytes.c_str(), FactsMask(STATX_TYPE | STATX_INO), &st))
        return StatusFromErrno(error);
    SetRef(newRef, NodeFromStatx(Retain(parent), bytes, st));
    KeepFacts(newRef->node, st);
    return noErr;
}

OSErr PBMakeFSRefUnicodeSync(FSRefParam* paramBlock) {
    if (!paramBlock)
        return paramErr;
    paramBlock->ioResult =
        FSMakeFSRefUnicode(paramBlock->ref, paramBlock->nameLength, paramBlock->name,
                           paramBlock->textEncodingHint, paramBlock->newRef);
    return paramBlock->ioResult;
}

OSErr FSCompareFSRefs(const FSRef* ref1, const FSRef* ref2) {
    OrvikFSNode* a = NodeOf(ref1);
    OrvikFSNode* b = NodeOf(ref2);
    if (!a || !b)
        return paramErr;
    if (a == b)
        return noErr;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    struct statx sa, sb;
    const char* name;
    {
        DirFd dir;
        if (OSErr status = OpenParent(a, dir, &name))
            return status;
        if (int error = StatxAt(dir.fd(), name, STATX_INO, &sa))
            return StatusFromErrno(error);
    }
    {
        DirFd dir;
        if (OSErr status = OpenParent(b, dir, &name))
            return status;
        if (int error = StatxAt(dir.fd(), name, STATX_INO, &sb))
            return StatusFromErrno(error);
    }
    bool same = sa.stx_ino == sb.stx_ino && sa.stx_dev_major == sb.stx_dev_major &&
                sa.stx_dev_minor == sb.stx_dev_minor;
    return same ? OSErr(noErr) : OSErr(errFSRefsDifferent);
}

bool FSNameUnicodeToBytes(const UniChar* units, UniCharCount count, char* out, size_t outSize,
                          size_t* outLength) {
    std::string bytes;
    if ((count && !units) || !UnicodeToBytes(units, count, bytes))
        return false;
    if (out) {
        if (bytes.size() + 1 > outSize)
            return false;
        memcpy(out, bytes.c_str(), bytes.size() + 1);
    }
    if (outLength)
        *outLength = bytes.size();
    return true;
}

// Straight into the caller's buffer: at most one unit per byte.
bool FSNameBytesToUnicode(const char* bytes, size_t length, UniChar* out, size_t outCapacity,
                          UniCharCount* outLength) {
    if (!bytes && length)
        return false;
    const std::string_view text(bytes ? bytes : "", length);
    size_t count = 0;
    if (out && length <= outCapacity) {
        orvik::pathbytes::DecodePathBytes(text, [&](char16_t unit) { out[count++] = unit; });
    } else {
        orvik::pathbytes::DecodePathBytes(text, [&](char16_t) { ++count; });
        if (out) {
            if (count > outCapacity)
                return false;
            count = 0;
            orvik::pathbytes::DecodePathBytes(text, [&](char16_t unit) { out[count++] = unit; });
        }
    }
    if (outLength)
        *outLength = count;
    return true;
}
