// Output files on POSIX: modes kept, links followed, the rename synced.
#include "system/output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace ptrun {

namespace fs = std::filesystem;

namespace {

const char* kind_of(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}

// The temporary file's name: private and unpredictable, beside the target so
// that the rename cannot cross file systems.
int temporary_beside(const fs::path& file, std::string& temporary) {
    temporary = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
    return mkstemp(temporary.data());
}

}  // namespace

bool resolve_target(const std::string& name, Target& target, std::string& error, const std::string& option) {
    target = Target{};
    struct stat info {};
    struct stat out {};
    const bool exists = stat(name.c_str(), &info) == 0;
    if (name == "-" ||
        (exists && fstat(STDOUT_FILENO, &out) == 0 && info.st_dev == out.st_dev && info.st_ino == out.st_ino)) {
        target.standard_output = true;
        return true;
    }
    std::error_code failed;
    struct stat link {};
    if (lstat(name.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (!exists) {
            error = option + " " + name + " is a link to nothing";
            return false;
        }
        target.file = fs::canonical(name, failed).string();
    } else {
        target.file = fs::absolute(name, failed).lexically_normal().string();
    }
    if (failed || target.file.empty() || fs::path(target.file).filename().empty()) {
        error = option + " " + name + " names no file";
        return false;
    }
    if (exists && !S_ISREG(info.st_mode)) {
        error = option + " " + name + " is " + kind_of(info.st_mode) + ": give a file, or - for standard output";
        return false;
    }
    if (exists && access(target.file.c_str(), W_OK) != 0) {
        error = "cannot write " + option + " " + name + ": " + std::strerror(errno);
        return false;
    }
    // The figures are written beside the file and renamed onto it.
    std::string probe;
    const int fd = temporary_beside(target.file, probe);
    if (fd < 0) {
        error = "cannot write " + option + " " + name + ": " + std::strerror(errno);
        return false;
    }
    close(fd);
    unlink(probe.c_str());
    return true;
}

namespace {

bool write_all(int fd, const std::string& text, std::string& error) {
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = std::strerror(n < 0 ? errno : EIO);
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Writes what produce makes to fd; false, and why in error, at the first piece lost.
bool write_pieces(int fd, const std::function<void(const TextSink&)>& produce, std::string& error) {
    bool ok = true;
    produce([&](const std::string& piece) { ok = ok && write_all(fd, piece, error); });
    return ok;
}

}  // namespace

bool write_plain_file(const std::string& path, const std::string& text) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::string ignored;
    const bool ok = write_all(fd, text, ignored);
    return close(fd) == 0 && ok;
}

bool write_output(const Target& target, const std::string& text, std::string& error) {
    return write_output(target, [&text](const TextSink& sink) { sink(text); }, error);
}

bool write_output(const Target& target, const std::function<void(const TextSink&)>& produce, std::string& error) {
    if (target.standard_output) {
        if (write_pieces(STDOUT_FILENO, produce, error)) return true;
        error = "cannot write the figures to standard output: " + error;
        return false;
    }
    std::string temporary;
    const int fd = temporary_beside(target.file, temporary);
    if (fd < 0) {
        error = "cannot write " + target.file + ": " + std::strerror(errno);
        return false;
    }
    // The mode an existing file had, or what a new file would get.
    struct stat info {};
    mode_t mode = 0;
    if (stat(target.file.c_str(), &info) == 0) {
        mode = info.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    bool ok = write_pieces(fd, produce, error);
    if (ok && (fchmod(fd, mode) != 0 || fsync(fd) != 0)) {
        ok = false;
        error = std::strerror(errno);
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        error = std::strerror(errno);
    }
    if (ok && std::rename(temporary.c_str(), target.file.c_str()) != 0) {
        ok = false;
        error = std::strerror(errno);
    }
    if (!ok) {
        error = "cannot write " + target.file + ": " + error;
        unlink(temporary.c_str());
        return false;
    }
    // The rename itself survives a crash only once the folder is synced.
    const int folder = open(fs::path(target.file).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}

}  // namespace ptrun
