#include "platform/profile.h"

#include "platform/names.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace farlink::platform {

namespace {

constexpr const char* kDefaultDirectory = "/etc/farlink";

// Reads and writes of every profile file in the process take turns: a reader must never see a
// half-made change, and two writers must not both start from the same old text.
std::mutex& profileMutex() {
    static std::mutex mutex;
    return mutex;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

enum class LineKind { Other, Section, Key };

// One line of the file: where its text lies (without the line end) and what it is. For a key
// line, valueBegin..valueEnd is the value with its surrounding blanks left out.
struct Line {
    std::size_t begin = 0;
    std::size_t end = 0;      // end of the text, before any "\r\n" or "\n"
    std::size_t nextLine = 0; // start of the following line
    LineKind kind = LineKind::Other;
    std::string_view name;
    std::size_t valueBegin = 0;
    std::size_t valueEnd = 0;
};

Line classify(std::string_view content, std::size_t begin, std::size_t end, std::size_t next) {
    Line line;
    line.begin = begin;
    line.end = end;
    line.nextLine = next;
    const std::string_view raw = content.substr(begin, end - begin);
    const std::string_view text = trim(raw);
    if (text.empty() || text.front() == ';') return line;
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close != std::string_view::npos) {
            line.kind = LineKind::Section;
            line.name = trim(text.substr(1, close - 1));
        }
        return line;
    }
    const std::size_t equals = raw.find('=');
    if (equals == std::string_view::npos) return line;
    line.name = trim(raw.substr(0, equals));
    if (line.name.empty()) return line;
    line.kind = LineKind::Key;
    std::size_t valueBegin = equals + 1;
    std::size_t valueEnd = raw.size();
    while (valueBegin < valueEnd && isBlank(raw[valueBegin]))
        ++valueBegin;
    while (valueEnd > valueBegin && isBlank(raw[valueEnd - 1]))
        --valueEnd;
    line.valueBegin = begin + valueBegin;
    line.valueEnd = begin + valueEnd;
    return line;
}

std::vector<Line> splitLines(std::string_view content) {
    std::vector<Line> lines;
    std::size_t begin = 0;
    while (begin < content.size()) {
        const std::size_t newline = content.find('\n', begin);
        std::size_t end = newline == std::string_view::npos ? content.size() : newline;
        const std::size_t next = newline == std::string_view::npos ? content.size() : newline + 1;
        if (newline != std::string_view::npos && end > begin && content[end - 1] == '\r') --end;
        lines.push_back(classify(content, begin, end, next));
        begin = next;
    }
    return lines;
}

// Where a section and a key lie among the lines. Only the first section of a name counts, as
// with the system's profile calls.
struct Location {
    std::size_t section = SIZE_MAX; // index of the section line
    std::size_t key = SIZE_MAX;     // index of the key line
    std::size_t lastKey = SIZE_MAX; // index of the section's last key line
};

Location locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Location where;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == LineKind::Section && sameName(lines[i].name, section)) {
            where.section = i;
            break;
        }
    }
    if (where.section == SIZE_MAX) return where;
    for (std::size_t i = where.section + 1; i < lines.size(); ++i) {
        if (lines[i].kind == LineKind::Section) break;
        if (lines[i].kind != LineKind::Key) continue;
        where.lastKey = i;
        if (where.key == SIZE_MAX && sameName(lines[i].name, key)) where.key = i;
    }
    return where;
}

// The whole file; false when it exists but cannot be read. A missing file reads as empty.
bool readWholeFile(const std::string& path, std::string& content, bool& exists) {
    content.clear();
    exists = false;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return errno == ENOENT || errno == ENOTDIR;
    exists = true;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        content.append(chunk, n);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

// The value of section/key, if the file has it, without the quotes that may surround it.
bool findValue(std::string_view section, std::string_view key, std::string_view fileName,
               std::string& value) {
    std::string content;
    bool exists = false;
    if (!readWholeFile(profilePath(fileName), content, exists) || !exists) return false;
    const std::vector<Line> lines = splitLines(content);
    const Location where = locate(lines, section, key);
    if (where.key == SIZE_MAX) return false;
    const Line& line = lines[where.key];
    std::string_view text(content.data() + line.valueBegin, line.valueEnd - line.valueBegin);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        text = text.substr(1, text.size() - 2);
    }
    value.assign(text);
    return true;
}

bool containsAny(std::string_view text, const char* characters) {
    return text.find_first_of(characters) != std::string_view::npos;
}

// Names and values that would not read back as written (a line break splits the line, a ']'
// ends the section name, an '=' ends the key, a leading ';' or '[' makes the key line a comment
// or a section) are refused rather than written into the file.
bool writableEntry(std::string_view section, std::string_view key, std::string_view value) {
    const std::string_view keyName = trim(key);
    if (trim(section).empty() || keyName.empty()) return false;
    if (containsAny(section, "\r\n]") || containsAny(key, "\r\n=")) return false;
    if (keyName.front() == ';' || keyName.front() == '[') return false;
    if (std::string_view(section).find('\0') != std::string_view::npos ||
        key.find('\0') != std::string_view::npos || value.find('\0') != std::string_view::npos) {
        return false;
    }
    return !containsAny(value, "\r\n");
}

// The text of the file after setting section/key to value.
std::string changedContent(const std::string& content, std::string_view section,
                           std::string_view key, std::string_view value) {
    const std::vector<Line> lines = splitLines(content);
    const Location where = locate(lines, section, key);
    // New lines follow the file's own convention, so a file kept with CRLF stays CRLF.
    const std::size_t firstNewline = content.find('\n');
    const std::string eol =
        (firstNewline != std::string::npos && firstNewline > 0 && content[firstNewline - 1] == '\r')
            ? "\r\n"
            : "\n";
    std::string keyLine(key);
    keyLine += '=';
    keyLine.append(value);

    std::string out;
    if (where.key != SIZE_MAX) {
        const Line& line = lines[where.key];
        out.assign(content, 0, line.valueBegin);
        out.append(value);
        out.append(content, line.valueEnd, std::string::npos);
        return out;
    }
    if (where.section != SIZE_MAX) {
        const Line& after = lines[where.lastKey != SIZE_MAX ? where.lastKey : where.section];
        out.assign(content, 0, after.nextLine);
        if (after.nextLine == after.end) out += eol; // the last line had no line end
        out += keyLine + eol;
        out.append(content, after.nextLine, std::string::npos);
        return out;
    }
    out = content;
    if (!out.empty()) {
        if (out.back() != '\n') out += eol;
        // A blank line between sections, unless the file already ends with one.
        const Line& last = lines.back();
        if (!trim(std::string_view(content).substr(last.begin, last.end - last.begin)).empty()) {
            out += eol;
        }
    }
    out += '[';
    out.append(section);
    out += ']' + eol + keyLine + eol;
    return out;
}

bool writeAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Replaces the file at path with text in one step: the new text goes to a temporary file in
// the same directory, reaches the disk, and is renamed over the old file, so a reader (or a
// crash) sees either the old file or the new one, never a part of either.
bool replaceFile(const std::string& path, const std::string& text) {
    std::string target = path;
    struct stat info {};
    mode_t mode = 0644;
    const bool existed = ::lstat(path.c_str(), &info) == 0;
    if (existed) {
        if (S_ISLNK(info.st_mode)) {
            // Keep the link and change the file it names.
            char* resolved = ::realpath(path.c_str(), nullptr);
            if (resolved == nullptr) return false;
            target = resolved;
            std::free(resolved);
            if (::stat(target.c_str(), &info) != 0) return false;
        }
        mode = info.st_mode & 07777;
    }
    const std::size_t slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string baseName = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary =
        directory + (slash == std::string::npos ? "/." : ".") + baseName + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = writeAll(fd, text) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    // The new file keeps the old one's owner and group as well as its mode: a file that belongs
    // to a service account must not turn into the writer's. A writer that may not give it away
    // (not root) is the owner already.
    if (ok && existed && (info.st_uid != ::geteuid() || info.st_gid != ::getegid()) &&
        ::fchown(fd, info.st_uid, info.st_gid) != 0 && errno != EPERM)
        ok = false;
    const int savedErrno = errno;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temporary.c_str(), target.c_str()) == 0) {
        // The rename itself reaches the disk with the directory.
        const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd >= 0) {
            ::fsync(dirFd);
            ::close(dirFd);
        }
        return true;
    }
    const int failure = ok ? errno : savedErrno;
    ::unlink(temporary.c_str());
    errno = failure;
    return false;
}

} // namespace

std::uint64_t fileVersion(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return 0;
    std::uint64_t version = static_cast<std::uint64_t>(info.st_ino);
    for (std::uint64_t part :
         {static_cast<std::uint64_t>(info.st_size), static_cast<std::uint64_t>(info.st_ctim.tv_sec),
          static_cast<std::uint64_t>(info.st_ctim.tv_nsec),
          static_cast<std::uint64_t>(info.st_mtim.tv_nsec)})
        version = version * 0x100000001B3ull ^ part;
    return version == 0 ? 1 : version;
}

int removeStaleRewrites(std::string_view fileName) {
    const std::string path = profilePath(fileName);
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string prefix = "." + path.substr(slash == std::string::npos ? 0 : slash + 1) + ".";
    DIR* dir = ::opendir(directory.c_str());
    if (dir == nullptr) return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        // mkostemp's six characters after the prefix, nothing else.
        if (name.size() != prefix.size() + 6 || name.substr(0, prefix.size()) != prefix) continue;
        const std::string full = directory + "/" + std::string(name);
        struct stat info {};
        if (::lstat(full.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
            info.st_uid != ::geteuid())
            continue;
        if (::unlink(full.c_str()) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

std::string profileDirectory() {
    const char* windir = std::getenv("WINDIR");
    if (windir != nullptr && *windir != '\0') return windir;
    return kDefaultDirectory;
}

std::string profilePath(std::string_view fileName) {
    // A name with a directory part is taken as it stands, as the system's profile calls do
    // with a full path.
    if (fileName.find('/') != std::string_view::npos) return std::string(fileName);
    std::string path = profileDirectory();
    if (path.empty() || path.back() != '/') path += '/';
    path.append(fileName);
    return path;
}

bool fileExists(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    // A directory of that name is no file: the caller's error says why.
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    return true;
}

bool fileReadable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

std::uint32_t getProfileString(std::string_view section, std::string_view key,
                               std::string_view defaultValue, char* buffer, std::uint32_t size,
                               std::string_view fileName) {
    if (buffer == nullptr || size == 0) return 0;
    std::string value;
    bool found;
    {
        std::lock_guard lock(profileMutex());
        found = findValue(section, key, fileName, value);
    }
    if (!found) {
        // Trailing blanks of a default are dropped as those of a value are.
        while (!defaultValue.empty() && isBlank(defaultValue.back()))
            defaultValue.remove_suffix(1);
        value.assign(defaultValue);
    }
    const std::size_t count = std::min<std::size_t>(value.size(), size - 1);
    std::memcpy(buffer, value.data(), count);
    buffer[count] = '\0';
    return static_cast<std::uint32_t>(count);
}

std::int32_t getProfileInt(std::string_view section, std::string_view key,
                           std::int32_t defaultValue, std::string_view fileName) {
    std::string value;
    {
        std::lock_guard lock(profileMutex());
        if (!findValue(section, key, fileName, value)) return defaultValue;
    }
    // A key present with an empty value gives the default, as the system's call does.
    if (value.empty()) return defaultValue;
    std::size_t i = 0;
    bool negative = false;
    if (value[i] == '-' || value[i] == '+') {
        negative = value[i] == '-';
        ++i;
    }
    // Computed modulo 2^32 like the system's conversion: an over-long number wraps, it does
    // not saturate.
    std::uint32_t number = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
        number = number * 10u + static_cast<std::uint32_t>(value[i] - '0');
    }
    if (negative) number = 0u - number;
    return static_cast<std::int32_t>(number);
}

bool writeProfileString(std::string_view section, std::string_view key, std::string_view value,
                        std::string_view fileName) {
    if (!writableEntry(section, key, value)) {
        errno = EINVAL;
        return false;
    }
    const std::string path = profilePath(fileName);
    std::lock_guard lock(profileMutex());
    std::string content;
    bool exists = false;
    // A file that exists but cannot be read is left alone: writing would lose its contents.
    if (!readWholeFile(path, content, exists)) return false;
    return replaceFile(path, changedContent(content, trim(section), trim(key), value));
}

bool writeProfileStrings(const std::vector<ProfileEntry>& entries, std::string_view fileName) {
    const std::string path = profilePath(fileName);
    std::lock_guard lock(profileMutex());
    std::string content;
    bool exists = false;
    if (!readWholeFile(path, content, exists)) return false;
    const std::string original = content;
    bool allWritable = true;
    for (const ProfileEntry& e : entries) {
        if (!writableEntry(e.section, e.key, e.value)) {
            allWritable = false;
            continue;
        }
        content = changedContent(content, trim(e.section), trim(e.key), e.value);
    }
    if (!allWritable) errno = EINVAL;
    // Values already standing in the file cost no rewrite (no flush, no rename).
    if (exists && content == original) return allWritable;
    return replaceFile(path, content) && allWritable;
}

} // namespace farlink::platform
