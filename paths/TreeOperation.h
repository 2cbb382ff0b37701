// What the tree operations of the path classes share.
//
// TreeOf: while a tree operation runs, every path below its directory is
// resolved beneath the directory's descriptor, never through a link.
//
// SharedPaths: one string per distinct path while a tree is being emptied. Emptying a tree
// lists each subtree again at every level above it, and every such listing
// would otherwise make its own copy of every path below: a chain of n folders
// would hold about n³ units at once. While a SharedPaths scope is open on a
// thread, the listings hand out the string already made for the same text.
#pragma once

#include <memory>

#include "platform/FileManager.h"
#include "strings/AtlString.h"

namespace orvik::paths {

class TreeOf {
public:
    explicit TreeOf(const CAtlString& directory)
        : scope_(reinterpret_cast<const UniChar*>(directory.GetString()),
                 static_cast<size_t>(directory.GetLength())) {}
    // The directory's text names a symbolic link.
    bool FolderIsLink() const { return scope_.FolderIsLink(); }

private:
    orvik::fm::TreeScope scope_;
};

class SharedPaths {
public:
    SharedPaths();
    ~SharedPaths();
    SharedPaths(const SharedPaths&) = delete;
    SharedPaths& operator=(const SharedPaths&) = delete;

    // The string already handed out for this text, else `path` itself, kept
    // for next time; `path` as it is when no scope is open.
    static CAtlString Share(const CAtlString& path);
    struct Table; // private to the listings

private:
    std::unique_ptr<Table> table_; // null for a scope nested in another
};

} // namespace orvik::paths
