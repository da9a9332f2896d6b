#pragma once

#include <functional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace gq {

// File attribute bits, mapped from POSIX: read-only = the owner may not write; hidden = the name
// starts with "."; system = neither a regular file nor a folder; archive = a regular file;
// reparse point = a symbolic link.
enum FileAttribute : int {
    kReadOnly = 1,
    kHidden = 2,
    kSystem = 4,
    kDirectory = 16,
    kArchive = 32,
    kReparsePoint = 1024,
};

// What one look at a path tells: its attribute bits (-1 when it cannot be examined) and the
// identity of what it leads to.
struct PathFacts {
    int attributes = -1;
    unsigned long device = 0;
    unsigned long inode = 0;
};
PathFacts Examine(const std::string& path);

// The attribute bits of a path (links followed, plus kReparsePoint for a link); -1 when the path
// cannot be examined.
int FileAttributes(const std::string& path);
bool IsFolder(const std::string& path);
// A regular file (links followed) that can be opened for reading right now.
bool FileCanBeOpened(const std::string& path);
// A name the list cannot show faithfully: not valid UTF-8, or holding a control code, a code from
// 127 to 159, or "?".
bool HasUnmappableChars(const std::string& name);
// Case-insensitive wildcard match of a file name ('*', '?'); "*.*" matches every name.
bool NameMatches(const std::string& name, const std::string& pattern);
// Collapses doubled separators; a leading run of separators becomes exactly one "/".
std::string NormalizePath(const std::string& path);
// The same for paths written with backslashes, as they come from Windows machines: doubled
// backslashes collapse, and a leading run becomes exactly two (a network path prefix).
std::string NormalizeBackslashPath(const std::string& path);

// What a folder walk needs from its caller: a chance to let the window work, and the error report.
struct WalkHooks {
    std::function<void()> yield = [] {};
    std::function<void(const std::string& description)> reportError = [](const std::string&) {};
    // True when the walk is to end early (its window is closing); what was found so far stays.
    std::function<bool()> stop = [] { return false; };
    // Whether a file is listed only when it can be opened now. A caller that opens each file
    // itself, on several threads, may leave that test to them rather than make it before any
    // file is searched.
    bool testOpening = true;
};

// One walk over a tree: remembers the folders it entered (by device and inode), so a folder
// reached twice, as through a link loop, is entered once.
class FolderWalk {
public:
    explicit FolderWalk(WalkHooks hooks = {});

    // Appends every sub-folder of the given folders (each ending in "/"), level by level, at every
    // depth when `recurse`; drops a given folder whose sub-folders cannot be listed (access
    // denied, gone). Within a folder, sub-folders come in case-insensitive name order.
    void GetSubDirectories2016(std::vector<std::string>& folders, bool recurse);

    // Names of the files in `folder` (not below it) that match `pattern` and can be opened (unless
    // the hooks leave that test out), in case-insensitive order.
    std::vector<std::string> ListFiles(std::string folder, const std::string& pattern);

    // Every file of the tree under `folder` whose name matches `pattern`, as the folder scan adds
    // them: breadth-first by level, names starting with "~" and hidden writable files left out.
    std::vector<std::string> FilesInTree(const std::string& folder, const std::string& pattern);

    // The same scan, handing over each folder's files as soon as that folder is listed (so a list
    // fills while a large tree is scanned), yielding per folder and per file.
    void ScanTree(const std::string& folder, const std::string& pattern,
                  const std::function<void(std::vector<std::string>& paths)>& add);

private:
    // Folders by device and inode.
    using FolderSet = std::set<std::pair<unsigned long, unsigned long>>;

    // The files of a folder that a walk for ScanTree found while reading its sub-folders, those
    // that match the scan's pattern, pass the "~" rule and can be opened, so the listing need not
    // read the folder again.
    struct KeptListing {
        unsigned long device = 0;
        unsigned long inode = 0;
        std::vector<std::string> files;
    };

    std::vector<std::string> listFiles(std::string folder, const std::string& pattern,
                                       bool skipTilde, FolderSet* listed);
    std::vector<std::string> listKept(KeptListing& kept, FolderSet& listed);
    // What Examine tells of a folder path, taken from the look the walk had at it from its parent
    // when there was one: every level above a folder checks it again.
    PathFacts factsOf(const std::string& folder);

    WalkHooks hooks_;
    FolderSet entered_;
    int depth_ = 0;
    // Set while ScanTree walks: the pattern whose names the walk keeps.
    const std::string* keepPattern_ = nullptr;
    std::unordered_map<std::string, KeptListing> kept_;
    std::unordered_map<std::string, PathFacts> seen_; // sub-folders, by path, for one walk
    std::vector<char> entries_; // directory entries as the system returns them
};

} // namespace gq
