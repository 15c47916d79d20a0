// Profile (INI) files with the semantics the result file needs: names match
// without regard to case, untouched lines survive byte for byte, and a group
// of writes reaches the disk as one atomic replacement of the file.
#include "platform/platform.h"
#include "platform/profile_value.h"

#include <algorithm>
#include <cerrno>
#include <climits>
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

struct Document {
    std::vector<std::string> lines;  // without '\n'; a '\r' of CRLF files stays in the line
    bool existed = false;
    bool crlf = false;
};

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

// The section name of a "[name]" line, or false for any other line.
bool section_header(std::string_view line, std::string_view& name) {
    line = trim(line);
    if (line.empty() || line.front() != '[') return false;
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) return false;
    name = trim(line.substr(1, close - 1));
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

bool load(const char* file_name, Document& doc) {
    doc = Document{};
    FILE* f = std::fopen(file_name, "rb");
    if (f == nullptr) {
        return errno == ENOENT;  // a missing file is an empty profile
    }
    doc.existed = true;
    std::string text;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    if (!ok) return false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        doc.lines.emplace_back(text, start, end - start);
        start = end + 1;
    }
    doc.crlf = !doc.lines.empty() && !doc.lines.front().empty() && doc.lines.front().back() == '\r';
    return true;
}

long find_section(const Document& doc, std::string_view section) {
    for (std::size_t i = 0; i < doc.lines.size(); ++i) {
        std::string_view name;
        if (section_header(doc.lines[i], name) && same_name(name, section)) return static_cast<long>(i);
    }
    return -1;
}

std::size_t section_end(const Document& doc, long header) {
    std::size_t i = static_cast<std::size_t>(header) + 1;
    std::string_view name;
    while (i < doc.lines.size() && !section_header(doc.lines[i], name)) ++i;
    return i;
}

long find_key(const Document& doc, long header, std::string_view key, std::string_view* value) {
    if (header < 0) return -1;
    const std::size_t end = section_end(doc, header);
    for (std::size_t i = static_cast<std::size_t>(header) + 1; i < end; ++i) {
        std::string_view k, v;
        if (key_line(doc.lines[i], k, v) && same_name(k, key)) {
            if (value != nullptr) *value = v;
            return static_cast<long>(i);
        }
    }
    return -1;
}

std::string make_line(const Document& doc, std::string text) {
    if (doc.crlf) text += '\r';
    return text;
}

bool write_file(const std::string& name, const Document& doc) {
    // Write beside the target (so rename stays on one file system), make the
    // bytes durable, then rename over it. A symbolic link keeps pointing at
    // the file it names.
    std::string target = name;
    char resolved[PATH_MAX];
    struct stat st{};
    if (lstat(name.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && realpath(name.c_str(), resolved) != nullptr) {
        target = resolved;
    }
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : target.substr(0, slash == 0 ? 1 : slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + "." + base + ".XXXXXX";

    std::vector<char> temp_name(temp.begin(), temp.end());
    temp_name.push_back('\0');
    const int fd = mkstemp(temp_name.data());
    if (fd < 0) return false;

    std::string text;
    for (const std::string& line : doc.lines) {
        text += line;
        text += '\n';
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
    if (stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
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
    std::string_view v;
    if (find_key(*doc, find_section(*doc, section), key, &v) < 0) return false;
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
    const long header = find_section(doc, section);
    const long line = find_key(doc, header, key, nullptr);
    if (value == nullptr) {
        if (line >= 0) {
            doc.lines.erase(doc.lines.begin() + line);
            pending.dirty = true;
        }
        return true;
    }
    std::string text = std::string(key) + "=" + escape_profile_value(value);
    if (line >= 0) {
        doc.lines[static_cast<std::size_t>(line)] = make_line(doc, std::move(text));
    } else if (header >= 0) {
        // After the section's last non-blank line, so blank separators stay
        // in front of the next section.
        std::size_t at = section_end(doc, header);
        while (at > static_cast<std::size_t>(header) + 1 && trim(doc.lines[at - 1]).empty()) --at;
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
