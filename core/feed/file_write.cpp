#include "core/feed/file_write.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/debug.h"

namespace {

// mkostemp's random part.
constexpr size_t kRandomLength = 6;

// Folder ("" for a bare name) and name of path.
void splitPath(const std::string& path, std::string& folder, std::string& name) {
    size_t slash = path.rfind('/');
    folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

bool isTemporaryOf(const std::string& entry, const std::string& namePrefix) {
    if (entry.size() != namePrefix.size() + kRandomLength || entry.compare(0, namePrefix.size(), namePrefix) != 0)
        return false;
    for (size_t i = namePrefix.size(); i < entry.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(entry[i]))) return false;
    return true;
}

}  // namespace

std::string temporaryFilePrefix(const std::string& path) {
    std::string folder, name;
    splitPath(path, folder, name);
    return folder + "." + name + ".webservices-tmp.";
}

bool replaceFileContent(const std::string& path, const std::string& content) {
    std::string pattern = temporaryFilePrefix(path) + std::string(kRandomLength, 'X');
    // Close-on-exec: a child another worker starts meanwhile must not inherit it.
    int fd = mkostemp(&pattern[0], O_CLOEXEC);
    if (fd < 0) return false;
    // mkstemp makes the file private; the readers are other processes.
    bool ok = fchmod(fd, 0644) == 0;
    size_t written = 0;
    while (ok && written < content.size()) {
        ssize_t n = write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        written += static_cast<size_t>(n);
    }
    if (close(fd) != 0) ok = false;
    if (ok && std::rename(pattern.c_str(), path.c_str()) == 0) return true;
    int saved = errno;
    unlink(pattern.c_str());
    errno = saved;
    return false;
}

void removeLeftoverTemporaries(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        std::string folder, namePrefix;
        splitPath(temporaryFilePrefix(path), folder, namePrefix);
        DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
        if (!dir) continue;
        const int dirFd = dirfd(dir);
        while (const dirent* entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (!isTemporaryOf(name, namePrefix)) continue;
            // Never a link: only what replaceFileContent itself made goes.
            struct stat info {};
            if (fstatat(dirFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
            if (unlinkat(dirFd, name.c_str(), 0) == 0)
                logLine(4, "replaceFileContent: removed ", folder, name, ", left by a write that was cut short");
        }
        closedir(dir);
    }
}
