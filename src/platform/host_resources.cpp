#include "platform/host_resources.h"

#include "platform/key_tree.h"
#include "platform/key_tree_model.h"
#include "platform/names.h"

#include <array>
#include <cstring>

namespace farlink::platform {

namespace {

constexpr std::string_view kOtherDrivers = "OtherDrivers";
constexpr std::string_view kSystemResources = "System Resources";
constexpr std::string_view kHal = "Hardware Abstraction Layer";

constexpr std::uint32_t kInterfaceIsa = 1;
constexpr std::uint32_t kInterfacePci = 5;

constexpr std::uint8_t kTypePort = 1;
constexpr std::uint8_t kTypeInterrupt = 2;
constexpr std::uint8_t kTypeMemory = 3;
constexpr std::uint8_t kTypeDma = 4;

constexpr std::uint16_t kPortIo = 0x0001;           // CM_RESOURCE_PORT_IO
constexpr std::uint16_t kInterruptLatched = 0x0001; // CM_RESOURCE_INTERRUPT_LATCHED
constexpr std::uint16_t kInterruptMessage = 0x0002; // CM_RESOURCE_INTERRUPT_MESSAGE
constexpr std::uint64_t kFourGiB = 0x1'0000'0000ull;

using Descriptor = std::array<std::uint8_t, 16>;

void put16(std::uint8_t* at, std::uint16_t v) {
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
}

void put32(std::uint8_t* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

Descriptor descriptor(std::uint8_t type, std::uint16_t flags, std::uint32_t a, std::uint32_t b,
                      std::uint32_t c) {
    Descriptor d{};
    d[0] = type;
    put16(&d[2], flags);
    put32(&d[4], a);
    put32(&d[8], b);
    put32(&d[12], c);
    return d;
}

// A range the 32-bit records can carry: wholly below 4 GiB, with a length that fits 32 bits.
bool below4GiB(std::uint64_t start, std::uint64_t end) {
    return start <= end && end < kFourGiB && end - start < 0xFFFF'FFFFull;
}

Descriptor rangeDescriptor(std::uint8_t type, std::uint64_t start, std::uint64_t end) {
    return descriptor(type, type == kTypePort ? kPortIo : 0, static_cast<std::uint32_t>(start), 0,
                      static_cast<std::uint32_t>(end - start + 1));
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::uint32_t hexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint32_t>(c - '0');
    return static_cast<std::uint32_t>(lowerAscii(c) - 'a' + 10);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The kernel's device name of a PCI function: "0000:00:1f.2".
bool isPciAddress(std::string_view name) {
    if (name.size() != 12 || name[4] != ':' || name[7] != ':' || name[10] != '.') return false;
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9, 11})
        if (!isHex(name[i])) return false;
    return true;
}

std::uint32_t pciBus(std::string_view address) {
    return isPciAddress(address) ? hexValue(address[5]) * 16 + hexValue(address[6]) : 0;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

// Takes the next line (without its line end) off the front of `text`.
std::string_view nextLine(std::string_view& text) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    return line;
}

// Takes the next blank-separated token off the front of `line`.
std::string_view nextToken(std::string_view& line) {
    line = trim(line);
    std::size_t end = 0;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t')
        ++end;
    const std::string_view token = line.substr(0, end);
    line.remove_prefix(end);
    return token;
}

bool allDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!isDigit(c)) return false;
    return true;
}

std::uint32_t decimal(std::string_view digits) {
    std::uint32_t v = 0;
    for (char c : digits) {
        if (!isDigit(c) || v > 0x0FFF'FFFF) break;
        v = v * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return v;
}

// Where a range of /proc/iomem or /proc/ioports belongs. The reader of the map passes over the
// system's own memory and the bus windows by these class names; everything else is an owner.
std::string_view rangeClass(std::string_view name) {
    static constexpr std::string_view kSystem[] = {
        "System RAM",       "System ROM",        "Video ROM",
        "Adapter ROM",      "Reserved",          "ACPI Tables",
        "RAM buffer",       "Crash kernel",      "ACPI Non-volatile Storage",
        "Soft Reserved",    "Persistent Memory", "Persistent Memory (legacy)",
        "Unknown E820 type"};
    for (std::string_view system : kSystem)
        if (sameName(name, system)) return kSystemResources;
    if (startsWith(name, "Kernel ")) return kSystemResources;
    for (std::string_view hal : {"PCI Bus ", "PCI conf", "PCI MMCONFIG", "PCI ECAM"})
        if (startsWith(name, hal)) return kHal;
    return kOtherDrivers;
}

// One line of /proc/ioports or /proc/iomem: "<2 blanks per level>start-end : name".
struct RangeLine {
    std::size_t depth = 0;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
    std::string_view name;
};

bool parseRangeLine(std::string_view line, RangeLine& out) {
    std::size_t at = 0;
    while (at < line.size() && line[at] == ' ')
        ++at;
    out.depth = at / 2;
    auto hex = [&](std::uint64_t& value) {
        const std::size_t first = at;
        value = 0;
        while (at < line.size() && isHex(line[at])) {
            if (at - first == 16) return false;
            value = value << 4 | hexValue(line[at++]);
        }
        return at > first;
    };
    if (!hex(out.start) || at >= line.size() || line[at++] != '-' || !hex(out.end)) return false;
    const std::string_view rest = line.substr(at);
    if (!startsWith(rest, " : ")) return false;
    out.name = trim(rest.substr(3));
    return true;
}

// Without the privilege to see addresses the kernel prints every range as 0-0: such a text
// says who holds something but not what, and gives no ranges.
bool addressesShown(std::string_view text) {
    RangeLine range;
    while (!text.empty())
        if (parseRangeLine(nextLine(text), range) && (range.start != 0 || range.end != 0))
            return true;
    return false;
}

// Calls visit(range, pciAncestor) for every line, with the nearest enclosing PCI function's
// name (empty when none), which tells a device's range from a system one.
template <class Visit> void forEachRange(std::string_view text, Visit&& visit) {
    std::array<std::string_view, 16> enclosing{};
    RangeLine range;
    while (!text.empty()) {
        if (!parseRangeLine(nextLine(text), range) || range.depth >= enclosing.size()) continue;
        enclosing[range.depth] = range.name;
        std::string_view pci;
        for (std::size_t d = range.depth; d-- > 0;)
            if (isPciAddress(enclosing[d])) {
                pci = enclosing[d];
                break;
            }
        visit(range, pci);
    }
}

// A line of /proc/interrupts served by a legacy interrupt chip, with the chip's pin: the level
// a bus-relative resource list records. Lines of message-signalled vectors have no pin.
struct LineInterrupt {
    std::uint32_t irq = 0;
    std::uint32_t pin = 0;
    bool latched = false;
    std::string_view actions; // ", "-separated names of the handlers
};

bool legacyChip(std::string_view chip) {
    return chip == "IO-APIC" || chip == "IR-IO-APIC" || startsWith(chip, "XT-PIC");
}

std::vector<LineInterrupt> parseInterrupts(std::string_view text) {
    std::vector<LineInterrupt> lines;
    if (text.empty()) return lines;
    std::size_t cpus = 0;
    for (std::string_view header = nextLine(text); !header.empty();)
        if (startsWith(nextToken(header), "CPU")) ++cpus;
    while (!text.empty()) {
        std::string_view line = trim(nextLine(text));
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !allDigits(line.substr(0, colon))) continue;
        LineInterrupt entry;
        entry.irq = decimal(line.substr(0, colon));
        line.remove_prefix(colon + 1);
        std::string_view chip = nextToken(line);
        for (std::size_t counted = 0; counted < cpus && allDigits(chip); ++counted)
            chip = nextToken(line);
        if (!legacyChip(chip)) continue;
        // "4-edge": the pin in the chip's domain and the flow handler; without a domain the
        // 8259's lines are numbered by their pins.
        std::string_view rest = line;
        const std::string_view pinToken = nextToken(rest);
        if (!pinToken.empty() && isDigit(pinToken.front())) {
            std::size_t digits = 0;
            while (digits < pinToken.size() && isDigit(pinToken[digits]))
                ++digits;
            entry.pin = decimal(pinToken.substr(0, digits));
            entry.latched = pinToken.substr(digits) == "-edge";
            std::string_view afterPin = rest;
            const std::string_view trigger = nextToken(afterPin);
            if (trigger == "Edge" || trigger == "Level") {
                entry.latched = trigger == "Edge";
                rest = afterPin;
            }
            line = rest;
        } else if (startsWith(chip, "XT-PIC")) {
            entry.pin = entry.irq;
            entry.latched = true;
        } else {
            continue;
        }
        entry.actions = trim(line);
        lines.push_back(entry);
    }
    return lines;
}

// The lists being built, in the order their keys are made.
class Lists {
  public:
    struct List {
        std::string_view classKey;
        std::string_view owner;
        std::string value;
        std::string_view pci; // a controller's PCI function; empty for the other owners
        bool controller = false;
        std::uint32_t interfaceType = kInterfaceIsa;
        std::uint32_t bus = 0;
        std::vector<Descriptor> descriptors;
    };

    List& addController(const ControllerResources& c) {
        List& list = items_.emplace_back();
        list.classKey = kOtherDrivers;
        list.owner = c.driver;
        list.value = "\\Device\\" + c.device + ".Raw";
        list.pci = c.pciAddress;
        list.controller = true;
        list.interfaceType = c.pciAddress.empty() ? kInterfaceIsa : kInterfacePci;
        list.bus = pciBus(c.pciAddress);
        return list;
    }

    // The list of a procfs owner. A disk driver's own claims join the list of its controller
    // (the one on the enclosing PCI function, else its first), so that each controller stays one
    // list and the driver gains no list that names no controller.
    List& owner(std::string_view classKey, std::string_view name, std::string_view pci) {
        List* firstController = nullptr;
        for (List& list : items_) {
            if (list.classKey != classKey || !sameName(list.owner, name)) continue;
            if (!list.controller) return list;
            if (firstController == nullptr) firstController = &list;
            if (!pci.empty() && list.pci == pci) return list;
        }
        if (firstController != nullptr) return *firstController;
        List& list = items_.emplace_back();
        list.classKey = classKey;
        list.owner = name;
        list.value.reserve(name.size() + 12);
        list.value.append("\\Device\\").append(name).append(".Raw");
        const std::string_view device = isPciAddress(name) ? name : pci;
        if (!device.empty()) {
            list.interfaceType = kInterfacePci;
            list.bus = pciBus(device);
        }
        return list;
    }

    static void add(List& list, const Descriptor& d) {
        for (const Descriptor& held : list.descriptors)
            if (held == d) return;
        list.descriptors.push_back(d);
    }

    void render(TreeKey& map) const {
        for (const List& list : items_) {
            std::string keyName(list.owner);
            // A backslash would split the key's name into a path.
            for (char& c : keyName)
                if (c == '\\') c = '/';
            std::vector<std::uint8_t> data(20 + 16 * list.descriptors.size());
            put32(&data[0], 1);
            put32(&data[4], list.interfaceType);
            put32(&data[8], list.bus);
            put16(&data[12], 1); // version
            put16(&data[14], 1); // revision
            put32(&data[16], static_cast<std::uint32_t>(list.descriptors.size()));
            std::size_t at = 20;
            for (const Descriptor& d : list.descriptors) {
                std::memcpy(&data[at], d.data(), d.size());
                at += d.size();
            }
            map.child(list.classKey)
                .child(keyName)
                .set(list.value, kRegResourceList, std::move(data));
        }
    }

  private:
    std::vector<List> items_;
};

void addRanges(Lists& lists, std::string_view text, std::uint8_t type) {
    if (text.empty() || !addressesShown(text)) return;
    forEachRange(text, [&](const RangeLine& range, std::string_view pci) {
        if (range.name.empty() || !below4GiB(range.start, range.end)) return;
        const std::string_view cls = rangeClass(range.name);
        Lists::add(lists.owner(cls, range.name, cls == kOtherDrivers ? pci : std::string_view{}),
                   rangeDescriptor(type, range.start, range.end));
    });
}

Descriptor interruptDescriptor(const LineInterrupt& line) {
    // Raw lists are bus-relative: the level and the vector are both the chip's pin.
    return descriptor(kTypeInterrupt, line.latched ? kInterruptLatched : 0, line.pin, line.pin, 0);
}

} // namespace

void addResourceMap(TreeKey& root, const ResourceTexts& texts,
                    std::span<const ControllerResources> controllers, std::uint32_t resourceTypes) {
    const std::vector<LineInterrupt> interrupts = parseInterrupts(texts.interrupts);
    Lists lists;
    for (std::size_t i = 0; i < controllers.size(); ++i) {
        const ControllerResources& c = controllers[i];
        Lists::List& list = lists.addController(c);
        // Several ports of one controller (one per SATA link, say) share its PCI function: the
        // first of them holds its resources, as they are claimed once.
        bool claimed = false;
        for (std::size_t j = 0; j < i && !claimed; ++j)
            claimed = !c.pciAddress.empty() && controllers[j].pciAddress == c.pciAddress &&
                      controllers[j].driver == c.driver;
        if (claimed) continue;
        for (const PciRange& r : c.ranges)
            if ((resourceTypes & resourceTypeBit(r.type)) != 0 && below4GiB(r.start, r.end))
                Lists::add(list, rangeDescriptor(r.type, r.start, r.end));
        if (c.irq > 0 && (resourceTypes & resourceTypeBit(kTypeInterrupt)) != 0)
            for (const LineInterrupt& line : interrupts)
                if (line.irq == static_cast<std::uint32_t>(c.irq))
                    Lists::add(list, interruptDescriptor(line));
        // A message-signalled interrupt has no pin: its level is the kernel's number for it.
        if (c.irq <= 0 && c.messageIrq > 0 &&
            (resourceTypes & resourceTypeBit(kTypeInterrupt)) != 0) {
            const auto number = static_cast<std::uint32_t>(c.messageIrq);
            Lists::add(list, descriptor(kTypeInterrupt, kInterruptMessage, number, number, 0));
        }
    }

    addRanges(lists, texts.ioports, kTypePort);
    addRanges(lists, texts.iomem, kTypeMemory);

    for (const LineInterrupt& line : interrupts) {
        std::string_view actions = line.actions;
        while (!actions.empty()) {
            const std::size_t comma = actions.find(", ");
            const std::string_view name = trim(actions.substr(0, comma));
            actions =
                comma == std::string_view::npos ? std::string_view{} : actions.substr(comma + 2);
            if (!name.empty())
                Lists::add(lists.owner(kOtherDrivers, name, {}), interruptDescriptor(line));
        }
    }

    for (std::string_view text = texts.dma; !text.empty();) {
        const std::string_view line = trim(nextLine(text));
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || !allDigits(line.substr(0, colon))) continue;
        const std::string_view name = trim(line.substr(colon + 1));
        if (!name.empty())
            Lists::add(lists.owner(kOtherDrivers, name, {}),
                       descriptor(kTypeDma, 0, decimal(line.substr(0, colon)), 0, 0));
    }

    lists.render(root.path("HARDWARE\\RESOURCEMAP"));
}

} // namespace farlink::platform
