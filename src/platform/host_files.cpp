#include "platform/host_files.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace farlink::platform {

bool readWholeFile(const char* path, std::string& text, std::size_t limit) {
    text.clear();
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // A procfs text comes a page or so per read, made as it is read: read on to its end.
    std::size_t filled = 0;
    text.resize(limit < 16384 ? limit : 16384);
    for (;;) {
        if (filled == text.size()) {
            if (text.size() >= limit) break;
            text.resize(text.size() * 2 < limit ? text.size() * 2 : limit);
        }
        const ssize_t n = ::read(fd, text.data() + filled, text.size() - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            text.clear();
            return false;
        }
        if (n == 0) break;
        filled += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(filled);
    return true;
}

std::string_view readAttribute(const char* path, std::span<char> buffer) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    ssize_t n;
    do {
        n = ::read(fd, buffer.data(), buffer.size());
    } while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n <= 0) return {};
    std::string_view text(buffer.data(), static_cast<std::size_t>(n));
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\t' ||
                             text.back() == '\0'))
        text.remove_suffix(1);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    return text;
}

std::string_view readLinkTarget(const char* path, std::span<char> buffer) {
    const ssize_t n = ::readlink(path, buffer.data(), buffer.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= buffer.size()) return {};
    return {buffer.data(), static_cast<std::size_t>(n)};
}

std::string_view baseName(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace farlink::platform
