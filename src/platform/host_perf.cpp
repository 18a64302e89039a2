#include "platform/host_perf.h"

#include "platform/perf_layout.h"
#include "platform/perf_names.h"
#include "platform/text_lines.h"

#include <algorithm>
#include <array>

namespace farlink::platform {

namespace pl = perf_layout;

namespace {

// ---------------------------------------------------------------------------------------------
// Reading the kernel's texts

// The next blank-separated word of `text`, which is advanced past it.
std::string_view nextWord(std::string_view& text) {
    std::size_t start = 0;
    while (start < text.size() && (text[start] == ' ' || text[start] == '\t'))
        ++start;
    std::size_t end = start;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t')
        ++end;
    const std::string_view word = text.substr(start, end - start);
    text.remove_prefix(end);
    return word;
}

// A decimal number; false for anything else. A number too large for 64 bits saturates: a
// counter never goes that far, and a hand-made text must not wrap.
bool parseNumber(std::string_view word, std::uint64_t& value) {
    if (word.empty()) return false;
    value = 0;
    for (char c : word) {
        if (c < '0' || c > '9') return false;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
    }
    return true;
}

// The numbers after the first word of a line, at most `out.size()`; the count read.
std::size_t lineNumbers(std::string_view rest, std::span<std::uint64_t> out) {
    std::size_t n = 0;
    while (n < out.size()) {
        std::uint64_t value = 0;
        if (!parseNumber(nextWord(rest), value)) break;
        out[n++] = value;
    }
    return n;
}

struct CpuTimes {
    std::uint32_t number = 0;             // the N of "cpuN"
    std::array<std::uint64_t, 8> ticks{}; // user nice system idle iowait irq softirq steal
};

struct StatFacts {
    bool haveTotal = false;
    CpuTimes total;
    std::vector<CpuTimes> cpus;
    bool haveInterrupts = false, haveSwitches = false;
    std::uint64_t interrupts = 0, switches = 0;
};

StatFacts readStat(std::string_view text) {
    StatFacts facts;
    LineReader lines(text);
    std::string_view line;
    while (lines.next(line)) {
        std::string_view rest = line;
        const std::string_view key = nextWord(rest);
        if (key == "cpu") {
            facts.haveTotal = lineNumbers(rest, facts.total.ticks) >= 4;
        } else if (key.size() > 3 && key.substr(0, 3) == "cpu") {
            std::uint64_t number = 0;
            CpuTimes cpu;
            if (!parseNumber(key.substr(3), number) || number > UINT32_MAX ||
                lineNumbers(rest, cpu.ticks) < 4)
                continue;
            cpu.number = static_cast<std::uint32_t>(number);
            facts.cpus.push_back(cpu);
        } else if (key == "intr") {
            facts.haveInterrupts = parseNumber(nextWord(rest), facts.interrupts);
        } else if (key == "ctxt") {
            facts.haveSwitches = parseNumber(nextWord(rest), facts.switches);
        }
    }
    return facts;
}

// The value of `key` in a "key value" or "key: value kB" text; false when absent.
bool keyedNumber(std::string_view text, std::string_view key, std::uint64_t& value) {
    LineReader lines(text);
    std::string_view line;
    while (lines.next(line)) {
        std::string_view rest = line;
        std::string_view word = nextWord(rest);
        if (!word.empty() && word.back() == ':') word.remove_suffix(1);
        if (word == key) return parseNumber(nextWord(rest), value);
    }
    return false;
}

// Per CPU number, the sum of its column of /proc/interrupts; empty when the text has no header.
std::vector<std::pair<std::uint32_t, std::uint64_t>> interruptsPerCpu(std::string_view text) {
    std::vector<std::pair<std::uint32_t, std::uint64_t>> columns;
    LineReader lines(text);
    std::string_view line;
    if (!lines.next(line)) return columns;
    for (std::string_view rest = line;;) {
        const std::string_view word = nextWord(rest);
        if (word.empty()) break;
        std::uint64_t number = 0;
        if (word.size() <= 3 || word.substr(0, 3) != "CPU" ||
            !parseNumber(word.substr(3), number) || number > UINT32_MAX)
            return {};
        columns.emplace_back(static_cast<std::uint32_t>(number), 0);
    }
    while (lines.next(line)) {
        std::string_view rest = line;
        nextWord(rest); // "NN:", "NMI:", ...
        // Rows with fewer numbers than CPUs (ERR, MIS) are totals of their own, not per CPU.
        std::vector<std::uint64_t> counts(columns.size());
        if (lineNumbers(rest, counts) != columns.size()) continue;
        for (std::size_t c = 0; c < columns.size(); ++c)
            columns[c].second += counts[c];
    }
    return columns;
}

struct DiskStats {
    bool found = false;
    std::uint64_t reads = 0, sectorsRead = 0, msReading = 0;
    std::uint64_t writes = 0, sectorsWritten = 0, msWriting = 0;
};

DiskStats toDiskStats(std::string_view rest) {
    std::array<std::uint64_t, 8> f{};
    DiskStats stats;
    if (lineNumbers(rest, f) < 8) return stats;
    stats.found = true;
    stats.reads = f[0];
    stats.sectorsRead = f[2];
    stats.msReading = f[3];
    stats.writes = f[4];
    stats.sectorsWritten = f[6];
    stats.msWriting = f[7];
    return stats;
}

// The /proc/diskstats line of a device, by name or by device numbers.
DiskStats diskStatsByName(std::string_view text, std::string_view name) {
    LineReader lines(text);
    std::string_view line;
    while (lines.next(line)) {
        std::string_view rest = line;
        nextWord(rest);
        nextWord(rest);
        if (nextWord(rest) == name) return toDiskStats(rest);
    }
    return {};
}

DiskStats diskStatsByNumber(std::string_view text, unsigned major, unsigned minor) {
    LineReader lines(text);
    std::string_view line;
    while (lines.next(line)) {
        std::string_view rest = line;
        std::uint64_t a = 0, b = 0;
        if (!parseNumber(nextWord(rest), a) || !parseNumber(nextWord(rest), b)) continue;
        if (a != major || b != minor) continue;
        nextWord(rest);
        return toDiskStats(rest);
    }
    return {};
}

// Clock ticks in 100-ns units, without overflow for any tick count a kernel reaches.
std::uint64_t ticksTo100ns(std::uint64_t ticks, long ticksPerSecond) {
    const auto hz = static_cast<std::uint64_t>(ticksPerSecond > 0 ? ticksPerSecond : 100);
    return ticks / hz * 10'000'000 + ticks % hz * 10'000'000 / hz;
}

// ---------------------------------------------------------------------------------------------
// Writing the block

struct CounterDef {
    std::uint32_t index = 0;
    std::uint32_t type = 0;
};

std::span<std::uint8_t> bytes(std::vector<std::uint8_t>& block) {
    return {block.data(), block.size()};
}

std::size_t appendZeros(std::vector<std::uint8_t>& block, std::size_t count) {
    const std::size_t at = block.size();
    block.resize(at + count, 0);
    return at;
}

// A UTF-16 text with its terminator, padded to 8 bytes; returns the bytes of the text.
std::size_t appendWideName(std::vector<std::uint8_t>& block, std::string_view name) {
    const std::size_t start = block.size();
    for (char c : name) {
        // Names are ASCII here (CPU numbers, device names, mount points); any other byte is
        // shown as '?' rather than as half of a character.
        block.push_back(static_cast<unsigned char>(c) < 0x80 ? static_cast<std::uint8_t>(c) : '?');
        block.push_back(0);
    }
    block.push_back(0);
    block.push_back(0);
    const std::size_t length = block.size() - start;
    appendZeros(block, (8 - block.size() % 8) % 8);
    return length;
}

class ObjectWriter {
  public:
    ObjectWriter(std::vector<std::uint8_t>& block, std::uint32_t titleIndex,
                 std::span<const CounterDef> counters, bool hasInstances, std::uint64_t perfTime)
        : block_(block), counters_(counters), hasInstances_(hasInstances) {
        start_ = appendZeros(block_, pl::kObjectSize);
        auto b = bytes(block_);
        pl::putWord32(b, start_ + pl::kObjectHeaderLength, pl::kObjectSize);
        pl::putWord32(b, start_ + pl::kObjectNameTitleIndex, titleIndex);
        pl::putWord32(b, start_ + pl::kObjectHelpTitleIndex, titleIndex + 1);
        pl::putWord32(b, start_ + pl::kObjectDetailLevel, pl::kDetailNovice);
        pl::putWord32(b, start_ + pl::kObjectNumCounters,
                      static_cast<std::uint32_t>(counters.size()));
        pl::putWord64(b, start_ + pl::kObjectPerfTime, perfTime);
        pl::putWord64(b, start_ + pl::kObjectPerfFreq, kHostPerfFreq);
        for (std::size_t j = 0; j < counters.size(); ++j) {
            const std::size_t at = appendZeros(block_, pl::kCounterDefinitionSize);
            auto d = bytes(block_);
            const bool large = (counters[j].type & pl::kSizeMask) == pl::kSizeLarge;
            pl::putWord32(d, at + pl::kCounterByteLength, pl::kCounterDefinitionSize);
            pl::putWord32(d, at + pl::kCounterNameTitleIndex, counters[j].index);
            pl::putWord32(d, at + pl::kCounterHelpTitleIndex, counters[j].index + 1);
            pl::putWord32(d, at + pl::kCounterDetailLevel, pl::kDetailNovice);
            pl::putWord32(d, at + pl::kCounterType, counters[j].type);
            pl::putWord32(d, at + pl::kCounterSize, large ? 8 : 4);
            pl::putWord32(d, at + pl::kCounterOffset, valueOffset(j));
        }
        pl::putWord32(bytes(block_), start_ + pl::kObjectDefinitionLength,
                      static_cast<std::uint32_t>(block_.size() - start_));
    }

    void instance(std::string_view name, std::span<const std::uint64_t> values) {
        const std::size_t at = appendZeros(block_, pl::kInstanceSize);
        const std::size_t nameLength = appendWideName(block_, name);
        auto b = bytes(block_);
        pl::putWord32(b, at + pl::kInstanceByteLength,
                      static_cast<std::uint32_t>(block_.size() - at));
        pl::putWord32(b, at + pl::kInstanceUniqueId, 0xFFFFFFFF); // PERF_NO_UNIQUE_ID
        pl::putWord32(b, at + pl::kInstanceNameOffset, pl::kInstanceSize);
        pl::putWord32(b, at + pl::kInstanceNameLength, static_cast<std::uint32_t>(nameLength));
        counterBlock(values);
        ++instances_;
    }

    void values(std::span<const std::uint64_t> values) { counterBlock(values); }

    void finish() {
        auto b = bytes(block_);
        pl::putWord32(b, start_ + pl::kObjectTotalByteLength,
                      static_cast<std::uint32_t>(block_.size() - start_));
        pl::putWord32(b, start_ + pl::kObjectNumInstances,
                      hasInstances_ ? instances_ : static_cast<std::uint32_t>(pl::kNoInstances));
    }

  private:
    // Every value takes 8 bytes after the block's length word and its padding, so that the
    // 64-bit ones stay aligned.
    static std::uint32_t valueOffset(std::size_t j) {
        return static_cast<std::uint32_t>(8 + 8 * j);
    }

    void counterBlock(std::span<const std::uint64_t> values) {
        const std::size_t length = 8 + 8 * counters_.size();
        const std::size_t at = appendZeros(block_, length);
        auto b = bytes(block_);
        pl::putWord32(b, at + pl::kCounterBlockByteLength, static_cast<std::uint32_t>(length));
        for (std::size_t j = 0; j < counters_.size() && j < values.size(); ++j) {
            if ((counters_[j].type & pl::kSizeMask) == pl::kSizeLarge)
                pl::putWord64(b, at + valueOffset(j), values[j]);
            else
                pl::putWord32(b, at + valueOffset(j), static_cast<std::uint32_t>(values[j]));
        }
    }

    std::vector<std::uint8_t>& block_;
    std::span<const CounterDef> counters_;
    bool hasInstances_;
    std::size_t start_ = 0;
    std::uint32_t instances_ = 0;
};

// The four processor time shares of a line of /proc/stat, in 100-ns units divided by `share`.
struct CpuShares {
    std::uint64_t idle, privileged, user, interrupt;
};

CpuShares cpuShares(const CpuTimes& cpu, long hz, std::uint64_t share) {
    const auto& t = cpu.ticks; // user nice system idle iowait irq softirq steal
    auto to = [&](std::uint64_t ticks) { return ticksTo100ns(ticks, hz) / share; };
    return {to(t[3] + t[4]), to(t[2] + t[5] + t[6]), to(t[0] + t[1]), to(t[5] + t[6])};
}

void buildSystem(const HostPerfSources& s, const StatFacts& stat, std::uint64_t perfTime,
                 std::vector<std::uint8_t>& block) {
    std::vector<CounterDef> defs;
    std::vector<std::uint64_t> values;
    if (stat.haveTotal && !stat.cpus.empty()) {
        const CpuShares shares = cpuShares(stat.total, s.ticksPerSecond, stat.cpus.size());
        defs.push_back({perfIndex("% Total Processor Time"), pl::k100NsecTimerInv});
        values.push_back(shares.idle);
        defs.push_back({perfIndex("% Total Privileged Time"), pl::k100NsecTimer});
        values.push_back(shares.privileged);
        defs.push_back({perfIndex("% Total User Time"), pl::k100NsecTimer});
        values.push_back(shares.user);
        defs.push_back({perfIndex("% Total Interrupt Time"), pl::k100NsecTimer});
        values.push_back(shares.interrupt);
    }
    if (stat.haveInterrupts) {
        defs.push_back({perfIndex("Total Interrupts/sec"), pl::kCounterBulkCount});
        values.push_back(stat.interrupts);
    }
    if (stat.haveSwitches) {
        defs.push_back({perfIndex("Context Switches/sec"), pl::kCounterBulkCount});
        values.push_back(stat.switches);
    }
    ObjectWriter object(block, perfIndex("System"), defs, false, perfTime);
    object.values(values);
    object.finish();
}

void buildMemory(const HostPerfSources& s, std::uint64_t perfTime,
                 std::vector<std::uint8_t>& block) {
    std::vector<CounterDef> defs;
    std::vector<std::uint64_t> values;
    std::uint64_t kb = 0;
    if (keyedNumber(s.meminfo, "MemAvailable", kb) || keyedNumber(s.meminfo, "MemFree", kb)) {
        defs.push_back({perfIndex("Available Bytes"), pl::kCounterLargeRawCount});
        values.push_back(kb * 1024);
    }
    auto rate = [&](std::string_view key, std::uint32_t index, std::uint64_t& n) {
        if (!keyedNumber(s.vmstat, key, n)) return false;
        defs.push_back({index, pl::kCounterBulkCount});
        values.push_back(n);
        return true;
    };
    std::uint64_t n = 0, in = 0, out = 0;
    rate("pgfault", perfIndex("Page Faults/sec"), n);
    rate("pgmajfault", perfIndex("Page Reads/sec"), n);
    const bool haveIn = rate("pswpin", perfIndex("Pages Input/sec"), in);
    const bool haveOut = rate("pswpout", perfIndex("Pages Output/sec"), out);
    if (haveIn && haveOut) {
        defs.push_back({perfIndex("Pages/sec"), pl::kCounterBulkCount});
        values.push_back(in + out);
    }
    ObjectWriter object(block, perfIndex("Memory"), defs, false, perfTime);
    object.values(values);
    object.finish();
}

void buildProcessor(const HostPerfSources& s, const StatFacts& stat, std::uint64_t perfTime,
                    std::vector<std::uint8_t>& block) {
    const auto interrupts = interruptsPerCpu(s.interrupts);
    std::vector<CounterDef> defs = {
        {perfIndex("% Processor Time"), pl::k100NsecTimerInv},
        {perfIndex("% Privileged Time"), pl::k100NsecTimer},
        {perfIndex("% User Time"), pl::k100NsecTimer},
        {perfIndex("% Interrupt Time"), pl::k100NsecTimer},
    };
    if (!interrupts.empty()) defs.push_back({perfIndex("Interrupts/sec"), pl::kCounterBulkCount});
    ObjectWriter object(block, perfIndex("Processor"), defs, true, perfTime);
    for (const CpuTimes& cpu : stat.cpus) {
        const CpuShares shares = cpuShares(cpu, s.ticksPerSecond, 1);
        std::uint64_t count = 0;
        for (const auto& [number, sum] : interrupts)
            if (number == cpu.number) count = sum;
        const std::array<std::uint64_t, 5> values = {shares.idle, shares.privileged, shares.user,
                                                     shares.interrupt, count};
        object.instance(std::to_string(cpu.number), values);
    }
    object.finish();
}

// The disk counters: each average follows its base counter, both under the average's index.
constexpr std::array<CounterDef, 21> kDiskCounters = {{
    {perfIndex("Avg. Disk Bytes/Read"), pl::kAverageBase},
    {perfIndex("Avg. Disk Bytes/Read"), pl::kAverageBulk},
    {perfIndex("Avg. Disk Bytes/Write"), pl::kAverageBase},
    {perfIndex("Avg. Disk Bytes/Write"), pl::kAverageBulk},
    {perfIndex("Avg. Disk Bytes/Transfer"), pl::kAverageBase},
    {perfIndex("Avg. Disk Bytes/Transfer"), pl::kAverageBulk},
    {perfIndex("Avg. Disk sec/Read"), pl::kAverageBase},
    {perfIndex("Avg. Disk sec/Read"), pl::kAverageTimer},
    {perfIndex("Avg. Disk sec/Write"), pl::kAverageBase},
    {perfIndex("Avg. Disk sec/Write"), pl::kAverageTimer},
    {perfIndex("Avg. Disk sec/Transfer"), pl::kAverageBase},
    {perfIndex("Avg. Disk sec/Transfer"), pl::kAverageTimer},
    {perfIndex("Disk Read Bytes/sec"), pl::kCounterBulkCount},
    {perfIndex("Disk Write Bytes/sec"), pl::kCounterBulkCount},
    {perfIndex("Disk Bytes/sec"), pl::kCounterBulkCount},
    {perfIndex("Disk Reads/sec"), pl::kCounterBulkCount},
    {perfIndex("Disk Writes/sec"), pl::kCounterBulkCount},
    {perfIndex("Disk Transfers/sec"), pl::kCounterBulkCount},
    {perfIndex("% Disk Read Time"), pl::k100NsecTimer},
    {perfIndex("% Disk Write Time"), pl::k100NsecTimer},
    {perfIndex("% Disk Time"), pl::k100NsecTimer},
}};

std::array<std::uint64_t, 21> diskValues(const DiskStats& d) {
    // diskstats counts 512-byte sectors whatever the device's own sector size.
    const std::uint64_t readBytes = d.sectorsRead * 512, writeBytes = d.sectorsWritten * 512;
    const std::uint64_t transfers = d.reads + d.writes;
    // Times: milliseconds into PerfFreq ticks (the averages) and 100-ns units (the shares).
    const std::uint64_t msBoth = d.msReading + d.msWriting;
    constexpr std::uint64_t kTicksPerMs = kHostPerfFreq / 1000;
    return {d.reads,
            readBytes,
            d.writes,
            writeBytes,
            transfers,
            readBytes + writeBytes,
            d.reads,
            d.msReading * kTicksPerMs,
            d.writes,
            d.msWriting * kTicksPerMs,
            transfers,
            msBoth * kTicksPerMs,
            readBytes,
            writeBytes,
            readBytes + writeBytes,
            d.reads,
            d.writes,
            transfers,
            d.msReading * 10'000,
            d.msWriting * 10'000,
            msBoth * 10'000};
}

void buildPhysicalDisks(const HostPerfSources& s, std::uint64_t perfTime,
                        std::vector<std::uint8_t>& block) {
    ObjectWriter object(block, perfIndex("PhysicalDisk"), kDiskCounters, true, perfTime);
    for (std::size_t n = 0; n < s.physicalDrives.size(); ++n) {
        // A drive keeps its place whether or not the kernel lists it: instance n is the n-th
        // hard disk of the disk table.
        const DiskStats stats = diskStatsByName(s.diskstats, s.physicalDrives[n]);
        object.instance(std::to_string(n) + " " + s.physicalDrives[n], diskValues(stats));
    }
    object.finish();
}

void buildLogicalDisks(const HostPerfSources& s, std::uint64_t perfTime,
                       std::vector<std::uint8_t>& block) {
    ObjectWriter object(block, perfIndex("LogicalDisk"), kDiskCounters, true, perfTime);
    for (const MountedVolume& volume : s.volumes) {
        const DiskStats stats = diskStatsByNumber(s.diskstats, volume.major, volume.minor);
        if (stats.found) object.instance(volume.mountPoint, diskValues(stats));
    }
    object.finish();
}

} // namespace

void buildHostPerfBlock(const HostPerfSources& s, std::span<const std::uint32_t> wanted,
                        std::vector<std::uint8_t>& block) {
    auto want = [&](std::uint32_t index) {
        return wanted.empty() || std::find(wanted.begin(), wanted.end(), index) != wanted.end();
    };
    block.clear();
    appendZeros(block, pl::kBlockSize);
    const std::size_t nameLength = appendWideName(block, s.systemName);
    const std::uint64_t perfTime = s.bootTime100ns / (10'000'000 / kHostPerfFreq);
    {
        auto b = bytes(block);
        for (std::size_t i = 0; i < 4; ++i)
            b[pl::kBlockSignature + 2 * i] = static_cast<std::uint8_t>("PERF"[i]);
        pl::putWord32(b, pl::kBlockLittleEndian, 1);
        pl::putWord32(b, pl::kBlockVersion, 1);
        pl::putWord32(b, pl::kBlockRevision, 1);
        pl::putWord32(b, pl::kBlockHeaderLength, static_cast<std::uint32_t>(block.size()));
        pl::putWord32(b, pl::kBlockDefaultObject, perfIndex("Processor"));
        pl::putWord64(b, pl::kBlockPerfTime, perfTime);
        pl::putWord64(b, pl::kBlockPerfFreq, kHostPerfFreq);
        pl::putWord64(b, pl::kBlockPerfTime100nSec, s.bootTime100ns);
        pl::putWord32(b, pl::kBlockSystemNameLength, static_cast<std::uint32_t>(nameLength));
        pl::putWord32(b, pl::kBlockSystemNameOffset, pl::kBlockSize);
    }
    std::uint32_t objects = 0;
    const bool needStat = want(perfIndex("System")) || want(perfIndex("Processor"));
    const StatFacts stat = needStat ? readStat(s.stat) : StatFacts{};
    if (want(perfIndex("System"))) {
        buildSystem(s, stat, perfTime, block);
        ++objects;
    }
    if (want(perfIndex("Memory"))) {
        buildMemory(s, perfTime, block);
        ++objects;
    }
    if (want(perfIndex("Processor"))) {
        buildProcessor(s, stat, perfTime, block);
        ++objects;
    }
    if (want(perfIndex("PhysicalDisk"))) {
        buildPhysicalDisks(s, perfTime, block);
        ++objects;
    }
    if (want(perfIndex("LogicalDisk"))) {
        buildLogicalDisks(s, perfTime, block);
        ++objects;
    }
    auto b = bytes(block);
    pl::putWord32(b, pl::kBlockTotalByteLength, static_cast<std::uint32_t>(block.size()));
    pl::putWord32(b, pl::kBlockNumObjectTypes, objects);
}

std::vector<std::uint32_t> wantedObjects(std::u16string_view objects) {
    std::vector<std::uint32_t> indices;
    std::uint64_t number = 0;
    bool inNumber = false;
    for (std::size_t i = 0; i <= objects.size(); ++i) {
        const char16_t c = i < objects.size() ? objects[i] : u' ';
        if (c >= u'0' && c <= u'9') {
            number = std::min<std::uint64_t>(number * 10 + (c - u'0'), UINT32_MAX);
            inNumber = true;
        } else if (c == u' ') {
            if (inNumber) indices.push_back(static_cast<std::uint32_t>(number));
            number = 0;
            inNumber = false;
        } else {
            return {}; // "Global", "Costly" or anything else: every object
        }
    }
    return indices;
}

std::vector<std::string> blockMountPoints(std::string_view mounts) {
    std::vector<std::string> points;
    LineReader lines(mounts);
    std::string_view line;
    while (lines.next(line)) {
        std::string_view rest = line;
        const std::string_view source = nextWord(rest);
        const std::string_view escaped = nextWord(rest);
        if (source.substr(0, 5) != "/dev/" || escaped.empty()) continue;
        // The kernel writes blanks, tabs, line feeds and backslashes of a path as \ooo.
        std::string point;
        for (std::size_t i = 0; i < escaped.size(); ++i) {
            if (escaped[i] == '\\' && i + 3 < escaped.size() &&
                std::all_of(escaped.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                            escaped.begin() + static_cast<std::ptrdiff_t>(i) + 4,
                            [](char c) { return c >= '0' && c <= '7'; })) {
                point += static_cast<char>((escaped[i + 1] - '0') * 64 +
                                           (escaped[i + 2] - '0') * 8 + (escaped[i + 3] - '0'));
                i += 3;
            } else {
                point += escaped[i];
            }
        }
        if (std::find(points.begin(), points.end(), point) == points.end())
            points.push_back(std::move(point));
    }
    return points;
}

} // namespace farlink::platform
