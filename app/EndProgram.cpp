#include "EndProgram.h"

#include <QDir>

#include <dirent.h>
#include <unistd.h>

#include <string>

namespace gq {

namespace {

// Every temporary file of the program carries this prefix (engine and window alike).
constexpr const char* kTemporaryPrefix = "gridquest-";

// Deletes the program's temporary files that this process holds open: only the work under way
// has any, so no other running instance loses one.
void DeleteOpenTemporaryFiles() {
    const std::string folder = QDir(QDir::tempPath()).canonicalPath().toStdString() + '/';
    DIR* descriptors = ::opendir("/proc/self/fd");
    if (!descriptors)
        return;
    while (dirent* entry = ::readdir(descriptors)) {
        const std::string link = std::string("/proc/self/fd/") + entry->d_name;
        char target[4096];
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
        if (length <= 0)
            continue;
        const std::string path(target, static_cast<std::size_t>(length));
        if (path.rfind(folder, 0) == 0 && path.find('/', folder.size()) == std::string::npos &&
            path.compare(folder.size(), std::string(kTemporaryPrefix).size(), kTemporaryPrefix) ==
                0)
            ::unlink(path.c_str());
    }
    ::closedir(descriptors);
}

} // namespace

void EndProgramAtOnce() {
    DeleteOpenTemporaryFiles();
    ::_exit(0);
}

} // namespace gq
