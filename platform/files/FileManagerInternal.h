// Private to the file manager's .cpp files: the reference record, the
// errno table, the pool of folder descriptors and the helpers every call
// shares. Nothing outside platform/FileManager*.cpp and LaunchServices.cpp
// includes this.
#pragma once

#include "platform/FileManager.h"
#include "platform/UniqueFd.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

// One object on disk: its folder (the parent record, null for "/"), its name
// bytes, and the device, inode and type seen when the record was made. The
// record never changes after it is made; FSRef shares it.
struct OrvikFSNode {
    std::atomic<uint32_t> refs;
    OrvikFSNode* parent; // holds one reference; null only for the root
    dev_t dev;
    ino_t ino;
    uint32_t mode; // S_IFMT bits when made
    uint32_t nameLength;
    // Made from the whole path text in one statx, under a folder the text
    // named earlier: before the folder is used to reach this entry by name, it
    // is checked to hold this object under this name (OpenParent does it).
    bool parentUnchecked;

    const char* name() const { return reinterpret_cast<const char*>(this + 1); }
    std::string_view nameView() const { return {name(), nameLength}; }
    bool isRoot() const { return parent == nullptr; }
    bool isDir() const { return S_ISDIR(mode); }
};

namespace orvik::fm {

// errno to status: the one table.
OSErr StatusFromErrno(int error);
inline OSErr LastStatus() {
    return StatusFromErrno(errno);
}

// Records. MakeNode takes over one reference to parent (may be null only for
// the root). AdoptNode wraps a new record in an FSRef.
OrvikFSNode* RootNode(); // immortal
OrvikFSNode* MakeNode(OrvikFSNode* parent, std::string_view name, dev_t dev, ino_t ino,
                      uint32_t mode);
OrvikFSNode* Retain(OrvikFSNode* node);
void Release(OrvikFSNode* node);
void SetRef(FSRef* ref, OrvikFSNode* adoptedNode); // ref takes the reference

// The one owner of a record reference inside the file manager (FSRef is the
// public one): the reference goes when the owner does.
class NodeRef {
public:
    NodeRef() = default;
    explicit NodeRef(OrvikFSNode* adopted) : node_(adopted) {}
    static NodeRef Share(OrvikFSNode* node) { return NodeRef(Retain(node)); }
    NodeRef(NodeRef&& other) noexcept : node_(other.release()) {}
    NodeRef& operator=(NodeRef&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    NodeRef(const NodeRef&) = delete;
    NodeRef& operator=(const NodeRef&) = delete;
    ~NodeRef() { Release(node_); }
    OrvikFSNode* get() const { return node_; }
    OrvikFSNode* operator->() const { return node_; }
    explicit operator bool() const { return node_ != nullptr; }
    OrvikFSNode* release() {
        OrvikFSNode* node = node_;
        node_ = nullptr;
        return node;
    }
    void reset(OrvikFSNode* adopted = nullptr) {
        OrvikFSNode* old = node_;
        node_ = adopted;
        Release(old);
    }

private:
    OrvikFSNode* node_ = nullptr;
};
inline OrvikFSNode* NodeOf(const FSRef* ref) {
    return ref ? ref->node : nullptr;
}
OrvikFSNode* NodeFromStatx(OrvikFSNode* parentRetained, std::string_view name,
                           const struct statx& st);

// Names.
enum class NameCheck { ok, invalid, tooLong };
// UTF-16 name to bytes for one component: no '/', no NUL, not "." or "..".
NameCheck NameToBytes(const UniChar* units, UniCharCount count, std::string& out);
bool IsValidUtf8(const char* bytes, size_t length);
void BytesToName(std::string_view bytes, HFSUniStr255* out); // at most 255 units
bool BytesToUnicode(std::string_view bytes, std::u16string& out);
bool UnicodeToBytes(const UniChar* units, size_t count, std::string& out);

// A folder descriptor lent by the pool (or owned, when the pool is full) for
// the length of one call. Every pool user holds Lock() for the whole call.
std::recursive_mutex& Lock();
class DirFd {
public:
    DirFd() = default;
    DirFd(const DirFd&) = delete;
    DirFd& operator=(const DirFd&) = delete;
    ~DirFd();
    int fd() const { return fd_; }
    int slot() const { return slot_; }
    // Borrows a pooled descriptor (slot pinned by the caller) or AT_FDCWD.
    void Borrow(int fd, int slot) {
        fd_ = fd;
        slot_ = slot;
    }
    // Owns a descriptor the pool had no room for.
    void Own(UniqueFd fd) {
        owned_ = std::move(fd);
        fd_ = owned_.get();
    }

private:
    UniqueFd owned_;
    int fd_ = -1;
    int slot_ = -1;
};
// A descriptor of the folder itself: fnfErr when it is no longer the folder
// the record names (device and inode differ) or a link stands in its way.
OSErr OpenFolder(OrvikFSNode* folder, DirFd& out);
// The folder holding node, and node's name in it. For "/": AT_FDCWD and "/".
OSErr OpenParent(OrvikFSNode* node, DirFd& out, const char** name);
// Forks: "user." + the fork name's bytes (false for a name no attribute can
// have), and the regular file a reference names, opened only while its name
// holds that very file.
bool AttributeName(const UniChar* name, UniCharCount length, std::string& out);
OSErr OpenRegular(OrvikFSNode* node, int flags, UniqueFd* fd);
// Forgets descriptors of a deleted folder.
void ForgetFolder(const OrvikFSNode* folder);

// Iterator descriptors live in the pool too, so a deep walk keeps only a
// bounded number open: an evicted iterator reopens its folder on next use.
struct IteratorSlotOwner {
    virtual void Evicted() = 0;
    virtual ~IteratorSlotOwner() = default;
};
// Gives the iterator a descriptor of its own (position 0) pinned in slot.
OSErr AttachIterator(OrvikFSNode* folder, IteratorSlotOwner* owner, int* fd, int* slot);
void PinSlot(int slot);
void UnpinSlot(int slot);
// The iterator is done: its descriptor stays as a cached folder descriptor.
void DetachIterator(int slot);

// Inside a CompoundOperation, what the last call of this thread learned of an
// object stays known for the next call into the file manager, and for that
// call only (each use of it carries it one call further): KeepFacts records
// the statx that made `node` (and the path text that named node itself, if a
// text did); KeepAnswer what a text named without a statx (a folder, or
// nothing: null). TakeFacts gives a statx to a catalog read of that record,
// AnswerFromFacts the answer to a resolution of the same text. Both run under
// Lock() and return false when there is nothing fresh. FactsMask is the statx
// mask to ask for so that the facts can answer any catalog read: the full
// basic set inside a compound operation, else `mask`.
unsigned FactsMask(unsigned mask);
void KeepFacts(OrvikFSNode* node, const struct statx& st, std::string_view text = {});
void KeepAnswer(OrvikFSNode* node, std::string_view text);
bool TakeFacts(const OrvikFSNode* node, unsigned mask, struct statx* st);
bool AnswerFromFacts(std::string_view text, bool followLeaf, OrvikFSNode** node);

// statx of (dir, name) without following a link; errno on failure.
int StatxAt(int dirFd, const char* name, unsigned mask, struct statx* st);
// Opens a regular file or folder named (dirFd, name) for reading only after
// statx said it is one, and checks it is the same inode; -1 (errno) else.
int OpenObjectForAttributes(int dirFd, const char* name, const struct statx& expected);
bool IsLocked(const struct statx& st);

// Catalog information.
unsigned StatxMaskFor(FSCatalogInfoBitmap whichInfo);
void FillCatalogInfo(const struct statx& st, int dirFd, const char* name,
                     FSCatalogInfoBitmap whichInfo, FSCatalogInfo* info);
FSVolumeRefNum VolumeOf(dev_t dev, int dirFd, const char* name);
void FillSpec(const OrvikFSNode* node, FSSpec* spec);

// Dates: seconds since 1904 in 48 bits and a 16-bit fraction.
UTCDateTime ToUTCDateTime(int64_t unixSeconds, uint32_t nanoseconds);
void FromUTCDateTime(const UTCDateTime& date, int64_t* unixSeconds, uint32_t* nanoseconds);

// "/a/b/c" -> "/a/b": the folder part of a plain absolute path; empty when the
// text has "//", a "." or ".." component or a trailing "/", or its leaf is in
// "/". Only such a text can name the same folder as the last walk did.
std::string_view PlainParentText(std::string_view path);

using orvik::UniqueFd;

// Inside a TreeScope: resolves a text at or below its folder beneath the
// folder's descriptor (true, *status the result); false for any other text.
// Runs under Lock().
bool ResolveInTree(std::string_view path, FSRef* ref, Boolean* isDirectory, OSErr* status);

// Path bytes of a record ("/" for the root).
std::string PathOf(const OrvikFSNode* node);
// Resolves path bytes; followLeaf false keeps a final link. The bytes must be
// followed by a zero byte (a C string or a std::string's text).
OSErr ResolvePath(std::string_view path, bool followLeaf, FSRef* ref, Boolean* isDirectory);

} // namespace orvik::fm

// ---- Acting on the object a record names ----
namespace orvik::fm {

// (dirFd, name) opened with flags | O_NOFOLLOW | O_CLOEXEC (and O_NONBLOCK |
// O_NOCTTY unless O_PATH) when the name holds the object dev/ino; -1 with
// errno ENOENT when another object stands there now.
int OpenObjectOf(int dirFd, const char* name, int flags, dev_t dev, ino_t ino);
// Writes the catalog fields (see FSSetCatalogInfo) of the object dev/ino at
// (dirFd, name), through a descriptor of that object; fnfErr, and nothing
// changed, when the name holds another object.
OSErr SetCatalogInfoOf(int dirFd, const char* name, dev_t dev, ino_t ino,
                       FSCatalogInfoBitmap whichInfo, const FSCatalogInfo* info);

} // namespace orvik::fm
