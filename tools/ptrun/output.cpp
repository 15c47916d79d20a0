#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace ptrun {

bool write_output(const std::string& path, const std::string& text, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ignored;
    const fs::path target = fs::absolute(path, ignored);
    std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    // The mode an existing file had, or what a new file would get.
    struct stat info {};
    mode_t mode = 0;
    if (stat(target.c_str(), &info) == 0) {
        mode = info.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        written += static_cast<std::size_t>(n);
    }
    const int saved = errno;
    const bool ok = written == text.size() && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    if (close(fd) != 0 || !ok || std::rename(temporary.c_str(), target.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(ok ? errno : saved);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace ptrun
