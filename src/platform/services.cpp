#include "platform/services.h"

#include "platform/machine_image.h"
#include "platform/names.h"
#include "platform/systemd_host.h"

#include <cerrno>

namespace farlink::platform {

namespace {

constexpr int kErrorAccessDenied = 5;
constexpr int kErrorGenericFailure = 31; // ERROR_GEN_FAILURE
constexpr int kErrorServiceDoesNotExist = 1060;

// systemctl's own exit statuses for a refused request and for an unknown unit.
constexpr int kSystemctlNotPermitted = 4;
constexpr int kSystemctlNoSuchUnit = 5;

// systemctl --no-block only queues the job; it answers at once unless the manager is stuck.
constexpr int kSystemctlTimeoutMs = 10000;

struct ServiceUnit {
    const char* service;
    const char* unit;
};

// Service names compare without regard to case, as the service control manager's do.
constexpr ServiceUnit kServiceUnits[] = {
    {"SNMP", "koru-inband.service"},
    {"FARLINK", "farlink.service"},
};

bool listHostDrivers(std::vector<ServiceEntry>& drivers) {
    std::vector<std::string> lines;
    if (!readImageLines("/proc/modules", lines)) {
        // A kernel built without modules (or a container that hides them) has none loaded.
        return errno == ENOENT;
    }
    for (const std::string& line : lines) {
        const std::string name = line.substr(0, line.find(' '));
        if (name.empty()) continue;
        drivers.push_back(ServiceEntry{name, name});
    }
    return true;
}

bool listImageDrivers(const std::string& imageDirectory, std::vector<ServiceEntry>& drivers) {
    std::vector<std::string> lines;
    if (!readImageLines(imageDirectory + "/services/drivers", lines)) {
        // A machine without a drivers file simply has none active.
        return errno == ENOENT;
    }
    for (const std::string& line : lines) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t tab = line.find('\t');
        std::string name = line.substr(0, tab);
        if (name.empty()) continue;
        std::string displayName = tab == std::string::npos ? name : line.substr(tab + 1);
        drivers.push_back(ServiceEntry{std::move(name), std::move(displayName)});
    }
    return true;
}

bool controlImageService(const std::string& imageDirectory, const char* verb,
                         std::string_view name) {
    std::string line = verb;
    line += ' ';
    line.append(name);
    appendMachineRecord(imageDirectory, line);
    std::vector<std::string> installed;
    if (readImageLines(imageDirectory + "/services/installed", installed)) {
        for (const std::string& entry : installed) {
            if (!entry.empty() && sameName(entry, name)) return true;
        }
    }
    errno = kErrorServiceDoesNotExist;
    return false;
}

bool controlHostService(const char* verb, std::string_view name) {
    const std::string unit = unitForService(name);
    if (unit.empty() || !systemdRunsHost()) {
        errno = kErrorServiceDoesNotExist;
        return false;
    }
    const int status =
        runSystemctl({verb, "--no-block", unit.c_str()}, nullptr, kSystemctlTimeoutMs);
    if (status == 0) return true;
    if (status == kSystemctlNoSuchUnit)
        errno = kErrorServiceDoesNotExist;
    else if (status == kSystemctlNotPermitted)
        errno = kErrorAccessDenied;
    else if (status > 0)
        errno = kErrorGenericFailure;
    return false;
}

bool controlService(const char* verb, std::string_view name) {
    const std::string imageDirectory = machineImageDirectory();
    if (!imageDirectory.empty()) return controlImageService(imageDirectory, verb, name);
    return controlHostService(verb, name);
}

} // namespace

bool enumActiveDrivers(std::vector<ServiceEntry>& drivers) {
    drivers.clear();
    const std::string imageDirectory = machineImageDirectory();
    if (!imageDirectory.empty()) return listImageDrivers(imageDirectory, drivers);
    return listHostDrivers(drivers);
}

bool startNamedService(std::string_view name) {
    return controlService("start", name);
}

bool stopNamedService(std::string_view name) {
    return controlService("stop", name);
}

std::string unitForService(std::string_view name) {
    for (const ServiceUnit& entry : kServiceUnits) {
        if (sameName(entry.service, name)) return entry.unit;
    }
    return {};
}

} // namespace farlink::platform
