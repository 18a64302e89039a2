#include "platform/system_facts.h"

#include "platform/console.h"
#include "platform/machine_image.h"

#include <cerrno>
#include <pwd.h>
#include <sys/sysinfo.h>
#include <unistd.h>
#include <vector>

namespace farlink::platform {

namespace {

constexpr int kErrorFileNotFound = 2;

// The value of `name` in the image's facts; false when the file or the line is missing.
bool imageFact(const std::string& image, std::string_view name, std::string& value) {
    std::vector<std::string> lines;
    if (!readImageLines(image + "/system/facts", lines)) return false;
    for (const std::string& line : lines) {
        if (line.empty() || line.front() == '#') continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos || std::string_view(line).substr(0, equals) != name)
            continue;
        value = line.substr(equals + 1);
        return true;
    }
    setLastError(kErrorFileNotFound);
    return false;
}

} // namespace

bool processUserName(std::string& name) {
    const std::string image = machineImageDirectory();
    if (!image.empty()) return imageFact(image, "user", name);
    const uid_t uid = ::geteuid();
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr && found->pw_name[0] != '\0') {
        name = found->pw_name;
        return true;
    }
    // An id without an entry (a container's user) is still the account the agent runs under.
    name = std::to_string(uid);
    return true;
}

std::uint64_t physicalMemoryBytes() {
    const std::string image = machineImageDirectory();
    if (!image.empty()) {
        std::string text;
        if (!imageFact(image, "memory", text) || text.empty()) return 0;
        std::uint64_t value = 0;
        for (char c : text) {
            if (c < '0' || c > '9' || value > (UINT64_MAX - 9) / 10) return 0;
            value = value * 10 + static_cast<std::uint64_t>(c - '0');
        }
        return value;
    }
    struct sysinfo info {};
    if (::sysinfo(&info) != 0) return 0;
    return static_cast<std::uint64_t>(info.totalram) * info.mem_unit;
}

} // namespace farlink::platform
