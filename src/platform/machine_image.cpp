#include "platform/machine_image.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace farlink::platform {

namespace {

std::string environmentText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

} // namespace

std::string machineImageDirectory() {
    return environmentText("FARLINK_MACHINE");
}

std::string machineRecordPath(const std::string& imageDirectory) {
    std::string path = environmentText("FARLINK_MACHINE_RECORD");
    if (path.empty()) path = imageDirectory + "/requests.log";
    return path;
}

// The file is opened for each line with O_APPEND and the line goes out in one write: the kernel
// then places it at the end as one piece, so lines of several threads or processes (the agent
// and a test reading along) never interleave, and nothing stays open between requests.
bool appendMachineRecord(const std::string& imageDirectory, std::string_view line) {
    std::string out;
    out.reserve(line.size() + 1);
    for (char c : line)
        out += (c == '\n' || c == '\r') ? ' ' : c;
    out += '\n';
    const std::string path = machineRecordPath(imageDirectory);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ssize_t n;
    do {
        n = ::write(fd, out.data(), out.size());
    } while (n < 0 && errno == EINTR);
    const int writeError = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(out.size())) {
        errno = n < 0 ? writeError : EIO;
        return false;
    }
    return true;
}

bool readImageLines(const std::string& path, std::vector<std::string>& lines) {
    lines.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string text;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int readError = errno;
            ::close(fd);
            errno = readError;
            return false;
        }
        if (n == 0) break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(fd);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        // Images are edited by hand, sometimes on machines that end lines with CR LF.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return true;
}

} // namespace farlink::platform
