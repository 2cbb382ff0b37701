// The records behind references, the pool of folder descriptors keyed by
// record, and the per-thread facts one call of a compound operation leaves
// for the next.
//
// A reference is a chain of records {parent, name, device, inode} from "/".
// Folder descriptors come from a small pool (kSlots at most) keyed by record;
// a miss reopens the folder from the nearest pooled ancestor (or from a pooled
// child through ".."), refusing every link on the way, and checks the device
// and inode.
#include "platform/files/FileManagerInternal.h"

#include <cassert>
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
    while (node) {
        const auto before = node->refs.fetch_sub(1, std::memory_order_acq_rel);
        assert(before > 0 && "a record released more often than retained");
        if (before != 1)
            return;
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
    NodeRef node;
    UniqueFd fd;
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
        const OrvikFSNode* held = g_slots[i].node.get();
        if (held == node || (held && held->ino == node->ino && held->dev == node->dev))
            return i;
    }
    return -1;
}

// Eviction runs when the process is out of descriptors. The undefined-behaviour
// checker's test of a virtual call's object opens a pipe, fails there and
// reports a live iterator as a bad object; the address checker still watches
// every access the call makes, so only that one check is left out here.
__attribute__((no_sanitize("vptr"))) void EvictSlot(int i) {
    Slot& s = g_slots[i];
    assert(s.pins == 0 && "a pinned descriptor evicted while in use");
    if (s.owner)
        s.owner->Evicted();
    s = Slot{};
}

// Takes fd into a free or the least recently used unpinned slot; -1, with
// fd left to the caller, when every slot is pinned.
int InsertSlot(OrvikFSNode* node, UniqueFd& fd, bool pathOnly, IteratorSlotOwner* owner) {
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
    g_slots[chosen] =
        Slot{NodeRef::Share(node), std::move(fd), ++g_clock, 1, pathOnly, true, owner};
    return chosen;
}

// Gives back unpinned descriptors when the process runs out of them.
void ShedSlots() {
    for (int i = 0; i < kSlots; ++i)
        if (g_slots[i].node && g_slots[i].pins == 0)
            EvictSlot(i);
}

UniqueFd OpenFolderAt(int dirFd, const char* name, bool* pathOnly) {
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
    return UniqueFd(fd);
}

// openat2 with RESOLVE_NO_SYMLINKS, where the kernel has it: a whole chain
// of names in one call, refusing any link on the way.
UniqueFd OpenChain(int dirFd, const std::string& relative, bool* pathOnly) {
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
            return UniqueFd(fd);
        }
        if (errno != ENOSYS && errno != EPERM && errno != E2BIG && errno != EACCES)
            return UniqueFd();
        if (errno != EACCES)
            unavailable.store(true, std::memory_order_relaxed);
    }
    // One name at a time, each refusing a link.
    UniqueFd cur;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t end = relative.find('/', start);
        if (end == relative.npos)
            end = relative.size();
        const std::string name = relative.substr(start, end - start);
        UniqueFd next = OpenFolderAt(cur.get() >= 0 ? cur.get() : dirFd, name.c_str(), pathOnly);
        if (next.get() < 0)
            return next;
        cur = std::move(next);
        start = end + 1;
    }
    return cur;
}

UniqueFd OpenRootFolder(bool* pathOnly) {
    *pathOnly = false;
    return UniqueFd(open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// A pooled child leads back up through "..", which is never a link.
UniqueFd OpenThroughPooledChild(const OrvikFSNode* node, bool* pathOnly) {
    for (int i = 0; i < kSlots; ++i) {
        if (!g_slots[i].node || g_slots[i].node->parent != node)
            continue;
        UniqueFd fd = OpenFolderAt(g_slots[i].fd.get(), "..", pathOnly);
        if (fd.get() >= 0 && SameObject(fd.get(), node))
            return fd;
    }
    return UniqueFd();
}

// Where a walk down to node starts: the nearest pooled ancestor (pinned
// while the walk uses it), or "/"; the records below it, nearest last.
struct Descent {
    std::vector<const OrvikFSNode*> chain;
    int slot = -1;
    UniqueFd ownRoot;
    int base = -1;
    ~Descent() {
        if (slot >= 0)
            g_slots[slot].pins--;
    }
};

void StartDescent(const OrvikFSNode* node, Descent* descent) {
    for (const OrvikFSNode* a = node;;) {
        descent->chain.push_back(a);
        a = a->parent;
        if (a->isRoot())
            break;
        descent->slot = FindSlot(a);
        if (descent->slot >= 0)
            break;
    }
    if (descent->slot < 0)
        descent->slot = FindSlot(RootNode());
    if (descent->slot >= 0) {
        descent->base = g_slots[descent->slot].fd.get();
        g_slots[descent->slot].pins++;
        return;
    }
    bool ignored;
    descent->ownRoot = OpenRootFolder(&ignored);
    descent->base = descent->ownRoot.get();
}

// A new descriptor of the folder, or -1 with *status set.
UniqueFd OpenFolderFresh(OrvikFSNode* node, bool* pathOnly, OSErr* status) {
    if (node->isRoot()) {
        UniqueFd fd = OpenRootFolder(pathOnly);
        if (fd.get() < 0)
            *status = LastStatus();
        return fd;
    }
    if (UniqueFd fd = OpenThroughPooledChild(node, pathOnly); fd.get() >= 0)
        return fd;
    Descent descent;
    StartDescent(node, &descent);
    if (descent.base < 0) {
        *status = LastStatus();
        return UniqueFd();
    }
    UniqueFd cur;
    for (size_t i = descent.chain.size(); i > 0;) {
        std::string relative;
        while (i > 0 && relative.size() + descent.chain[i - 1]->nameLength + 1 < 3800) {
            if (!relative.empty())
                relative.push_back('/');
            relative.append(descent.chain[--i]->nameView());
        }
        cur = OpenChain(cur.get() >= 0 ? cur.get() : descent.base, relative, pathOnly);
        if (cur.get() < 0) {
            *status = LastStatus();
            return cur;
        }
    }
    if (!SameObject(cur.get(), node)) {
        *status = fnfErr;
        return UniqueFd();
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
    int depth = 0;     // open CompoundOperation scopes on this thread
    bool held = false; // what a call learned is kept
    NodeRef node;      // null: the text named nothing
    uint64_t entry = 0;
    struct statx st;  // stx_mask 0 when the answer came without a statx
    std::string text; // the path text that named node itself, when one did
};
thread_local Facts t_facts;

void DropFacts() {
    t_facts.node.reset();
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
    t_facts.node = NodeRef::Share(node);
    t_facts.st = st;
    t_facts.text.assign(text);
    Restamp();
}

void KeepAnswer(OrvikFSNode* node, std::string_view text) {
    if (t_facts.depth == 0)
        return;
    DropFacts();
    t_facts.held = true;
    t_facts.node = NodeRef::Share(node);
    t_facts.st.stx_mask = 0;
    t_facts.text.assign(text);
    Restamp();
}

bool TakeFacts(const OrvikFSNode* node, unsigned mask, struct statx* st) {
    if (!FreshFacts() || t_facts.node.get() != node || (t_facts.st.stx_mask & mask) != mask) {
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
    *node = t_facts.node.get();
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
    if (slot_ >= 0)
        UnpinSlot(slot_);
}

void PinSlot(int slot) {
    g_slots[slot].pins++;
    g_slots[slot].used = ++g_clock;
}

void UnpinSlot(int slot) {
    assert(slot >= 0 && slot < kSlots && g_slots[slot].pins > 0 && "a slot unpinned twice");
    if (g_slots[slot].pins > 0)
        g_slots[slot].pins--;
}

OSErr OpenFolder(OrvikFSNode* folder, DirFd& out) {
    if (!folder)
        return paramErr;
    int slot = FindSlot(folder);
    if (slot >= 0) {
        PinSlot(slot);
        out.Borrow(g_slots[slot].fd.get(), slot);
        return noErr;
    }
    bool pathOnly = false;
    OSErr status = noErr;
    UniqueFd fd = OpenFolderFresh(folder, &pathOnly, &status);
    if (fd.get() < 0)
        return status;
    const int descriptor = fd.get();
    slot = InsertSlot(folder, fd, pathOnly, nullptr);
    if (slot >= 0)
        out.Borrow(descriptor, slot);
    else
        out.Own(std::move(fd));
    return noErr;
}

OSErr OpenParent(OrvikFSNode* node, DirFd& out, const char** name) {
    if (!node)
        return paramErr;
    if (node->isRoot()) {
        out.Borrow(AT_FDCWD, -1);
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
            (s.node.get() == folder || (s.node->dev == folder->dev && s.node->ino == folder->ino)))
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
        (g_slots[i].unread || lseek(g_slots[i].fd.get(), 0, SEEK_SET) == 0)) {
        g_slots[i].unread = false;
        g_slots[i].owner = owner;
        PinSlot(i); // the iterator's pin; dir gives back its own
        *fd = g_slots[i].fd.get();
        *slot = i;
        return noErr;
    }
    UniqueFd own(openat(dir.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (own.get() < 0 && (errno == EMFILE || errno == ENFILE)) {
        ShedSlots();
        own = UniqueFd(openat(dir.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    }
    if (own.get() < 0)
        return LastStatus();
    const int descriptor = own.get();
    i = InsertSlot(folder, own, false, owner);
    if (i < 0)
        return tmfoErr;
    g_slots[i].unread = false;
    *fd = descriptor;
    *slot = i;
    return noErr;
}

void DetachIterator(int slot) {
    g_slots[slot].owner = nullptr;
    g_slots[slot].unread = false;
}

} // namespace orvik::fm
