// The key tree of a machine image: its registry/*.reg files, REGEDIT4 text as regedit exports
// it, merged in name order into one tree and kept until one of the files changes.
#include "platform/console.h"
#include "platform/key_tree_model.h"
#include "platform/names.h"
#include "platform/text_lines.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace farlink::platform {

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kLocalMachine = "HKEY_LOCAL_MACHINE";

// The system allows no deeper keys, and the tree is released recursively: a path of endless
// names in a hand-made file must not turn into a stack that the release cannot climb down.
constexpr std::size_t kMaxKeyDepth = 512;

// A registry export of a whole server is a few megabytes; anything far larger is not an image's
// registry, and reading it would only hold memory that the agent needs.
constexpr std::size_t kMaxRegFileBytes = 16u << 20;

std::string_view trimLeft(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

std::string_view trimRight(std::string_view text) {
    const std::size_t last = text.find_last_not_of(kBlanks);
    return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

std::string_view trim(std::string_view text) {
    return trimLeft(trimRight(text));
}

bool startsWithName(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && sameName(text.substr(0, prefix.size()), prefix);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A number of one to `maxDigits` hexadecimal digits and nothing else.
bool hexNumber(std::string_view digits, std::size_t maxDigits, std::uint32_t& number) {
    if (digits.empty() || digits.size() > maxDigits) return false;
    number = 0;
    for (char c : digits) {
        const int digit = hexDigit(c);
        if (digit < 0) return false;
        number = number << 4 | static_cast<std::uint32_t>(digit);
    }
    return true;
}

// A quoted text at the start of `text`, which then holds what follows its closing quote. regedit
// escapes only the backslash and the quote; any other backslash is kept as it stands, so that a
// hand-written "\Device\Serial0.Raw" means what its writer meant.
bool takeQuoted(std::string_view& text, std::string& out) {
    out.clear();
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) ++i;
        out += text[i];
    }
    return false;
}

// The value name ("" for @) and the '=' after it; `line` then holds the data.
bool takeValueName(std::string_view& line, std::string& name) {
    if (line.front() == '@') {
        name.clear();
        line.remove_prefix(1);
    } else if (!takeQuoted(line, name)) {
        return false;
    }
    line = trimLeft(line);
    if (line.empty() || line.front() != '=') return false;
    line = trim(line.substr(1));
    return true;
}

// Comma-separated bytes of one or two hex digits; a comma may close the list (regedit leaves one
// before each line break, and a hand-edited file one at the end).
bool hexBytes(std::string_view list, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    while (true) {
        const std::size_t comma = list.find(',');
        const std::string_view item = trim(list.substr(0, comma));
        const bool last = comma == std::string_view::npos;
        std::uint32_t byte = 0;
        if (item.empty()) return last;
        if (!hexNumber(item, 2, byte)) return false;
        bytes.push_back(static_cast<std::uint8_t>(byte));
        if (last) return true;
        list.remove_prefix(comma + 1);
    }
}

enum class ValueLine { Stored, Ignored, Unreadable };

// The data after "name"=: a quoted text, dword:, hex: or hex(n): with n in hexadecimal as
// regedit writes it (hex(a) is a requirements list, type 10). "name"=- deletes a value on import;
// the image describes a machine as it stands, so there is nothing to delete and it is passed by.
ValueLine readData(std::string_view data, std::uint32_t& type, std::vector<std::uint8_t>& bytes) {
    if (data == "-") return ValueLine::Ignored;
    if (!data.empty() && data.front() == '"') {
        std::string text;
        if (!takeQuoted(data, text) || !trim(data).empty()) return ValueLine::Unreadable;
        type = 1;
        bytes.assign(text.begin(), text.end());
        bytes.push_back(0);
        return ValueLine::Stored;
    }
    if (startsWithName(data, "dword:")) {
        std::uint32_t number = 0;
        if (!hexNumber(trim(data.substr(6)), 8, number)) return ValueLine::Unreadable;
        type = 4;
        bytes = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                 static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
        return ValueLine::Stored;
    }
    if (startsWithName(data, "hex:")) {
        type = 3;
        data.remove_prefix(4);
    } else if (startsWithName(data, "hex(")) {
        const std::size_t close = data.find(')');
        if (close == std::string_view::npos || close + 1 >= data.size() || data[close + 1] != ':')
            return ValueLine::Unreadable;
        if (!hexNumber(data.substr(4, close - 4), 8, type)) return ValueLine::Unreadable;
        data.remove_prefix(close + 2);
    } else {
        return ValueLine::Unreadable;
    }
    return hexBytes(data, bytes) ? ValueLine::Stored : ValueLine::Unreadable;
}

// regedit breaks long hex lists after a comma with a backslash and goes on, indented, on the
// next line: the whole list, joined.
std::string joinContinued(std::string_view data, LineReader& lines) {
    std::string joined(data);
    while (!joined.empty() && joined.back() == '\\') {
        joined.pop_back();
        std::string_view next;
        if (!lines.next(next)) break;
        joined += trim(next);
    }
    return joined;
}

enum class KeyLine { Opened, Skipped, Unreadable };

// "[HKEY_LOCAL_MACHINE\path]" opens (and creates) the key below the root. Keys of the other roots
// and "[-...]" deletions are not part of the machine's tree.
KeyLine readKeyLine(std::string_view line, TreeKey& root, TreeKey*& key) {
    key = nullptr;
    const std::size_t close = line.rfind(']');
    if (close == std::string_view::npos) return KeyLine::Unreadable;
    const std::string_view path = line.substr(1, close - 1);
    if (!path.empty() && path.front() == '-') return KeyLine::Skipped;
    const std::size_t slash = path.find('\\');
    if (!sameName(path.substr(0, slash), kLocalMachine)) return KeyLine::Skipped;
    const std::string_view below =
        slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
    std::size_t depth = 0;
    for (std::size_t i = 0; i < below.size(); ++i)
        if (below[i] != '\\' && (i == 0 || below[i - 1] == '\\')) ++depth;
    if (depth > kMaxKeyDepth) return KeyLine::Unreadable;
    key = &root.path(below);
    return KeyLine::Opened;
}

bool isHeader(std::string_view line) {
    return line == "REGEDIT4" || line == "Windows Registry Editor Version 5.00";
}

} // namespace

std::size_t parseRegText(std::string_view text, TreeKey& root) {
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    if (text.substr(0, byteOrderMark.size()) == byteOrderMark)
        text.remove_prefix(byteOrderMark.size());
    LineReader lines(text);
    std::size_t unreadable = 0;
    TreeKey* key = nullptr;
    // Below a key that is not the machine's (or could not be read) everything up to the next key
    // line belongs to it and is passed by unread.
    bool skipping = false;
    std::string name;
    std::vector<std::uint8_t> bytes;
    std::string_view line;
    while (lines.next(line)) {
        line = trim(line);
        if (line.empty() || line.front() == ';' || isHeader(line)) continue;
        if (line.front() == '[') {
            const KeyLine result = readKeyLine(line, root, key);
            skipping = result != KeyLine::Opened;
            if (result == KeyLine::Unreadable) ++unreadable;
            continue;
        }
        if (skipping) continue;
        if (line.front() != '"' && line.front() != '@') {
            ++unreadable;
            continue;
        }
        std::string_view data = line;
        if (!takeValueName(data, name)) {
            ++unreadable;
            continue;
        }
        std::string joined;
        if (startsWithName(data, "hex")) {
            joined = joinContinued(data, lines);
            data = joined;
        }
        // A value before the first key has no key to go to; regedit passes it by as well.
        if (key == nullptr) continue;
        std::uint32_t type = 0;
        switch (readData(data, type, bytes)) {
        case ValueLine::Stored:
            key->set(name, type, std::move(bytes));
            break;
        case ValueLine::Unreadable:
            ++unreadable;
            break;
        case ValueLine::Ignored:
            break;
        }
    }
    return unreadable;
}

namespace {

// What a file looked like when it was read: a change of any of these means it must be read
// again. The inode catches a file replaced by another of the same size and time.
struct FileStamp {
    std::string name;
    off_t size = 0;
    std::int64_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;
    ino_t inode = 0;

    bool operator==(const FileStamp&) const = default;
};

bool isRegFileName(std::string_view name) {
    constexpr std::string_view suffix = ".reg";
    return name.size() > suffix.size() &&
           sameName(name.substr(name.size() - suffix.size()), suffix);
}

// The .reg files of the folder in name order; none when the folder is missing.
std::vector<FileStamp> regFiles(const std::string& folder) {
    std::vector<FileStamp> files;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return files;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        struct stat info {};
        if (!isRegFileName(name) || ::stat((folder + '/' + name).c_str(), &info) != 0 ||
            !S_ISREG(info.st_mode))
            continue;
        files.push_back(FileStamp{name, info.st_size,
                                  static_cast<std::int64_t>(info.st_mtim.tv_sec),
                                  info.st_mtim.tv_nsec, info.st_ino});
    }
    ::closedir(dir);
    std::sort(files.begin(), files.end(),
              [](const FileStamp& a, const FileStamp& b) { return a.name < b.name; });
    return files;
}

// The whole file, or false when it cannot be read or is larger than a registry can be.
bool readWholeFile(const std::string& path, std::string& text) {
    text.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char chunk[8192];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        if (text.size() + static_cast<std::size_t>(n) > kMaxRegFileBytes) {
            ok = false;
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ok;
}

// The last tree built, for the image and the files it was built from. Port threads ask for it
// at once; each gets the shared snapshot, which nobody changes after it is built.
struct ImageTreeCache {
    std::mutex lock;
    std::string imageDirectory;
    std::vector<FileStamp> files;
    KeyTree tree;
    // A watch on the registry folder: while it reports nothing, no file can have changed, and
    // the stamps need not be taken again (one read instead of a listing and a stat per file,
    // for every key a request opens).
    int watch = -1;
    std::string watchedFolder;
};

ImageTreeCache imageTreeCache;

// Whether the folder may have changed since the last call: on the first call for a folder, and
// always while no watch can be kept on it (a missing folder, no inotify).
bool folderMayHaveChanged(ImageTreeCache& cache, const std::string& folder) {
    if (cache.watchedFolder == folder) {
        if (cache.watch < 0) return true;
        alignas(inotify_event) char events[4096];
        bool changed = false;
        bool watchGone = false;
        ssize_t n;
        while ((n = ::read(cache.watch, events, sizeof events)) > 0) {
            changed = true;
            for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) watchGone = true;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        if (watchGone) {
            // The folder itself went: a new one of that name is watched from the next call.
            ::close(cache.watch);
            cache.watch = -1;
            cache.watchedFolder.clear();
        }
        return changed;
    }
    if (cache.watch >= 0) ::close(cache.watch);
    cache.watchedFolder = folder;
    cache.watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    constexpr std::uint32_t kChanges = IN_MODIFY | IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE |
                                       IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                       IN_MOVE_SELF;
    if (cache.watch >= 0 && ::inotify_add_watch(cache.watch, folder.c_str(), kChanges) < 0) {
        ::close(cache.watch);
        cache.watch = -1;
    }
    return true;
}

} // namespace

KeyTree imageKeyTree(const std::string& imageDirectory) {
    const std::string folder = imageDirectory + "/registry";
    std::lock_guard<std::mutex> hold(imageTreeCache.lock);
    // The watch is set (or read) before the files are listed, so a change made while they are
    // read is reported at the next call.
    const bool mayHaveChanged = folderMayHaveChanged(imageTreeCache, folder);
    if (imageTreeCache.tree && imageTreeCache.imageDirectory == imageDirectory && !mayHaveChanged)
        return imageTreeCache.tree;
    std::vector<FileStamp> files = regFiles(folder);
    if (imageTreeCache.tree && imageTreeCache.imageDirectory == imageDirectory &&
        imageTreeCache.files == files)
        return imageTreeCache.tree;

    auto tree = std::make_shared<TreeKey>();
    tree->generation = newTreeGeneration();
    std::string text;
    for (const FileStamp& file : files) {
        if (!readWholeFile(folder + '/' + file.name, text)) {
            diagnostic(formatText("registry/%s could not be read", file.name.c_str()));
            continue;
        }
        if (const std::size_t unreadable = parseRegText(text, *tree))
            diagnostic(formatText("registry/%s: %zu lines could not be read", file.name.c_str(),
                                  unreadable));
    }
    imageTreeCache.imageDirectory = imageDirectory;
    imageTreeCache.files = std::move(files);
    imageTreeCache.tree = std::move(tree);
    return imageTreeCache.tree;
}

} // namespace farlink::platform
