// The DMI structure table parser. The driver's answer is external data: every read below is
// bounded by the table's length, and the fields of a structure by its own formatted length.
#include "inventory/dmi.h"

#include "platform/console.h"

#include <algorithm>
#include <cstring>

namespace farlink::inventory {

std::array<std::uint8_t, kSummarySize> dmiSummary{};
std::uint32_t centralProcessorCount = 0;
std::uint32_t processorModelNibble = 0;
std::array<DmiTable, kDmiTableCount> dmiTables{};
std::array<DmiCell, kDmiScalarCount + 1> dmiScalars{};

namespace {

// Summary fields the parser fills that other readers do not name.
constexpr std::size_t kModulesCountedAt = 392;
constexpr std::size_t kModuleEntriesAt = 396;
constexpr std::size_t kModuleEntryCount = 16;
constexpr std::size_t kHighestBankAt = 460;
constexpr std::size_t kBanksAt = 464;
constexpr std::size_t kBankCount = 15;

constexpr std::uint8_t kEndOfTable = 255;
constexpr std::size_t kHeaderSize = 4;
constexpr std::uint32_t kMaxStrings = 255;
constexpr std::uint32_t kCentralProcessor = 3;
constexpr std::uint32_t kNoBank = 15;
constexpr std::uint32_t kFirstRowCountScalar = 25;

// Family codes 0 to 11. The driver may report newer families; they read as "Other", which is
// what a manager would show for a family this agent does not know by name.
constexpr std::array<const char*, 12> kFamilyNames = {"???",   "Other", "Unknown", "8086",
                                                      "80286", "80386", "80486",   "8087",
                                                      "80287", "80387", "80487",   "Pentium"};

constexpr std::array<const char*, 31> kConnectorNames = {"None",
                                                         "Centronics",
                                                         "Mini Centronics",
                                                         "Proprietary",
                                                         "DB25 pin male",
                                                         "DB25 pin female",
                                                         "DB15 pin male",
                                                         "DB15 pin female",
                                                         "DB9 pin male",
                                                         "DB9 pin female",
                                                         "RJ-11",
                                                         "RJ-45",
                                                         "50 Pin MiniSCSI",
                                                         "Mini-DIN",
                                                         "Micro-DIN",
                                                         "PS/2",
                                                         "Infrared",
                                                         "HP-HIL",
                                                         "Access Bus",
                                                         "SSA SCSI",
                                                         "Circular DIN-8 male",
                                                         "Circular DIN-8 female",
                                                         "On Board IDE",
                                                         "On Board Floppy",
                                                         "9 Pin Dual Inline",
                                                         "25 Pin Dual Inline",
                                                         "50 Pin Dual Inline",
                                                         "68 Pin Dual Inline",
                                                         "On board sound input from CD-ROM",
                                                         "Mini-Centronics Type-14",
                                                         "Mini-Centronics Type-26"};
constexpr std::array<const char*, 5> kConnectorNames160 = {"PC-98", "PC-98 Hireso", "PC-H98",
                                                           "PC-98 Note", "PC-98 Full"};

constexpr std::array<const char*, 28> kPortTypeNames = {"None",
                                                        "Parallel Port XT/AT Compatible",
                                                        "Parallel Port PS/2",
                                                        "Parallel Port ECP",
                                                        "Parallel Port EPP",
                                                        "Parallel Port ECP/EPP",
                                                        "Serial Port XT/AT Compatible",
                                                        "Serial Port 16450 Compatible",
                                                        "Serial Port 16550 Compatible",
                                                        "Serial Port 16550A Compatible",
                                                        "SCSI Port",
                                                        "MIDI Port",
                                                        "Joy stick port",
                                                        "Keyboard Port",
                                                        "Mouse Port",
                                                        "SSA SCSI",
                                                        "USB",
                                                        "FireWire",
                                                        "PCMCIA Type I",
                                                        "PCMCIA Type II",
                                                        "PCMCIA Type III",
                                                        "Cardbus",
                                                        "Access Bus Port",
                                                        "SCSI II",
                                                        "SCSI Wide",
                                                        "PC-98",
                                                        "PC-98 Hireso",
                                                        "PC-H98"};
constexpr std::array<const char*, 2> kPortTypeNames160 = {"8251 Compatible",
                                                          "8251 FIFO Compatible"};

struct BusName {
    std::uint32_t bit;
    const char* name;
};
constexpr std::array<BusName, 6> kBusNames = {
    {{4, "ISA "}, {5, "MCA "}, {6, "EISA "}, {7, "PCI "}, {8, "PCMCIA "}, {13, "VL-VESA "}}};

// One structure: its formatted area and the texts of its string set. A field beyond the
// formatted length reads as 0 and a string number beyond the string set as an empty text, so
// a short or inconsistent structure never reaches into its neighbour.
struct Structure {
    const std::uint8_t* bytes = nullptr;
    std::size_t length = 0;
    std::array<std::string_view, kMaxStrings> texts{};
    std::uint32_t textCount = 0;

    std::uint32_t byte(std::size_t at) const { return at < length ? bytes[at] : 0u; }
    std::uint32_t word(std::size_t at) const { return byte(at) | byte(at + 1) << 8; }
    std::uint32_t dword(std::size_t at) const { return word(at) | word(at + 2) << 16; }
    std::string_view text(std::size_t at) const {
        const std::uint32_t n = byte(at);
        return n == 0 || n > textCount ? std::string_view{} : texts[n - 1];
    }
};

DmiCell number(std::uint32_t value) {
    return {value, {}};
}
DmiCell textCell(std::string_view text) {
    return {0, text};
}

void putSummaryWord(std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        dmiSummary[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
std::uint32_t summaryWord(std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(dmiSummary[at + i]) << (8 * i);
    return value;
}

void setSummaryView(SummaryField field, std::string_view text) {
    setSummaryText(field, text.data(), text.size());
}

// The next free row of a table, with its value count set; nullptr when the table is full.
DmiRow* appendRow(DmiTableId table) {
    DmiTable& t = dmiTables[table];
    if (t.count >= kDmiTableCapacity[table]) return nullptr;
    DmiRow& row = t.rows[t.count++];
    row = DmiRow{};
    row[0] = number(kDmiRowWidth[table]);
    return &row;
}

enum class StringSet { complete, tooMany, runsPast };

// Collects the texts that follow the formatted area at `offset`; `end` becomes the offset of
// the next structure. Every text must end within the table, and so must the set's closing NUL.
StringSet collectStrings(const std::uint8_t* table, std::size_t length, std::size_t offset,
                         Structure& s, std::size_t& end) {
    s.textCount = 0;
    std::size_t p = offset;
    for (;;) {
        if (s.textCount == kMaxStrings) {
            platform::printText("Too many strings for one DMI structure\n");
            return StringSet::tooMany;
        }
        if (p >= length) return StringSet::runsPast;
        const void* nul = std::memchr(table + p, 0, length - p);
        if (nul == nullptr) return StringSet::runsPast;
        const std::size_t stop =
            static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - table);
        s.texts[s.textCount++] =
            std::string_view(reinterpret_cast<const char*>(table + p), stop - p);
        p = stop + 1;
        if (p >= length) return StringSet::runsPast;
        if (table[p] == 0) break;
    }
    end = p + 1;
    return StringSet::complete;
}

void takeBios(const Structure& s) {
    dmiScalars[1] = textCell(s.text(4));
    dmiScalars[2] = textCell(s.text(5));
    dmiScalars[3] = number(s.word(6));
    dmiScalars[4] = textCell(s.text(8));
    dmiScalars[5] = number(s.byte(9));
    dmiScalars[6] = number(s.dword(10));
    dmiScalars[7] = number(s.dword(14));
    setSummaryView(kSummaryBiosVersion, s.text(5));

    // Longer than the field when many buses are present; the field keeps what fits.
    std::array<char, 40> buses{};
    std::size_t used = 0;
    const std::uint32_t characteristics = s.dword(10);
    for (const BusName& bus : kBusNames) {
        if ((characteristics >> bus.bit & 1u) == 0) continue;
        const std::size_t n = std::strlen(bus.name);
        std::memcpy(buses.data() + used, bus.name, n);
        used += n;
    }
    setSummaryText(kSummaryBusTypes, buses.data(), used);
}

void takeFourTexts(const Structure& s, std::size_t firstScalar) {
    for (std::size_t i = 0; i < 4; ++i)
        dmiScalars[firstScalar + i] = textCell(s.text(4 + i));
}

void takeProcessor(const Structure& s) {
    DmiRow* row = appendRow(kDmiProcessors);
    if (row == nullptr) {
        platform::printText("Too many Processor Information\n");
        return;
    }
    DmiRow& r = *row;
    r[1] = textCell(s.text(4));
    r[2] = number(s.byte(5));
    r[3] = number(s.byte(6));
    r[4] = textCell(s.text(7));
    r[5] = DmiCell{}; // the processor ID is not served as text
    r[6] = textCell(s.text(16));
    r[7] = number(s.byte(17));
    r[8] = number(s.word(18));
    r[9] = number(s.word(20));
    r[10] = number(s.word(22));
    r[11] = number(s.byte(24));
    r[12] = number(s.byte(25));
    if (s.byte(5) != kCentralProcessor) return;

    dmiSummary[kSummaryProcessorSpeed.offset] = static_cast<std::uint8_t>(s.word(22));
    const std::uint32_t family = s.byte(6);
    const char* name = family < kFamilyNames.size() ? kFamilyNames[family] : "Other";
    std::array<char, 16> text{};
    const std::size_t n = std::strlen(name);
    std::memcpy(text.data(), name, n);
    text[n] = ' ';
    setSummaryText(kSummaryProcessorText, text.data(), n + 1);
    ++centralProcessorCount;
    processorModelNibble = s.byte(8) & 0xF0u;
}

void takeMemoryController(const Structure& s) {
    dmiScalars[16] = number(s.byte(4));
    dmiScalars[17] = number(s.byte(5));
    dmiScalars[18] = number(s.byte(6));
    dmiScalars[19] = number(s.byte(7));
    dmiScalars[20] = number(s.byte(8));
    dmiScalars[21] = number(s.word(9));
    dmiScalars[22] = number(s.word(11));
    dmiScalars[23] = number(s.byte(13));
    dmiScalars[24] = number(s.byte(14));
}

void takeMemoryModule(const Structure& s) {
    DmiRow* row = appendRow(kDmiMemoryModules);
    if (row == nullptr) {
        platform::printText("Too many Memory Module Information\n");
        return;
    }
    DmiRow& r = *row;
    r[1] = textCell(s.text(4));
    r[2] = number(s.byte(5));
    r[3] = number(s.byte(6));
    r[4] = number(s.word(7));
    r[5] = number(s.byte(9));
    r[6] = number(s.byte(10));
    r[7] = number(s.byte(11));

    const auto counted = static_cast<std::int32_t>(summaryWord(kModulesCountedAt));
    if (counted < 0 || static_cast<std::size_t>(counted) >= kModuleEntryCount) return;
    const std::uint32_t bank = s.byte(5) >> 4;
    if (bank == kNoBank) return;
    const std::uint32_t code = s.byte(10) & 0x7Fu;
    dmiSummary[kModuleEntriesAt + 4 * static_cast<std::size_t>(counted) + 1] =
        static_cast<std::uint8_t>(code);
    // 2^code MB in 32 bits: codes of 12 and more (the "not installed" family among them) add
    // nothing, as the bits above 32 are lost.
    const auto size = static_cast<std::uint32_t>((std::uint64_t{1} << (code % 32)) << 20);
    const std::size_t at = kBanksAt + 8 * bank; // bank number + 1, counted from bank 1
    putSummaryWord(at, summaryWord(at) + size);
    const auto highest = static_cast<std::int32_t>(summaryWord(kHighestBankAt));
    if (highest < static_cast<std::int32_t>(bank + 1)) putSummaryWord(kHighestBankAt, bank + 1);
    putSummaryWord(kModulesCountedAt, static_cast<std::uint32_t>(counted + 1));
}

void takeCache(const Structure& s) {
    DmiRow* row = appendRow(kDmiCaches);
    if (row == nullptr) {
        platform::printText("Too many Cache Information\n");
        return;
    }
    DmiRow& r = *row;
    r[1] = textCell(s.text(4));
    r[2] = number(s.word(5));
    r[3] = number(s.word(7));
    r[4] = number(s.word(9));
    r[5] = number(s.word(11));
    r[6] = number(s.word(13));

    const std::uint32_t installed = s.word(9);
    const std::uint32_t kb = (installed & 0x7FFFu) * ((installed & 0x8000u) != 0 ? 64u : 1u);
    switch ((s.byte(5) >> 5) & 3u) {
    case 0:
        putSummaryWord(kSummaryInternalCache.offset, kb);
        break;
    case 1:
        putSummaryWord(kSummaryExternalCache.offset, kb);
        break;
    default:
        break;
    }
}

void takePortConnector(const Structure& s) {
    DmiRow* row = appendRow(kDmiPortConnectors);
    if (row == nullptr) {
        platform::printText("Too many Port Connector Information\n");
        return;
    }
    DmiRow& r = *row;
    r[1] = textCell(s.text(4));
    r[2] = number(s.byte(5));
    r[3] = textCell(s.text(6));
    r[4] = number(s.byte(7));
    r[5] = number(s.byte(8));

    const std::string_view connector = connectorTypeName(s.byte(7));
    const std::string_view portType = portTypeName(s.byte(8));
    const std::uint32_t type = s.byte(8);
    if (type == 13) {
        setSummaryView(kSummaryKeyboardConnector, connector);
    } else if (type == 14) {
        setSummaryView(kSummaryMouseConnector, connector);
    } else if (type >= 1 && type <= 5) {
        setSummaryView(kSummaryParallelType, portType);
        setSummaryView(kSummaryParallelConnector, connector);
    } else if (type >= 6 && type <= 9) {
        // The first serial port takes slot 1; every later one takes slot 2.
        if (dmiSummary[kSummarySerial1Type.offset] == 0) {
            setSummaryView(kSummarySerial1Type, portType);
            setSummaryView(kSummarySerial1Connector, connector);
        } else {
            setSummaryView(kSummarySerial2Type, portType);
            setSummaryView(kSummarySerial2Connector, connector);
        }
    }
}

void takeSystemSlot(const Structure& s) {
    DmiRow* row = appendRow(kDmiSystemSlots);
    if (row == nullptr) {
        platform::printText("Too many System Slot Information\n");
        return;
    }
    DmiRow& r = *row;
    r[1] = textCell(s.text(4));
    r[2] = number(s.byte(5));
    r[3] = number(s.byte(6));
    r[4] = number(s.byte(7));
    r[5] = number(s.byte(8));
    r[6] = number(s.word(9));
    r[7] = number(s.byte(11));
}

// How many of n new rows fit; prints the table's message when not all do.
std::size_t rowsThatFit(DmiTableId table, std::size_t n, const char* message) {
    const std::size_t room = kDmiTableCapacity[table] - dmiTables[table].count;
    if (n <= room) return n;
    platform::printText(message);
    return room;
}

void takeOnBoardDevices(const Structure& s) {
    const std::size_t n = rowsThatFit(kDmiOnBoardDevices, (s.length - kHeaderSize) / 2,
                                      "Too many On Board Device Information\n");
    for (std::size_t i = 0; i < n; ++i) {
        DmiRow& r = *appendRow(kDmiOnBoardDevices);
        r[1] = number(s.byte(4 + 2 * i));
        r[2] = textCell(s.text(5 + 2 * i));
    }
}

void takeOemStrings(const Structure& s) {
    const std::size_t n = rowsThatFit(kDmiOemStrings, s.textCount, "Too many OEM Strings\n");
    for (std::size_t i = 0; i < n; ++i) {
        DmiRow& r = *appendRow(kDmiOemStrings);
        r[1] = textCell(s.texts[i]);
    }
}

bool handledType(std::uint8_t type) {
    return type <= 2 || (type >= 4 && type <= 11) || type == 13;
}

void publishRowCounts() {
    for (std::size_t t = 0; t < kDmiTableCount; ++t)
        dmiScalars[kFirstRowCountScalar + t] = number(dmiTables[t].count);
}

// Makes the bank sizes cumulative; the total is the cumulative size of the highest bank used.
void totalMemory() {
    const auto highest = static_cast<std::int32_t>(summaryWord(kHighestBankAt));
    const std::size_t last =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(highest, 0)), kBankCount);
    for (std::size_t bank = 2; bank <= last; ++bank) {
        const std::size_t at = kBanksAt + 8 * (bank - 1);
        putSummaryWord(at, summaryWord(at) + summaryWord(at - 8));
    }
    const bool any = static_cast<std::int32_t>(summaryWord(kModulesCountedAt)) > 0 && last > 0;
    putSummaryWord(kSummaryTotalMemory.offset, any ? summaryWord(kBanksAt + 8 * (last - 1)) : 0);
}

std::size_t cutShort() {
    publishRowCounts();
    return 0;
}

} // namespace

void setSummaryText(SummaryField field, const char* text, std::size_t length) {
    if (field.width == 0 || field.offset + field.width > dmiSummary.size()) return;
    const std::size_t n = text == nullptr ? 0 : std::min(length, field.width - 1);
    std::uint8_t* out = dmiSummary.data() + field.offset;
    if (n != 0) std::memcpy(out, text, n);
    std::fill(out + n, out + field.width, std::uint8_t{0});
}

const char* connectorTypeName(std::uint32_t code) {
    if (code < kConnectorNames.size()) return kConnectorNames[code];
    if (code >= 160 && code - 160 < kConnectorNames160.size())
        return kConnectorNames160[code - 160];
    return "Other";
}

const char* portTypeName(std::uint32_t code) {
    if (code < kPortTypeNames.size()) return kPortTypeNames[code];
    if (code >= 160 && code - 160 < kPortTypeNames160.size()) return kPortTypeNames160[code - 160];
    return "Other";
}

void resetDmi() {
    dmiSummary.fill(0);
    centralProcessorCount = 0;
    processorModelNibble = 0;
    for (DmiTable& t : dmiTables)
        t = DmiTable{};
    dmiScalars.fill(DmiCell{});
}

std::size_t parseDmiTable(const std::uint8_t* table, std::size_t length) {
    if (table == nullptr) return 0;
    Structure s;
    std::size_t offset = 0;
    while (offset < length && table[offset] != kEndOfTable) {
        const std::uint8_t type = table[offset];
        if (!handledType(type)) {
            platform::printText("Unknown DMI structure\n");
            return cutShort();
        }
        // The header must be whole, and the formatted area must hold the header and lie within
        // the table; a structure that claims more than remains cannot be walked past.
        if (length - offset < kHeaderSize || table[offset + 1] < kHeaderSize ||
            table[offset + 1] > length - offset) {
            platform::diagnostic("DMI structure runs past the table");
            return cutShort();
        }
        s.bytes = table + offset;
        s.length = table[offset + 1];
        s.textCount = 0;
        std::size_t next = offset + s.length;
        if (type != 5) {
            switch (collectStrings(table, length, next, s, next)) {
            case StringSet::complete:
                break;
            case StringSet::tooMany:
                return cutShort();
            case StringSet::runsPast:
                platform::diagnostic("DMI string set runs past the table");
                return cutShort();
            }
        }
        switch (type) {
        case 0:
            takeBios(s);
            break;
        case 1:
            takeFourTexts(s, 8);
            break;
        case 2:
            takeFourTexts(s, 12);
            setSummaryView(kSummaryProductName, s.text(5));
            break;
        case 4:
            takeProcessor(s);
            break;
        case 5:
            takeMemoryController(s);
            break;
        case 6:
            takeMemoryModule(s);
            break;
        case 7:
            takeCache(s);
            break;
        case 8:
            takePortConnector(s);
            break;
        case 9:
            takeSystemSlot(s);
            break;
        case 10:
            takeOnBoardDevices(s);
            break;
        case 11:
            takeOemStrings(s);
            break;
        default: // 13, the BIOS language: nothing is served from it
            break;
        }
        offset = next;
    }
    totalMemory();
    publishRowCounts();
    return offset + 1;
}

} // namespace farlink::inventory
