#include "core/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

bool replaceFileContent(const std::string& path, const std::string& content) {
    std::string pattern = path + ".XXXXXX";
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
