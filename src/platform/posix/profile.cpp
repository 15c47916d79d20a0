// Profile (INI) files with the semantics the result file needs: names match
// without regard to case, untouched lines survive byte for byte, and a group
// of writes reaches the disk as one atomic replacement of the file.
#include "platform/platform.h"
#include "platform/profile_value.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct Line {
    std::string text;  // without its line end
    std::string end;   // "\n", "\r\n", "\r", or empty for a last line that had none
};

struct Document {
    std::vector<Line> lines;
    std::string mark;            // a UTF-8 byte-order mark in front of the first line, kept in the file
    std::string newline = "\n";  // the file's own line end, for the lines a write adds
};

// A result file is a few hundred bytes; anything far beyond that is not one,
// and reading it whole would cost memory without bound.
constexpr std::size_t kMaxProfileBytes = 16u << 20;

// The one file with writes not yet flushed. The program only ever writes one
// result file, so one slot is enough; a write to another file flushes first.
struct Pending {
    std::string name;
    Document doc;
    bool active = false;
    bool dirty = false;
} pending;

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_blank(s.back())) s.remove_suffix(1);
    return s;
}

bool same_name(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The section name of a "[name]" line, or false for any other line. Only
// blanks may follow the bracket: "[Test]x" names no section.
bool section_header(std::string_view line, std::string_view& name) {
    line = trim(line);
    if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
    name = trim(line.substr(1, line.size() - 2));
    return true;
}

// The key of a "key=value" line; comment lines and lines without '=' have none.
bool key_line(std::string_view line, std::string_view& key, std::string_view& value) {
    std::string_view t = trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '#' || t.front() == '[') return false;
    const std::size_t eq = t.find('=');
    if (eq == std::string_view::npos) return false;
    key = trim(t.substr(0, eq));
    value = trim(t.substr(eq + 1));
    return true;
}

// Reads the file whole. Only a regular file is a profile: a FIFO would block
// the read, a device may never end, and the rename that writes the file back
// would put a regular file in place of either. Both are refused before they
// are opened, and the open itself cannot block.
bool load(const char* file_name, Document& doc) {
    doc = Document{};
    struct stat st{};
    if (stat(file_name, &st) != 0) return errno == ENOENT;  // a missing file is an empty profile
    if (!S_ISREG(st.st_mode) || static_cast<std::uintmax_t>(st.st_size) > kMaxProfileBytes) return false;
    const int fd = ::open(file_name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);  // the same file as looked at above
    std::string text;
    char chunk[4096];
    while (ok) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
        ok = text.size() <= kMaxProfileBytes;
    }
    ::close(fd);
    if (!ok) return false;

    std::size_t start = 0;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        doc.mark = text.substr(0, 3);
        start = 3;
    }
    // CR, LF and CRLF all end a line; each line keeps its own end.
    bool newline_seen = false;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::size_t next = end;
        if (next < text.size()) next += text.compare(next, 2, "\r\n") == 0 ? 2 : 1;
        doc.lines.push_back(Line{text.substr(start, end - start), text.substr(end, next - end)});
        if (!newline_seen && next > end) {
            doc.newline = doc.lines.back().end;
            newline_seen = true;
        }
        start = next;
    }
    return true;
}

// The line numbers of every key line of section/key, in every section of that
// name: a duplicate left behind would be a stale value beside the new one.
std::vector<std::size_t> key_lines(const Document& doc, std::string_view section, std::string_view key) {
    std::vector<std::size_t> found;
    bool inside = false;
    for (std::size_t i = 0; i < doc.lines.size(); ++i) {
        std::string_view name, k, v;
        if (section_header(doc.lines[i].text, name)) {
            inside = same_name(name, section);
        } else if (inside && key_line(doc.lines[i].text, k, v) && same_name(k, key)) {
            found.push_back(i);
        }
    }
    return found;
}

long find_section(const Document& doc, std::string_view section) {
    for (std::size_t i = 0; i < doc.lines.size(); ++i) {
        std::string_view name;
        if (section_header(doc.lines[i].text, name) && same_name(name, section)) return static_cast<long>(i);
    }
    return -1;
}

std::size_t section_end(const Document& doc, long header) {
    std::size_t i = static_cast<std::size_t>(header) + 1;
    std::string_view name;
    while (i < doc.lines.size() && !section_header(doc.lines[i].text, name)) ++i;
    return i;
}

Line make_line(const Document& doc, std::string text) { return Line{std::move(text), doc.newline}; }

// The path a write replaces: the file a chain of symbolic links ends at,
// whether that exists yet or not. Replacing the link itself would cut it.
bool resolve_links(const std::string& name, std::string& target) {
    target = name;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st{};
        if (lstat(target.c_str(), &st) != 0) return errno == ENOENT;
        if (!S_ISLNK(st.st_mode)) return true;
        char link[PATH_MAX];
        const ssize_t n = readlink(target.c_str(), link, sizeof link);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof link) return false;
        std::string next(link, static_cast<std::size_t>(n));
        const std::size_t slash = target.rfind('/');
        if (next.front() != '/' && slash != std::string::npos) next = target.substr(0, slash + 1) + next;
        target = next;
    }
    return false;  // a loop of links
}

bool write_file(const std::string& name, const Document& doc) {
    // Write beside the target (so rename stays on one file system), make the
    // bytes durable, then rename over it. A symbolic link keeps pointing at
    // the file it names.
    std::string target;
    if (!resolve_links(name, target)) return false;
    // The rename needs only the directory's permission; the file's own must
    // count too, as it would for a write in place. A file that is no longer
    // regular is left alone.
    struct stat st{};
    const bool exists = lstat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return false;
    if (exists && (!S_ISREG(st.st_mode) || faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)) return false;

    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : target.substr(0, slash == 0 ? 1 : slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string temp = folder + "." + base + ".XXXXXX";

    std::vector<char> temp_name(temp.begin(), temp.end());
    temp_name.push_back('\0');
    const int fd = mkstemp(temp_name.data());
    if (fd < 0) return false;

    std::string text = doc.mark;
    for (const Line& line : doc.lines) {
        text += line.text;
        text += line.end.empty() ? doc.newline : line.end;
    }
    bool ok = true;
    const char* p = text.data();
    std::size_t left = text.size();
    while (ok && left > 0) {
        const ssize_t w = ::write(fd, p, left);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            ok = false;
        } else {
            p += w;
            left -= static_cast<std::size_t>(w);
        }
    }
    mode_t mode;
    if (exists) {
        mode = st.st_mode & 07777;
        // The file keeps its owner and group where this process may set them
        // (a program run by root must not take a user's file over); the mode
        // follows, as a change of owner may clear its set-id bits.
        if ((st.st_uid != geteuid() || st.st_gid != getegid()) && fchown(fd, st.st_uid, st.st_gid) != 0 &&
            fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0) {
            // Not ours to give away: the file becomes this user's, as any
            // program that rewrites it would leave it.
        }
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    ok = ok && fchmod(fd, mode) == 0;
    ok = ok && fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(temp_name.data(), target.c_str()) == 0;
    if (!ok) {
        unlink(temp_name.data());
        return false;
    }
    const int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir_fd >= 0) {
        fsync(dir_fd);
        ::close(dir_fd);
    }
    return true;
}

bool flush_pending() {
    if (!pending.active) return true;
    bool ok = true;
    if (pending.dirty) ok = write_file(pending.name, pending.doc);
    pending = Pending{};
    return ok;
}

// Makes file_name the pending document, flushing another one first.
bool open_pending(const char* file_name) {
    if (pending.active && pending.name == file_name) return true;
    if (!flush_pending()) return false;
    if (!load(file_name, pending.doc)) return false;
    pending.name = file_name;
    pending.active = true;
    return true;
}

// The value of section/key as the file (with pending writes) holds it now.
bool lookup(const char* section, const char* key, const char* file_name, std::string& value) {
    Document fresh;
    const Document* doc = &pending.doc;
    if (!(pending.active && pending.name == file_name)) {
        if (!load(file_name, fresh)) return false;
        doc = &fresh;
    }
    const std::vector<std::size_t> lines = key_lines(*doc, section, key);
    std::string_view k, v;
    if (lines.empty() || !key_line(doc->lines[lines.front()].text, k, v)) return false;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v = v.substr(1, v.size() - 2);
    }
    value.assign(v);
    return true;
}

}  // namespace

bool profile_write_string(const char* section, const char* key, const char* value, const char* file_name) {
    if (section == nullptr) return flush_pending();
    if (key == nullptr || file_name == nullptr) return false;
    if (!open_pending(file_name)) return false;
    Document& doc = pending.doc;
    const std::vector<std::size_t> lines = key_lines(doc, section, key);
    // Every occurrence goes when the key is deleted; a set keeps the first
    // and drops the others, so exactly one value is left.
    const std::size_t keep = value != nullptr && !lines.empty() ? 1 : 0;
    for (std::size_t i = lines.size(); i > keep; --i) {
        doc.lines.erase(doc.lines.begin() + static_cast<long>(lines[i - 1]));
        pending.dirty = true;
    }
    if (value == nullptr) return true;

    std::string text = std::string(key) + "=" + escape_profile_value(value);
    const long header = find_section(doc, section);
    if (!lines.empty()) {
        doc.lines[lines.front()].text = std::move(text);
    } else if (header >= 0) {
        // After the section's last non-blank line, so blank separators stay
        // in front of the next section.
        std::size_t at = section_end(doc, header);
        while (at > static_cast<std::size_t>(header) + 1 && trim(doc.lines[at - 1].text).empty()) --at;
        doc.lines.insert(doc.lines.begin() + static_cast<long>(at), make_line(doc, std::move(text)));
    } else {
        doc.lines.push_back(make_line(doc, "[" + std::string(section) + "]"));
        doc.lines.push_back(make_line(doc, std::move(text)));
    }
    pending.dirty = true;
    return true;
}

std::int32_t profile_read_int(const char* section, const char* key, std::int32_t default_value,
                              const char* file_name) {
    std::string value;
    if (!lookup(section, key, file_name, value) || value.empty()) return default_value;
    const char* p = value.c_str();
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    std::uint32_t result = 0;  // wraps like the 32-bit conversion it stands for
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        for (p += 2;; ++p) {
            const char c = *p;
            unsigned digit;
            if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
            else break;
            result = result * 16u + digit;
        }
    } else {
        for (; *p >= '0' && *p <= '9'; ++p) result = result * 10u + static_cast<unsigned>(*p - '0');
    }
    if (negative) result = 0u - result;
    return static_cast<std::int32_t>(result);
}

std::size_t profile_read_string(const char* section, const char* key, const char* default_value,
                                char* buffer, std::size_t buffer_size, const char* file_name) {
    if (buffer == nullptr || buffer_size == 0) return 0;
    std::string value;
    if (!lookup(section, key, file_name, value)) value = default_value != nullptr ? default_value : "";
    const std::size_t n = std::min(value.size(), buffer_size - 1);
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return n;
}
