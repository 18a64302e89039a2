// The host's view of the key trees, built from procfs and sysfs for the part a walk opens:
//
//   HARDWARE\RESOURCEMAP\<class>\<owner>        "\Device\<name>.Raw" resource lists
//                                                (host_resources.h, host_storage.h)
//   HARDWARE\DEVICEMAP\Scsi\Scsi Port N\...      the SCSI map; "Driver", "DeviceName"
//       Scsi Bus C\Target Id T\Logical Unit Id L "Identifier", "Type"
//   HARDWARE\DEVICEMAP\<driver>\<controller>\DiskN  "Identifier", "SerialNumber"
//   SYSTEM\CurrentControlSet\Services\<driver>   "Group" of each disk driver
//   SOFTWARE\Microsoft\Windows NT\CurrentVersion\Perflib  the counter name table
//   SOFTWARE\Microsoft\Windows NT\CurrentVersion\NetworkCards\<n>  the interfaces
//                                                (host_network.h)
//
// Every call reads afresh what its part needs, each procfs file once.
#include "platform/host_files.h"
#include "platform/host_network.h"
#include "platform/host_resources.h"
#include "platform/host_storage.h"
#include "platform/key_tree.h"
#include "platform/key_tree_model.h"
#include "platform/names.h"
#include "platform/perf_names.h"

#include <algorithm>
#include <iterator>

namespace farlink::platform {

namespace {

// Far beyond any machine's tables, but a bound all the same.
constexpr std::size_t kProcLimit = 4u << 20;

std::string_view nextName(std::string_view& path) {
    while (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    const std::size_t end = path.find('\\');
    const std::string_view name = path.substr(0, end);
    path = end == std::string_view::npos ? std::string_view{} : path.substr(end);
    return name;
}

// Whether a walk that starts at `path` reaches `part` or lies inside it: name by name, the
// shorter of the two begins the longer.
bool reaches(std::string_view path, std::string_view part) {
    for (;;) {
        const std::string_view a = nextName(path), b = nextName(part);
        if (a.empty() || b.empty()) return true;
        if (!sameName(a, b)) return false;
    }
}

// Reads one procfs file into the calling thread's buffer for it, when its kind is wanted.
std::string_view procText(const char* path, std::string& buffer, bool wanted) {
    if (!wanted || !readWholeFile(path, buffer, kProcLimit)) return {};
    return buffer;
}

} // namespace

KeyTree hostKeyTree(std::string_view path, std::uint32_t resourceTypes) {
    auto root = std::make_shared<TreeKey>();
    root->generation = newTreeGeneration();
    const bool resourceMap = reaches(path, "HARDWARE\\RESOURCEMAP");
    const bool deviceMap = reaches(path, "HARDWARE\\DEVICEMAP");
    const bool services = reaches(path, "SYSTEM\\CurrentControlSet\\Services");
    const bool networkCards =
        reaches(path, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards");
    // The name table is the agent's own, the same on every host: no file is read for it.
    if (reaches(path, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib"))
        addPerflibKeys(*root);
    if (!resourceMap && !deviceMap && !services && !networkCards) return root;

    // A walk for one kind of resource is served by the kernel's own tables, which name every
    // disk driver's claims too; the adapters' lists, which take a scan of sysfs, come with the
    // walks that gather whole adapters (ports, interrupts and memory together).
    constexpr std::uint32_t kAdapterKinds =
        resourceTypeBit(1) | resourceTypeBit(2) | resourceTypeBit(3);
    const bool adapters = resourceMap && (resourceTypes & kAdapterKinds) == kAdapterKinds;
    HostStorage storage;
    if (adapters || deviceMap || services)
        storage = scanHostStorage(deviceMap ? kScanUnits | kScanIdentity : 0);
    if (resourceMap) {
        // The buffers stay with the thread, so that a walk per request allocates none for them.
        thread_local std::string ioports, iomem, interrupts, dma;
        auto wanted = [&](std::uint32_t type) {
            return (resourceTypes & resourceTypeBit(type)) != 0;
        };
        ResourceTexts texts;
        texts.ioports = procText("/proc/ioports", ioports, wanted(1));
        texts.interrupts = procText("/proc/interrupts", interrupts, wanted(2));
        texts.iomem = procText("/proc/iomem", iomem, wanted(3));
        texts.dma = procText("/proc/dma", dma, wanted(4));
        std::vector<ControllerResources> controllers;
        if (adapters) {
            controllers = controllerResources(storage, resourceTypes);
            std::vector<ControllerResources> nics = nicResources(scanHostNics(), resourceTypes);
            std::move(nics.begin(), nics.end(), std::back_inserter(controllers));
        }
        addResourceMap(*root, texts, controllers, resourceTypes);
    }
    if (networkCards) addNetworkCards(*root, scanHostNics());
    if (deviceMap) addDeviceMap(*root, storage);
    if (services) addStorageServices(*root, storage);
    return root;
}

} // namespace farlink::platform
