#include "platform/host_koru.h"

#include "platform/event_log.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace farlink::platform {

namespace {

constexpr int kErrorInvalidFunction = 1;
constexpr int kErrorMoreData = 234;

// The codes this provider answers (the agent's own list lies above the platform).
constexpr std::uint32_t kRowCounts = 0x80002080;
constexpr std::uint32_t kConfiguration = 0x80002010;
constexpr std::uint32_t kEisaSlots = 0x80002018;
constexpr std::uint32_t kReadings16 = 0x8000201C;
constexpr std::uint32_t kReadings32 = 0x80002064;
constexpr std::uint32_t kSetVoltage = 0x800020D0;
constexpr std::uint32_t kShutdown = 0x8000205C;
constexpr std::array<std::uint32_t, 4> kItemTables = {0x8000208C, 0x80002084, 0x80002088,
                                                      0x80002090};

constexpr std::size_t kItemListSize = 400;
constexpr std::size_t kConfigurationSize = 16000;
constexpr std::size_t kAnswerHeader = 36;
constexpr std::size_t kSmbiosMost = 65536;
constexpr std::size_t kNameMost = 31;
constexpr std::uint64_t kSampleEveryMs = 1000;

constexpr std::string_view kDmiTable = "/sys/firmware/dmi/tables/DMI";
constexpr std::string_view kDmiEntry = "/sys/firmware/dmi/tables/smbios_entry_point";
constexpr std::string_view kHwmon = "/sys/class/hwmon";
constexpr std::string_view kCpus = "/sys/devices/system/cpu";

// At most `most` bytes of a file; empty when it cannot be read.
std::string readFile(const std::string& path, std::size_t most) {
    std::string bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return bytes;
    bytes.resize(most);
    std::size_t filled = 0;
    while (filled < most) {
        const ssize_t n = ::read(fd, bytes.data() + filled, most - filled);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        filled += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.resize(filled);
    return bytes;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\0'))
        text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    return text;
}

// A decimal (or 0x-prefixed hexadecimal) number from a sysfs attribute.
bool readNumber(const std::string& path, std::int64_t& value) {
    const std::string text = readFile(path, 32);
    std::string_view t = trimmed(text);
    int base = 10;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        t.remove_prefix(2);
        base = 16;
    }
    if (t.empty()) return false;
    const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value, base);
    return error == std::errc() && end == t.data() + t.size();
}

std::int64_t numberOr(const std::string& path, std::int64_t fallback) {
    std::int64_t value = 0;
    return readNumber(path, value) ? value : fallback;
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// Entries of a directory that start with `prefix`, in natural order (hwmon2 before hwmon10).
std::vector<std::string> entries(const std::string& directory, std::string_view prefix) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(directory.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name = entry->d_name;
            if (name.substr(0, prefix.size()) == prefix) names.emplace_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
}

// Milli-units to units, to the nearest.
std::int64_t fromMilli(std::int64_t value) {
    return value >= 0 ? (value + 500) / 1000 : -((-value + 500) / 1000);
}

std::uint32_t word(std::int64_t value) {
    return static_cast<std::uint32_t>(
        static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX)));
}

bool handledDmiType(std::uint8_t type) {
    return type <= 2 || (type >= 4 && type <= 11) || type == 13;
}

void putLe(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The chip's sensors of one kind: <kind><n><suffix>, as stems ("temp1"), in number order.
std::vector<std::string> sensorStems(const std::string& chip, std::string_view kind,
                                     std::string_view suffix) {
    std::vector<std::string> stems;
    for (const std::string& name : entries(chip, kind)) {
        const std::string_view n = name;
        if (n.size() <= kind.size() + suffix.size() || n.substr(n.size() - suffix.size()) != suffix)
            continue;
        const std::string_view digits =
            n.substr(kind.size(), n.size() - kind.size() - suffix.size());
        if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            stems.emplace_back(n.substr(0, n.size() - suffix.size()));
    }
    return stems;
}

std::string sensorName(const std::string& chip, const std::string& chipName,
                       const std::string& stem) {
    std::string label(trimmed(readFile(chip + "/" + stem + "_label", 64)));
    if (label.empty()) label = chipName + " " + stem;
    if (label.size() > kNameMost) label.resize(kNameMost);
    return label;
}

} // namespace

std::vector<std::uint8_t> agentDmiStructures(std::span<const std::uint8_t> table,
                                             std::size_t room) {
    constexpr std::array<std::uint8_t, 6> kEnd = {255, 4, 0xFF, 0xFF, 0, 0};
    std::vector<std::uint8_t> out;
    if (room < kEnd.size()) return out;
    std::size_t at = 0;
    while (table.size() - at >= 4) {
        const std::uint8_t type = table[at];
        const std::size_t length = table[at + 1];
        if (type == 127 || length < 4 || length > table.size() - at) break;
        // The string set ends at the first pair of NULs after the formatted area.
        std::size_t next = at + length;
        while (next + 1 < table.size() && !(table[next] == 0 && table[next + 1] == 0))
            ++next;
        if (next + 1 >= table.size()) break;
        next += 2;
        // The parser takes at most 255 texts per structure and would stop at one with more.
        const auto texts = std::count(table.begin() + static_cast<std::ptrdiff_t>(at + length),
                                      table.begin() + static_cast<std::ptrdiff_t>(next - 1), 0);
        if (handledDmiType(type) && texts <= 255) {
            const std::size_t keep = type == 5 ? length : next - at;
            if (out.size() + keep > room - kEnd.size()) break;
            out.insert(out.end(), table.begin() + static_cast<std::ptrdiff_t>(at),
                       table.begin() + static_cast<std::ptrdiff_t>(at + keep));
        }
        at = next;
    }
    out.insert(out.end(), kEnd.begin(), kEnd.end());
    return out;
}

std::vector<std::uint8_t> hostConfigurationAnswer(std::span<const std::uint8_t> entryPoint,
                                                  std::span<const std::uint8_t> table,
                                                  const std::array<std::uint16_t, 3>& ports) {
    std::vector<std::uint8_t> out(kAnswerHeader, 0);
    std::uint8_t major = 2, minor = 0, revision = 0;
    auto startsWith = [&](std::string_view anchor) {
        return entryPoint.size() >= anchor.size() &&
               std::equal(anchor.begin(), anchor.end(), entryPoint.begin());
    };
    if (startsWith("_SM3_") && entryPoint.size() >= 10) {
        major = entryPoint[7];
        minor = entryPoint[8];
        revision = entryPoint[9];
    } else if (startsWith("_SM_") && entryPoint.size() >= 8) {
        major = entryPoint[6];
        minor = entryPoint[7];
    }
    // Two decimal digits; below 2.0 the agent would take the bytes for a ready summary record.
    major = std::clamp<std::uint8_t>(major, 2, 9);
    minor = std::min<std::uint8_t>(minor, 9);
    out[0] = 1;
    out[1] = static_cast<std::uint8_t>(major << 4 | minor);
    out[2] = revision;
    constexpr std::string_view kDriverText = "Linux hwmon";
    std::copy(kDriverText.begin(), kDriverText.end(), out.begin() + 8);
    putLe(out, 28, ports[0], 2);
    putLe(out, 30, ports[1], 2);
    putLe(out, 32, ports[2], 2);
    const std::vector<std::uint8_t> structures =
        agentDmiStructures(table, kConfigurationSize - kAnswerHeader);
    out.insert(out.end(), structures.begin(), structures.end());
    return out;
}

std::array<std::uint16_t, 3> hostPortAddresses(const std::string& root) {
    std::array<std::uint16_t, 3> ports{};
    struct Range {
        std::uint32_t start;
        std::string owner;
    };
    std::vector<Range> ranges;
    bool hidden = true;
    const std::string ioports = readFile(root + "/proc/ioports", 65536);
    std::string_view rest = ioports;
    while (!rest.empty()) {
        const std::size_t eol = rest.find('\n');
        std::string_view line = rest.substr(0, eol);
        rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
        line = trimmed(line);
        const std::size_t dash = line.find('-');
        const std::size_t colon = line.find(" : ");
        if (dash == std::string_view::npos || colon == std::string_view::npos || dash > colon)
            continue;
        std::uint32_t start = 0;
        const auto [end, error] = std::from_chars(line.data(), line.data() + dash, start, 16);
        if (error != std::errc() || end != line.data() + dash) continue;
        if (start != 0) hidden = false;
        ranges.push_back({start, std::string(line.substr(colon + 3))});
    }
    std::size_t serial = 0;
    for (const std::string& tty : entries(root + "/sys/class/tty", "ttyS")) {
        if (serial == 2) break;
        const std::string base = root + "/sys/class/tty/" + tty;
        const std::int64_t address = numberOr(base + "/port", 0);
        if (numberOr(base + "/type", 0) == 0 || address <= 0 || address > 0xFFFF) continue;
        const bool listed = std::any_of(ranges.begin(), ranges.end(), [&](const Range& r) {
            return r.start == address && r.owner == "serial";
        });
        if (listed || hidden) ports[serial++] = static_cast<std::uint16_t>(address);
    }
    for (const Range& r : ranges) {
        if (r.owner.rfind("parport", 0) == 0 && r.start != 0 && r.start <= 0xFFFF) {
            ports[2] = static_cast<std::uint16_t>(r.start);
            break;
        }
    }
    return ports;
}

HostMonitors scanHostMonitors(const std::string& root) {
    HostMonitors m;
    std::vector<std::int64_t> packageCelsius; // by physical package, from the processor chips
    std::size_t amdChips = 0;
    const std::string hwmon = root + std::string(kHwmon);
    for (const std::string& entry : entries(hwmon, "hwmon")) {
        const std::string chip = hwmon + "/" + entry;
        const std::string chipName(trimmed(readFile(chip + "/name", 64)));
        bool anyAlarm = false;
        bool hasAlarms = false;
        auto alarm = [&](const std::string& stem) {
            const std::int64_t a = numberOr(chip + "/" + stem + "_alarm", -1);
            if (a >= 0) hasAlarms = true;
            if (a > 0) anyAlarm = true;
            return a > 0 ? 1u : 0u;
        };
        for (const std::string& stem : sensorStems(chip, "fan", "_input")) {
            alarm(stem);
            m.tables[0].push_back({sensorName(chip, chipName, stem),
                                   {word(numberOr(chip + "/" + stem + "_input", 0))}});
        }
        const std::vector<std::string> temps = sensorStems(chip, "temp", "_input");
        for (const std::string& stem : temps) {
            alarm(stem);
            const std::int64_t celsius = fromMilli(numberOr(chip + "/" + stem + "_input", 0));
            const std::string name = sensorName(chip, chipName, stem);
            m.tables[1].push_back({name, {word(celsius)}});
            // The processor chips: coretemp names each package, k10temp is one per package.
            std::size_t package = SIZE_MAX;
            if (chipName == "coretemp" && name.rfind("Package id ", 0) == 0) {
                std::int64_t p = -1;
                const std::string_view digits = std::string_view(name).substr(11);
                std::from_chars(digits.data(), digits.data() + digits.size(), p);
                if (p >= 0 && p < 64) package = static_cast<std::size_t>(p);
            } else if (chipName == "k10temp" && stem == temps.front()) {
                package = amdChips++;
            }
            if (package != SIZE_MAX) {
                if (packageCelsius.size() <= package) packageCelsius.resize(package + 1, 0);
                packageCelsius[package] = celsius;
            }
        }
        for (const std::string& stem : sensorStems(chip, "in", "_input")) {
            const std::string base = chip + "/" + stem;
            m.tables[2].push_back(
                {sensorName(chip, chipName, stem),
                 {word(numberOr(base + "_input", 0)), word(numberOr(base + "_min", 0)),
                  word(numberOr(base + "_max", 0)), alarm(stem)}});
        }
        for (const std::string& stem : sensorStems(chip, "intrusion", "_alarm")) {
            m.tables[3].push_back({sensorName(chip, chipName, stem),
                                   {numberOr(chip + "/" + stem + "_alarm", 0) > 0 ? 1u : 0u}});
        }
        if (hasAlarms) {
            std::string name = chipName + " alarm";
            if (name.size() > kNameMost) name.resize(kNameMost);
            m.tables[3].push_back({name, {anyAlarm ? 1u : 0u}});
        }
    }
    const std::string cpus = root + std::string(kCpus);
    for (std::size_t i = 0; i < kHostMeasuredProcessors; ++i) {
        const std::string cpu = cpus + "/cpu" + std::to_string(i);
        const std::int64_t package = numberOr(cpu + "/topology/physical_package_id", 0);
        if (package >= 0 && static_cast<std::size_t>(package) < packageCelsius.size())
            m.processorCelsius[i] = static_cast<std::int16_t>(std::clamp<std::int64_t>(
                packageCelsius[static_cast<std::size_t>(package)], INT16_MIN, INT16_MAX));
        const std::int64_t khz = numberOr(cpu + "/cpufreq/scaling_cur_freq", 0);
        m.processorMhz[i] = khz > 0 ? word(fromMilli(khz)) : 0;
    }
    return m;
}

std::vector<std::uint8_t> hostItemList(const std::vector<HostSensor>& rows, std::size_t values,
                                       std::size_t size, std::size_t& fitted) {
    values = std::min<std::size_t>(values, 4);
    // As many rows as fit with their offsets; then the offsets, then the rows.
    std::size_t used = 1;
    fitted = 0;
    for (const HostSensor& row : rows) {
        const std::size_t need = 4 + std::min(row.name.size(), kNameMost) + 1 + 4 * values;
        if (fitted == 255 || used + need > size) break;
        used += need;
        ++fitted;
    }
    std::vector<std::uint8_t> out(1 + 4 * fitted, 0);
    for (std::size_t r = 0; r < fitted; ++r) {
        putLe(out, 1 + 4 * r, static_cast<std::uint32_t>(out.size()), 4);
        const std::string_view name =
            std::string_view(rows[r].name).substr(0, std::min(rows[r].name.size(), kNameMost));
        out.insert(out.end(), name.begin(), name.end());
        out.push_back(0);
        for (std::size_t v = 0; v < values; ++v) {
            out.resize(out.size() + 4);
            putLe(out, out.size() - 4, rows[r].values[v], 4);
        }
    }
    return out;
}

bool HostKoru::present() const {
    return exists(root_ + std::string(kDmiTable)) ||
           !entries(root_ + std::string(kHwmon), "hwmon").empty();
}

const HostMonitors& HostKoru::sample() {
    const std::uint64_t now = monotonicMs();
    if (!sampled_ || now - sampledMs_ >= kSampleEveryMs) {
        monitors_ = scanHostMonitors(root_);
        sampled_ = true;
        sampledMs_ = now;
    }
    return monitors_;
}

bool HostKoru::control(std::uint32_t code, std::span<const std::uint8_t> /*input*/,
                       std::span<std::uint8_t> output, std::uint32_t& bytesReturned) {
    bytesReturned = 0;
    std::vector<std::uint8_t> answer;
    {
        std::lock_guard lock(mutex_);
        if (code == kConfiguration) {
            const std::string entry = readFile(root_ + std::string(kDmiEntry), 64);
            const std::string table = readFile(root_ + std::string(kDmiTable), kSmbiosMost);
            answer = hostConfigurationAnswer(
                std::span(reinterpret_cast<const std::uint8_t*>(entry.data()), entry.size()),
                std::span(reinterpret_cast<const std::uint8_t*>(table.data()), table.size()),
                hostPortAddresses(root_));
        } else if (code == kRowCounts) {
            const HostMonitors& m = sample();
            for (std::size_t t = 0; t < m.tables.size(); ++t) {
                std::size_t fitted = 0;
                hostItemList(m.tables[t], kHostTableValues[t], kItemListSize, fitted);
                answer.push_back(static_cast<std::uint8_t>(fitted));
            }
        } else if (code == kReadings16) {
            const HostMonitors& m = sample();
            for (std::int16_t c : m.processorCelsius) {
                answer.push_back(static_cast<std::uint8_t>(c));
                answer.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(c) >> 8));
            }
        } else if (code == kReadings32) {
            const HostMonitors& m = sample();
            answer.resize(4 * kHostMeasuredProcessors);
            for (std::size_t i = 0; i < kHostMeasuredProcessors; ++i)
                putLe(answer, 4 * i, m.processorMhz[i], 4);
        } else if (const auto* table = std::find(kItemTables.begin(), kItemTables.end(), code);
                   table != kItemTables.end()) {
            const auto t = static_cast<std::size_t>(table - kItemTables.begin());
            std::size_t fitted = 0;
            answer = hostItemList(sample().tables[t], kHostTableValues[t], kItemListSize, fitted);
        } else if (code == kEisaSlots) {
            answer.assign(4, 0); // no EISA bus
        } else if (code == kSetVoltage || code == kShutdown) {
            // Nothing of a server of today needs either: taken, with nothing done.
        } else {
            // Limits and the I/O BUS value would change the hardware's behaviour, which this
            // provider never does; any other code it does not know.
            errno = kErrorInvalidFunction;
            return false;
        }
    }
    const std::size_t n = std::min(answer.size(), output.size());
    std::copy_n(answer.begin(), n, output.begin());
    bytesReturned = static_cast<std::uint32_t>(n);
    if (n < answer.size()) {
        errno = kErrorMoreData;
        return false;
    }
    return true;
}

} // namespace farlink::platform
