#include "FolderWalk.h"

#include <QString>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

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

bool CaseInsensitiveLess(const std::string& a, const std::string& b) {
    int order = QString::fromUtf8(a).compare(QString::fromUtf8(b), Qt::CaseInsensitive);
    return order != 0 ? order < 0 : a < b;
}

// Hidden, system and directory together: a folder the walk neither enters nor lists.
bool IsSkippedFolder(const std::string& folder) {
    int attributes = FileAttributes(folder);
    return !IsRoot(folder) && (attributes == 22 || attributes == 1046);
}

bool WildcardMatch(const QString& name, const QString& pattern) {
    qsizetype n = 0, p = 0, star = -1, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            mark = n;
        } else if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (star >= 0) {
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

} // namespace

int FileAttributes(const std::string& path) {
    struct stat link;
    if (path.empty() || ::lstat(path.c_str(), &link) != 0)
        return -1;
    struct stat target = link;
    int attributes = 0;
    if (S_ISLNK(link.st_mode)) {
        attributes |= kReparsePoint;
        if (::stat(path.c_str(), &target) != 0)
            return attributes | kSystem;
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
    return attributes;
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
    QString text = QString::fromUtf8(name);
    if (text.toUtf8() != QByteArray::fromStdString(name))
        return true; // not valid UTF-8
    for (QChar c : text) {
        ushort code = c.unicode();
        if (code < 32 || (code >= 127 && code <= 159) || code == u'?')
            return true;
    }
    return false;
}

bool NameMatches(const std::string& name, const std::string& pattern) {
    if (pattern == "*.*" || pattern == "*")
        return true;
    return WildcardMatch(QString::fromUtf8(name).toCaseFolded(),
                         QString::fromUtf8(pattern).toCaseFolded());
}

std::string NormalizePath(const std::string& path) {
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

FolderWalk::FolderWalk(WalkHooks hooks) : hooks_(std::move(hooks)) {}

bool FolderWalk::enterOnce(const std::string& folder) {
    struct stat info;
    if (::stat(folder.c_str(), &info) != 0)
        return true; // listing it will say what is wrong
    return entered_
        .insert({static_cast<unsigned long>(info.st_dev), static_cast<unsigned long>(info.st_ino)})
        .second;
}

void FolderWalk::GetSubDirectories2016(std::vector<std::string>& folders, bool recurse) {
    std::vector<std::string> found;
    std::vector<std::string> given = folders;
    for (const std::string& folder : given) {
        if (!IsFolder(folder) || folder.size() >= PATH_MAX)
            continue;
        hooks_.yield();
        if (IsSkippedFolder(folder) || !enterOnce(folder))
            continue;
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) {
            if (errno == EACCES || errno == ENOENT || errno == ENOTDIR) {
                auto at = std::find(folders.begin(), folders.end(), folder);
                if (at != folders.end())
                    folders.erase(at);
            } else {
                hooks_.reportError(folder + ": " + std::strerror(errno));
            }
            continue;
        }
        std::vector<std::string> names;
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == ".." || name.size() >= NAME_MAX || HasUnmappableChars(name))
                continue;
            if (entry->d_type == DT_DIR ||
                ((entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) &&
                 IsFolder(folder + name)))
                names.push_back(name);
        }
        ::closedir(dir);
        std::sort(names.begin(), names.end(), CaseInsensitiveLess);
        for (const auto& name : names) {
            hooks_.yield();
            found.push_back(folder + name + "/");
        }
    }
    if (recurse && !found.empty())
        GetSubDirectories2016(found, true);
    for (const std::string& folder : found) {
        if (!IsFolder(folder))
            continue;
        hooks_.yield();
        if (!IsSkippedFolder(folder))
            folders.push_back(folder);
    }
}

std::vector<std::string> FolderWalk::ListFiles(std::string folder, const std::string& pattern) {
    folder = WithSlash(folder);
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (entry->d_type == DT_DIR || !NameMatches(name, pattern))
            continue;
        if (FileCanBeOpened(folder + name))
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), CaseInsensitiveLess);
    return names;
}

std::vector<std::string> FolderWalk::FilesInTree(const std::string& folder,
                                                 const std::string& pattern) {
    std::vector<std::string> folders{WithSlash(folder)};
    GetSubDirectories2016(folders, true);
    std::vector<std::string> files;
    for (const std::string& entry : folders) {
        std::string base = entry.size() > 1 ? entry.substr(0, entry.size() - 1) : std::string();
        for (const std::string& name : ListFiles(entry, pattern)) {
            if (name[0] == '~')
                continue;
            std::string path = base + "/" + name;
            if (FileCanBeOpened(path) && FileAttributes(path) != (kArchive | kHidden))
                files.push_back(NormalizePath(path));
        }
    }
    return files;
}

} // namespace gq
