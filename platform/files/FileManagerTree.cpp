// Resolution beneath one folder, for the tree operations that run as root
// over folders other users may write into.
//
// A TreeScope opens its folder once and keeps that descriptor pinned in the
// pool; every text below the folder is then walked from it one name at a
// time, each name looked up with statx without following, so a link in any
// component ends the walk (or is the entry itself, at the end) and ".."
// never climbs above the folder.
//
// Walking from the folder again for every text would cost one lookup per
// level, and the tree operations name paths thousands of levels deep
// hundreds of thousands of times. So the scope keeps the chain of folders
// its last walk went through, and reuses the part a new text shares with it.
// That is only sound while each name on the chain still holds the folder
// found under it: every folder of the chain carries an inotify watch, added
// before anything is looked up inside it, and the queue is read before each
// reuse. A change of any name in a chain folder (created, deleted, moved in
// or out, exchanged) or of the folder itself cuts the chain there. Without
// inotify the scope walks from its folder every time.
#include "platform/files/FileManagerInternal.h"

#include <cassert>
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvik::fm {

namespace {
thread_local int t_entryScopes = 0;
} // namespace

} // namespace orvik::fm

using namespace orvik::fm;

// ---- Entries named by their own text ----

EntryScope::EntryScope() {
    ++t_entryScopes;
}

EntryScope::~EntryScope() {
    --t_entryScopes;
}

// ---- The tree ----

namespace {

// Every change of a name in a chain folder: created, deleted (a deleted folder
// reports itself only once nothing holds it open, and the pool does), moved in
// or out; and the folder itself deleted or moved.
constexpr uint32_t kWatchedChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                     IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kFolderGone = IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT;

struct Level {
    FSRef folder;
    int watch;  // -1: not watched, and then the scope trusts no chain
    size_t end; // where its name ends in the chain's text
};

// How far two texts agree, in blocks first: the texts are long, the chain deep.
size_t Agreement(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    size_t m = 0;
    for (size_t block : {size_t{256}, size_t{16}})
        while (m + block <= n && memcmp(a.data() + m, b.data() + m, block) == 0)
            m += block;
    while (m < n && a[m] == b[m])
        ++m;
    return m;
}

// The names of a relative text one at a time: "a//b/./c/" gives a, b, ., c.
class Components {
public:
    explicit Components(std::string_view text) : text_(text) { Skip(); }
    bool Done() const { return text_.empty(); }
    std::string_view Next() {
        const size_t slash = std::min(text_.find('/'), text_.size());
        const std::string_view name = text_.substr(0, slash);
        text_.remove_prefix(slash);
        Skip();
        return name;
    }

private:
    void Skip() {
        while (!text_.empty() && text_.front() == '/')
            text_.remove_prefix(1);
    }
    std::string_view text_;
};

bool IsDotOrDotDot(std::string_view name) {
    return name == "." || name == "..";
}

// A text as every route to the file manager spells it: absolute (a relative
// text follows the working folder, as a file URL does), one "/" between names,
// no "." names and no trailing "/". ".." stays: what it means is the walk's.
// Empty when the working folder is unknown.
std::string Lexical(std::string_view text) {
    std::string out;
    if (text.empty() || text.front() != '/') {
        char* cwd = getcwd(nullptr, 0);
        if (!cwd)
            return out;
        out = cwd;
        free(cwd);
    }
    for (Components names(text); !names.Done();) {
        const std::string_view name = names.Next();
        if (name == ".")
            continue;
        if (out.size() != 1 || out.front() != '/')
            out.push_back('/');
        out.append(name);
    }
    if (out.empty())
        out = "/";
    return out;
}

} // namespace

struct TreeScope::State {
    State* outer = nullptr; // the scope open before this one on the thread
    std::string text;       // the folder's text, spelt as Lexical spells it
    std::u16string units;   // the folder's text as the scope was given it
    FSRef folder;           // what it names, a final link kept; empty if nothing
    DirFd pin;              // the folder's descriptor, pinned while the scope is open
    UniqueFd changes;       // inotify; -1 when the chain cannot be trusted
    std::vector<Level> chain;
    std::string chainText;         // "a/b/c": the names of chain[1..], joined
    size_t absentLevel = SIZE_MAX; // the last name found missing, in that level,
    std::string absentName;        // while no change of that name was reported
    std::unordered_map<int, size_t> levelOfWatch;
    char buffer[4096] __attribute__((aligned(alignof(struct inotify_event))));

    bool IsFolder() const { return folder.node && folder.node->isDir(); }

    // path == text, or lies below it: *rest is what follows the folder.
    bool Contains(std::string_view path, std::string_view* rest) const {
        if (path.size() < text.size() || path.compare(0, text.size(), text) != 0)
            return false;
        if (path.size() == text.size()) {
            *rest = {};
            return true;
        }
        if (text.back() == '/') {
            *rest = path.substr(text.size());
            return true;
        }
        if (path[text.size()] != '/')
            return false;
        *rest = path.substr(text.size() + 1);
        return true;
    }

    // The descriptor's own folder, through /proc, not a text that could
    // have changed meanwhile.
    int Watch(int fd) {
        if (changes.get() < 0)
            return -1;
        char proc[32];
        snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
        return inotify_add_watch(changes.get(), proc, kWatchedChanges);
    }

    void Push(std::string_view name, OrvikFSNode* adopted, int fd) {
        if (chain.size() > 1)
            chainText.push_back('/');
        chainText.append(name);
        Level level{FSRef(), -1, chainText.size()};
        SetRef(&level.folder, adopted);
        level.watch = Watch(fd);
        if (level.watch >= 0)
            levelOfWatch[level.watch] = chain.size();
        else
            changes = UniqueFd(); // a folder that cannot be watched: trust no chain
        chain.push_back(std::move(level));
    }

    // The name of chain level `i` (at least 1) in the level before it.
    std::string_view NameOf(size_t i) const {
        const size_t start = i == 1 ? 0 : chain[i - 1].end + 1;
        return std::string_view(chainText).substr(start, chain[i].end - start);
    }

    // The deepest level whose text `rest` begins with, up to a separator.
    size_t Matched(std::string_view rest) const {
        const size_t agreed = Agreement(rest, chainText);
        size_t low = 0, high = chain.size() - 1;
        while (low < high) {
            const size_t middle = (low + high + 1) / 2;
            if (chain[middle].end <= agreed)
                low = middle;
            else
                high = middle - 1;
        }
        if (low > 0 && chain[low].end == agreed && agreed < rest.size() && rest[agreed] != '/')
            --low; // "a/bc" does not continue "a/b"
        return low;
    }

    // Keeps the first `size` levels (never fewer than the folder itself).
    void Truncate(size_t size) {
        if (size < 1)
            size = 1;
        while (chain.size() > size) {
            if (chain.back().watch >= 0)
                levelOfWatch.erase(chain.back().watch);
            chain.pop_back();
        }
        assert(!chain.empty() && chain.back().end <= chainText.size() &&
               "a chain cut below its folder");
        chainText.resize(chain.back().end);
        if (absentLevel >= chain.size())
            absentLevel = SIZE_MAX;
    }

    // Reads every change reported so far and cuts the chain below each name
    // that changed. A read that leaves room for another event found the
    // queue empty at that moment.
    void Drain() {
        if (changes.get() < 0) {
            Truncate(1);
            return;
        }
        for (;;) {
            ssize_t n = read(changes.get(), buffer, sizeof buffer);
            if (n <= 0) {
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0 && errno != EAGAIN) {
                    Truncate(1); // nothing can be known of what happened
                    absentLevel = SIZE_MAX;
                }
                return;
            }
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
                Apply(*event);
                at += ssize_t(sizeof(struct inotify_event) + event->len);
            }
            if (size_t(n) + sizeof(struct inotify_event) + NAME_MAX + 1 <= sizeof buffer)
                return;
        }
    }

    void Apply(const struct inotify_event& event) {
        if (event.mask & IN_Q_OVERFLOW) {
            Truncate(1);
            absentLevel = SIZE_MAX;
            return;
        }
        auto found = levelOfWatch.find(event.wd);
        if (found == levelOfWatch.end())
            return;
        const size_t level = found->second;
        if (event.mask & kFolderGone) {
            Truncate(level);
            return;
        }
        if (event.len > 0 && level == absentLevel && absentName == event.name)
            absentLevel = SIZE_MAX;
        if (event.len > 0 && level + 1 < chain.size() && NameOf(level + 1) == event.name)
            Truncate(level + 1);
    }

    OSErr Resolve(std::string_view path, std::string_view rest, FSRef* ref, Boolean* isDirectory);
    size_t Known(size_t at, std::string_view name) const;
    OSErr Walk(std::string_view tail, size_t at, bool mustBeFolder, std::string_view path,
               FSRef* ref);
};

namespace {
thread_local TreeScope::State* t_tree = nullptr;
} // namespace

bool orvik::fm::InEntryScope() {
    return t_entryScopes > 0 || t_tree != nullptr;
}

// The chain level holding `name` inside level `at`, if the chain knows it.
size_t TreeScope::State::Known(size_t at, std::string_view name) const {
    const size_t next = at + 1;
    return next < chain.size() && NameOf(next) == name ? next : 0;
}

// Walks the parts from the folder down, reusing what the chain knows; a folder
// found by looking is pushed on the chain in place of what it held below that
// level. "." stays, ".." goes back one level and never above the folder.
OSErr TreeScope::State::Walk(std::string_view tail, size_t at, bool mustBeFolder,
                             std::string_view path, FSRef* ref) {
    bool lookedLast = false;
    for (Components parts(tail); !parts.Done();) {
        const std::string_view part = parts.Next();
        const bool last = parts.Done();
        lookedLast = false;
        if (IsDotOrDotDot(part)) {
            if (part == "..") {
                if (at == 0)
                    return fnfErr; // above the folder
                --at;
            }
            continue;
        }
        if (size_t known = Known(at, part)) {
            at = known;
            continue;
        }
        if (absentLevel == at && absentName == part)
            return fnfErr; // looked for a moment ago, and nothing came since
        OrvikFSNode* parent = chain[at].folder.node;
        DirFd dir;
        if (OSErr status = OpenFolder(parent, dir))
            return status;
        const std::string name(part);
        struct statx st;
        const unsigned mask = last ? FactsMask(STATX_TYPE | STATX_INO) : STATX_TYPE | STATX_INO;
        if (int error = StatxAt(dir.fd(), name.c_str(), mask, &st)) {
            if (error == ENOENT && changes.get() >= 0) {
                absentLevel = at;
                absentName = name;
            }
            return StatusFromErrno(error);
        }
        const bool isFolder = S_ISDIR(st.stx_mode);
        if (!isFolder && (!last || mustBeFolder))
            return fnfErr; // a link or a file where a folder must be
        NodeRef node(NodeFromStatx(Retain(parent), name, st));
        if (last)
            KeepFacts(node.get(), st, path);
        if (!isFolder) {
            SetRef(ref, node.release());
            return noErr;
        }
        DirFd child;
        if (OSErr status = OpenFolder(node.get(), child))
            return status;
        Truncate(at + 1);
        Push(name, node.release(), child.fd());
        at = chain.size() - 1;
        lookedLast = last;
    }
    // Known without a look: the next call of a compound operation may take it as it is.
    *ref = chain[at].folder;
    if (!lookedLast)
        KeepAnswer(ref->node, path);
    return noErr;
}

OSErr TreeScope::State::Resolve(std::string_view path, std::string_view rest, FSRef* ref,
                                Boolean* isDirectory) {
    const bool mustBeFolder = !rest.empty() && rest.back() == '/';
    if (!IsFolder()) {
        // Nothing lies beneath a link, a file or nothing.
        if (!Components(rest).Done() || !folder.node || mustBeFolder)
            return fnfErr;
        *ref = folder;
        if (isDirectory)
            *isDirectory = false;
        return noErr;
    }
    Drain();
    // What the chain knows is taken in one comparison; only the rest is walked.
    const size_t known = Matched(rest);
    FSRef found;
    if (OSErr status = Walk(rest.substr(chain[known].end), known, mustBeFolder, path, &found))
        return status;
    *ref = found;
    if (isDirectory)
        *isDirectory = found.node->isDir();
    return noErr;
}

bool orvik::fm::ResolveInTree(std::string_view path, FSRef* ref, Boolean* isDirectory,
                              OSErr* status) {
    TreeScope::State* tree = t_tree;
    if (!tree)
        return false;
    // Most texts begin with the folder's as it is spelt; what follows it may be
    // spelt any way, the walk reads it name by name. Other spellings of the
    // folder are spelt afresh first.
    std::string_view rest;
    std::string spelt, folderRest;
    if (!tree->Contains(path, &rest)) {
        spelt = Lexical(path);
        if (!tree->Contains(spelt, &rest))
            return false;
        if (path.back() == '/' && !rest.empty()) { // a trailing "/" asks for a folder
            folderRest.assign(rest);
            folderRest.push_back('/');
            rest = folderRest;
        }
    }
    *status = tree->Resolve(path, rest, ref, isDirectory);
    if (*status == fnfErr)
        KeepAnswer(nullptr, path); // nothing, for the next call of a compound operation
    return true;
}

TreeScope::TreeScope(const UniChar* path, size_t length) {
    if (!path || length == 0)
        return;
    // The scopes are this thread's own: a nested one costs no call into the
    // file manager, so what the call before learned still answers the next.
    const std::u16string_view units(reinterpret_cast<const char16_t*>(path), length);
    if (t_tree && units.size() > t_tree->units.size() && units[t_tree->units.size()] == u'/' &&
        units.substr(0, t_tree->units.size()) == t_tree->units)
        return; // below an open scope's folder, as its caller spelt it
    std::lock_guard<std::recursive_mutex> lock(Lock());
    std::string bytes;
    if (!UnicodeToBytes(path, length, bytes) || bytes.find('\0') != bytes.npos)
        return;
    std::string text = Lexical(bytes);
    std::string_view rest;
    if (text.empty() || (t_tree && t_tree->Contains(text, &rest)))
        return; // already beneath an open scope's folder
    auto* state = new State;
    state->text = std::move(text);
    state->units = units;
    // The folder itself, as its text names it, a final link kept.
    if (ResolvePath(state->text, false, &state->folder, nullptr) != noErr)
        state->folder = FSRef();
    folderIsLink_ = state->folder.node && S_ISLNK(state->folder.node->mode);
    if (state->IsFolder() && OpenFolder(state->folder.node, state->pin) != noErr)
        state->folder = FSRef(); // gone meanwhile
    if (state->IsFolder()) {
        state->changes = UniqueFd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        state->chain.push_back(Level{state->folder, -1, 0});
        state->chain[0].watch = state->Watch(state->pin.fd());
        if (state->chain[0].watch >= 0)
            state->levelOfWatch[state->chain[0].watch] = 0;
        else
            state->changes = UniqueFd(); // unwatched, the chain is never reused
    }
    state->outer = t_tree;
    t_tree = state;
    state_ = state;
}

TreeScope::~TreeScope() {
    if (!state_)
        return;
    std::lock_guard<std::recursive_mutex> lock(Lock());
    t_tree = state_->outer;
    delete state_;
}
