#include "FolderWalk.h"

#include "CaseMapping.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

namespace gq {

namespace {

bool IsRoot(const std::string& folder) {
    return folder == "/";
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder;
}

bool IsAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsUtf8(const std::string& text) {
    std::u32string decoded;
    return IsAscii(text) || DecodeUtf8Strictly(text, decoded);
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        out.push_back(static_cast<char16_t>(0xD7C0 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 | (c & 0x3FF)));
    }
}

// A name as UTF-16 with each character case-folded, the form in which the window's toolkit
// orders and matches names; bytes that are not UTF-8 stand as U+FFFD.
std::u16string Folded(const std::string& name) {
    std::u32string decoded;
    DecodeUtf8Strictly(name, decoded);
    std::u16string folded;
    for (char32_t c : decoded)
        AppendUtf16(folded, FoldCase(c));
    return folded;
}

// Case-insensitive name order, the exact bytes breaking ties. Each name's key is made once; an
// all-ASCII folder, the common case, needs no conversion at all.
void SortNames(std::vector<std::string>& names) {
    if (std::all_of(names.begin(), names.end(), IsAscii)) {
        std::vector<std::pair<std::string, std::string>> keyed;
        keyed.reserve(names.size());
        for (std::string& name : names)
            keyed.emplace_back(AsciiLower(name), std::move(name));
        std::sort(keyed.begin(), keyed.end());
        for (std::size_t i = 0; i < names.size(); ++i)
            names[i] = std::move(keyed[i].second);
        return;
    }
    std::vector<std::pair<std::u16string, std::string>> keyed;
    keyed.reserve(names.size());
    for (std::string& name : names)
        keyed.emplace_back(Folded(name), std::move(name));
    std::sort(keyed.begin(), keyed.end());
    for (std::size_t i = 0; i < names.size(); ++i)
        names[i] = std::move(keyed[i].second);
}

// Hidden, system and directory together: a folder the walk neither enters nor lists.
bool IsSkippedFolder(const std::string& folder, int attributes) {
    return !IsRoot(folder) && (attributes == 22 || attributes == 1046);
}

template <typename Text> bool WildcardMatch(const Text& name, const Text& pattern) {
    using Size = decltype(name.size());
    Size n = 0, p = 0, mark = 0;
    bool starred = false;
    Size star = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starred = true;
            star = p++;
            mark = n;
        } else if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (starred) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

// A pattern prepared once for many names.
class NamePattern {
public:
    explicit NamePattern(const std::string& pattern)
        : all_(pattern == "*.*" || pattern == "*"), ascii_(IsAscii(pattern)),
          lowered_(AsciiLower(pattern)), folded_(Folded(pattern)) {}

    bool matches(const std::string& name) const {
        if (all_)
            return true;
        if (ascii_ && IsAscii(name))
            return WildcardMatch(AsciiLower(name), lowered_);
        return WildcardMatch(Folded(name), folded_);
    }

private:
    bool all_;
    bool ascii_;
    std::string lowered_;
    std::u16string folded_;
};

// FileCanBeOpened for a name in an open folder: the names are short, so the system does not walk
// the whole path again for every file. Without `tryOpening`, whether it is a regular file.
bool CanBeOpenedAt(int folder, const char* name, unsigned char type, bool tryOpening) {
    if (type != DT_REG) {
        struct stat info;
        if (::fstatat(folder, name, &info, 0) != 0 || !S_ISREG(info.st_mode))
            return false;
    }
    if (!tryOpening)
        return true;
    int fd = ::openat(folder, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// Examine for a path relative to an open folder (AT_FDCWD: to the working folder).
PathFacts ExamineAt(int folder, const std::string& path) {
    PathFacts facts;
    struct stat link;
    if (path.empty() || ::fstatat(folder, path.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0)
        return facts;
    struct stat target = link;
    int attributes = 0;
    if (S_ISLNK(link.st_mode)) {
        attributes |= kReparsePoint;
        if (::fstatat(folder, path.c_str(), &target, 0) != 0) {
            facts.attributes = attributes | kSystem;
            return facts;
        }
    }
    if (S_ISDIR(target.st_mode))
        attributes |= kDirectory;
    else if (S_ISREG(target.st_mode))
        attributes |= kArchive;
    else
        attributes |= kSystem;
    if (!(target.st_mode & S_IWUSR))
        attributes |= kReadOnly;
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    std::string name = trimmed.substr(trimmed.rfind('/') + 1);
    if (!name.empty() && name[0] == '.' && name != "." && name != "..")
        attributes |= kHidden;
    facts.attributes = attributes;
    facts.device = static_cast<unsigned long>(target.st_dev);
    facts.inode = static_cast<unsigned long>(target.st_ino);
    return facts;
}

} // namespace

PathFacts Examine(const std::string& path) {
    return ExamineAt(AT_FDCWD, path);
}

int FileAttributes(const std::string& path) {
    return Examine(path).attributes;
}

bool IsFolder(const std::string& path) {
    int attributes = FileAttributes(path);
    return attributes >= 0 && (attributes & kDirectory);
}

bool FileCanBeOpened(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool HasUnmappableChars(const std::string& name) {
    if (IsAscii(name))
        return std::any_of(name.begin(), name.end(),
                           [](char c) { return c < 32 || c == 127 || c == '?'; });
    std::u32string text;
    if (!DecodeUtf8Strictly(name, text))
        return true;
    return std::any_of(text.begin(), text.end(),
                       [](char32_t c) { return c < 32 || (c >= 127 && c <= 159) || c == U'?'; });
}

bool NameMatches(const std::string& name, const std::string& pattern) {
    return NamePattern(pattern).matches(name);
}

std::string NormalizePath(const std::string& path) {
    if (path.find("//") == std::string::npos)
        return path;
    std::size_t start = 0;
    std::string out;
    if (!path.empty() && path[0] == '/') {
        start = path.find_first_not_of('/');
        if (start == std::string::npos)
            start = path.size();
        out.push_back('/');
    }
    for (std::size_t i = start; i < path.size(); ++i) {
        out += path[i];
        if (path[i] == '/' && i + 1 < path.size() && path[i + 1] == '/')
            ++i; // pairs, left to right, without overlap
    }
    return out;
}

std::string NormalizeBackslashPath(const std::string& path) {
    auto collapsePairs = [](const std::string& text, std::size_t from) {
        std::string out;
        for (std::size_t i = from; i < text.size(); ++i) {
            out += text[i];
            if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\')
                ++i;
        }
        return out;
    };
    if (path.empty() || path[0] != '\\')
        return collapsePairs(path, 0);
    std::size_t rest = path.find_first_not_of('\\', 1);
    return "\\\\" + collapsePairs(path, rest == std::string::npos ? path.size() : rest);
}

FolderWalk::FolderWalk(WalkHooks hooks) : hooks_(std::move(hooks)) {}

PathFacts FolderWalk::factsOf(const std::string& folder) {
    auto at = seen_.find(folder);
    return at == seen_.end() ? Examine(folder) : at->second;
}

void FolderWalk::GetSubDirectories2016(std::vector<std::string>& folders, bool recurse) {
    struct Depth {
        FolderWalk& walk;
        explicit Depth(FolderWalk& walk) : walk(walk) { ++walk.depth_; }
        ~Depth() {
            if (--walk.depth_ == 0)
                walk.seen_.clear();
        }
    } depth(*this);
    std::optional<NamePattern> keep;
    if (keepPattern_)
        keep.emplace(*keepPattern_);
    std::vector<std::string> found;
    std::vector<std::string> given = folders;
    for (const std::string& folder : given) {
        if (hooks_.stop())
            return;
        PathFacts facts = factsOf(folder);
        if (facts.attributes < 0 || !(facts.attributes & kDirectory) || folder.size() >= PATH_MAX)
            continue;
        hooks_.yield();
        if (IsSkippedFolder(folder, facts.attributes) ||
            !entered_.insert({facts.device, facts.inode}).second)
            continue;
        // Read by hand: opendir would also stat the folder, which was examined a moment ago.
        int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            if (errno == EACCES || errno == ENOENT || errno == ENOTDIR) {
                auto at = std::find(folders.begin(), folders.end(), folder);
                if (at != folders.end())
                    folders.erase(at);
            } else {
                hooks_.reportError(folder + ": " + std::strerror(errno));
            }
            continue;
        }
        KeptListing* listing = nullptr;
        if (keep) {
            listing = &kept_[folder];
            *listing = {facts.device, facts.inode, {}};
        }
        std::vector<std::string> names;
        entries_.resize(32768);
        ssize_t size;
        while ((size = ::getdents64(fd, entries_.data(), entries_.size())) > 0) {
            for (ssize_t offset = 0; offset < size;) {
                const auto* entry = reinterpret_cast<const dirent64*>(entries_.data() + offset);
                offset += entry->d_reclen;
                unsigned char type = entry->d_type;
                if (listing && type != DT_DIR && entry->d_name[0] != '~' &&
                    keep->matches(entry->d_name)) {
                    // The open test is made here, while the folder is open, rather than by
                    // opening the folder again for the listing.
                    if (CanBeOpenedAt(fd, entry->d_name, type, hooks_.testOpening))
                        listing->files.emplace_back(entry->d_name);
                    hooks_.yield();
                }
                if (type != DT_DIR && type != DT_LNK && type != DT_UNKNOWN)
                    continue;
                std::string name = entry->d_name;
                if (name == "." || name == ".." || name.size() >= NAME_MAX ||
                    HasUnmappableChars(name))
                    continue;
                // The look the deeper level and the final check would each take at folder +
                // name + "/", taken once, relative to the open folder.
                PathFacts sub = ExamineAt(fd, name + "/");
                if (type == DT_DIR || (sub.attributes >= 0 && (sub.attributes & kDirectory))) {
                    seen_[folder + name + "/"] = sub;
                    names.push_back(std::move(name));
                }
            }
        }
        ::close(fd);
        SortNames(names);
        for (const auto& name : names) {
            hooks_.yield();
            found.push_back(folder + name + "/");
        }
    }
    if (recurse && !found.empty())
        GetSubDirectories2016(found, true);
    for (const std::string& folder : found) {
        PathFacts facts = factsOf(folder);
        if (facts.attributes < 0 || !(facts.attributes & kDirectory))
            continue;
        hooks_.yield();
        if (!IsSkippedFolder(folder, facts.attributes))
            folders.push_back(folder);
    }
}

std::vector<std::string> FolderWalk::ListFiles(std::string folder, const std::string& pattern) {
    return listFiles(folder, pattern, false, nullptr);
}

std::vector<std::string> FolderWalk::listFiles(std::string folder, const std::string& pattern,
                                               bool skipTilde, FolderSet* listed) {
    folder = WithSlash(folder);
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    int fd = ::dirfd(dir);
    struct stat info;
    if (listed && ::fstat(fd, &info) == 0 &&
        !listed
             ->insert(
                 {static_cast<unsigned long>(info.st_dev), static_cast<unsigned long>(info.st_ino)})
             .second) {
        ::closedir(dir); // reached again through a link: listed once, as it was entered once
        return names;
    }
    NamePattern matcher(pattern);
    while (dirent* entry = ::readdir(dir)) {
        hooks_.yield();
        if (entry->d_type == DT_DIR || (skipTilde && entry->d_name[0] == '~'))
            continue;
        std::string name = entry->d_name;
        if (matcher.matches(name) &&
            CanBeOpenedAt(fd, entry->d_name, entry->d_type, hooks_.testOpening))
            names.push_back(std::move(name));
    }
    ::closedir(dir);
    SortNames(names);
    return names;
}

std::vector<std::string> FolderWalk::listKept(KeptListing& kept, FolderSet& listed) {
    std::vector<std::string> names;
    // Reached again through a link: listed once, as it was entered once.
    if (!listed.insert({kept.device, kept.inode}).second)
        return names;
    names = std::move(kept.files);
    SortNames(names);
    return names;
}

std::vector<std::string> FolderWalk::FilesInTree(const std::string& folder,
                                                 const std::string& pattern) {
    std::vector<std::string> files;
    ScanTree(folder, pattern, [&](std::vector<std::string>& paths) {
        files.insert(files.end(), std::make_move_iterator(paths.begin()),
                     std::make_move_iterator(paths.end()));
    });
    return files;
}

void FolderWalk::ScanTree(const std::string& folder, const std::string& pattern,
                          const std::function<void(std::vector<std::string>& paths)>& add) {
    struct Keeping {
        FolderWalk& walk;
        Keeping(FolderWalk& walk, const std::string& pattern) : walk(walk) {
            walk.keepPattern_ = &pattern;
        }
        ~Keeping() {
            walk.keepPattern_ = nullptr;
            walk.kept_.clear();
        }
    } keeping(*this, pattern);
    std::vector<std::string> folders{WithSlash(folder)};
    GetSubDirectories2016(folders, true);
    keepPattern_ = nullptr;
    std::vector<std::string> paths;
    FolderSet listed;
    for (const std::string& entry : folders) {
        if (hooks_.stop())
            return;
        hooks_.yield();
        std::string base = entry.size() > 1 ? entry.substr(0, entry.size() - 1) : std::string();
        paths.clear();
        // A folder the walk did not read (the start when it is hidden and system) is read here.
        std::vector<std::string> names;
        if (auto kept = kept_.find(entry); kept != kept_.end()) {
            names = listKept(kept->second, listed);
            kept_.erase(kept);
        } else {
            names = listFiles(entry, pattern, true, &listed);
        }
        // The listing has just opened each file; only a hidden name needs its attributes.
        for (const std::string& name : names) {
            hooks_.yield();
            // A name that is not UTF-8 cannot be shown, nor opened again by the shown text.
            if (!IsUtf8(name))
                continue;
            std::string path;
            path.reserve(base.size() + 1 + name.size());
            path.append(base).append(1, '/').append(name);
            if (name[0] != '.' || FileAttributes(path) != (kArchive | kHidden))
                paths.push_back(NormalizePath(path));
        }
        if (!paths.empty())
            add(paths);
    }
}

} // namespace gq
