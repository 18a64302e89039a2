// What the KORU driver answers, and what the host's stand-in for it reads from the firmware and
// sysfs, arrives as bytes nobody checked. The first byte picks the reader:
//   0  an item list: every row's name lies inside the answer and is at most a value long;
//   1  an SMBIOS table: the structures kept for the agent fit their room, end with type 255 and
//      parse whole; the configuration answer built on them is read as the start-up reads it;
//   2  sysfs and procfs texts: /proc/ioports and hwmon attributes of a scratch tree;
//   3  sensor rows: the item list built from them fits 400 bytes and reads back row by row.
#include "inventory/dmi.h"
#include "inventory/driver_answer.h"
#include "platform/console.h"
#include "platform/host_koru.h"
#include "system/item_list.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace farlink;

void itemList(std::span<const std::uint8_t> answer) {
    for (std::uint32_t row = 0; row <= answer.size() / 4 + 1; ++row) {
        const system::ItemRow item = system::readItemRow(answer, row, 4);
        if (item.name.size() > system::kItemNameLimit) __builtin_trap();
        if (item.name.empty()) continue;
        const auto* begin = reinterpret_cast<const std::uint8_t*>(item.name.data());
        if (begin < answer.data() || begin + item.name.size() > answer.data() + answer.size())
            __builtin_trap();
    }
}

void smbios(std::span<const std::uint8_t> table) {
    const std::size_t room = table.empty() ? 16000 : 6 + table[0] * 40u;
    const std::vector<std::uint8_t> kept = platform::agentDmiStructures(table, room);
    if (kept.size() > room) __builtin_trap();
    if (!kept.empty() && kept[kept.size() - 6] != 255) __builtin_trap();
    inventory::resetDmi();
    if (!kept.empty() && inventory::parseDmiTable(kept.data(), kept.size()) == 0)
        __builtin_trap(); // only structures the parser knows, so the parse is never cut short
    const std::vector<std::uint8_t> answer = platform::hostConfigurationAnswer(
        table.first(std::min<std::size_t>(table.size(), 10)), table, {0x3F8, 0x2F8, 0x378});
    if (answer.size() > 16000 || answer[1] < 0x20) __builtin_trap();
    inventory::resetDmi();
    inventory::summarizeConfigurationAnswer(answer);
}

// One scratch tree per process, removed at exit. The path lives in a static array: a static
// string would already be destroyed when the exit handler runs.
const char* scratchRoot() {
    static char path[256];
    static const bool made = [] {
        const std::string root = std::filesystem::temp_directory_path().string() + "/fuzz-host-" +
                                 std::to_string(::getpid());
        root.copy(path, sizeof path - 1);
        std::filesystem::create_directories(root + "/proc");
        std::filesystem::create_directories(root + "/sys/class/hwmon/hwmon0");
        std::filesystem::create_directories(root + "/sys/class/tty/ttyS0");
        std::ofstream(root + "/sys/class/tty/ttyS0/type") << "4\n";
        std::atexit([] { std::filesystem::remove_all(path); });
        return true;
    }();
    (void)made;
    return path;
}

void sysfsTexts(std::span<const std::uint8_t> bytes) {
    const std::string root = scratchRoot();
    const std::string text(bytes.begin(), bytes.end());
    const std::size_t half = text.size() / 2;
    std::ofstream(root + "/proc/ioports", std::ios::binary) << text;
    std::ofstream(root + "/sys/class/tty/ttyS0/port", std::ios::binary) << text.substr(half);
    const std::string chip = root + "/sys/class/hwmon/hwmon0";
    std::ofstream(chip + "/name", std::ios::binary) << text.substr(0, half);
    for (const char* attribute : {"temp1_input", "fan1_input", "in0_input", "in0_min"})
        std::ofstream(chip + "/" + attribute, std::ios::binary) << text.substr(half);
    std::ofstream(chip + "/temp1_label", std::ios::binary) << text;
    platform::hostPortAddresses(root);
    const platform::HostMonitors m = platform::scanHostMonitors(root);
    for (const auto& table : m.tables)
        for (const platform::HostSensor& s : table)
            if (s.name.size() > 31) __builtin_trap();
}

void sensorRows(std::span<const std::uint8_t> bytes) {
    std::vector<platform::HostSensor> rows;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t length = std::min<std::size_t>(bytes[at] % 64, bytes.size() - at - 1);
        rows.push_back({std::string(bytes.begin() + static_cast<std::ptrdiff_t>(at + 1),
                                    bytes.begin() + static_cast<std::ptrdiff_t>(at + 1 + length)),
                        {static_cast<std::uint32_t>(at), 1, 2, 3}});
        at += 1 + length;
    }
    std::size_t fitted = 0;
    const std::size_t values = bytes.empty() ? 1 : 1 + bytes[0] % 4;
    const std::vector<std::uint8_t> list = platform::hostItemList(rows, values, 400, fitted);
    if (list.size() > 400 || fitted > rows.size()) __builtin_trap();
    for (std::size_t r = 0; r < fitted; ++r) {
        const system::ItemRow item =
            system::readItemRow(list, static_cast<std::uint32_t>(r), values);
        const std::string& name = rows[r].name;
        const std::string_view expected =
            std::string_view(name).substr(0, std::min(name.find('\0'), std::size_t{31}));
        if (item.name != expected) __builtin_trap();
        if (name.find('\0') == std::string::npos && item.values[0] != rows[r].values[0])
            __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = [] {
        farlink::platform::setConsoleQuiet(true);
        return true;
    }();
    (void)quiet;
    if (size == 0) return 0;
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    switch (data[0] % 4) {
    case 0:
        itemList(rest);
        break;
    case 1:
        smbios(rest);
        break;
    case 2:
        sysfsTexts(rest.first(std::min<std::size_t>(rest.size(), 4096)));
        break;
    default:
        sensorRows(rest);
        break;
    }
    return 0;
}
