// Performance data blocks for the tests and the fuzzer's seeds, laid out by hand in the
// published PERF_DATA_BLOCK layout, with offsets that a test may then damage.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace farlink::testing {

struct PerfCounterDef {
    std::uint32_t index = 0;
    std::uint32_t type = 0;
};

struct PerfInstance {
    std::string name;
    std::vector<std::uint64_t> values; // one per counter, in definition order
};

struct PerfObject {
    std::uint32_t index = 0;
    std::vector<PerfCounterDef> counters;
    bool hasInstances = false;
    std::vector<PerfInstance> rows; // one row without a name when it has no instances
    std::int64_t perfTime = 0;
    std::int64_t perfFreq = 0;
};

struct PerfBlockTimes {
    std::int64_t perfTime = 0;
    std::int64_t perfFreq = 1000;
    std::int64_t time100ns = 0;
};

inline void putLe(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t value,
                  std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Where the objects begin in a block made by perfBlock (it carries no system name).
inline constexpr std::size_t kPerfFirstObject = 88;

// The block: header (88 bytes), then each object: 64-byte header, 40-byte counter definitions,
// then the instances (24-byte definition, UTF-16 name padded to 8, counter block) or the one
// counter block. A counter block is its 4-byte length, 4 bytes of padding and 8 bytes per
// counter; a 32-bit counter sits in the low half of its 8 bytes.
inline std::vector<std::uint8_t> perfBlock(const std::vector<PerfObject>& objects,
                                           PerfBlockTimes times = {}) {
    std::vector<std::uint8_t> out(88, 0);
    const char* signature = "PERF";
    for (int i = 0; i < 4; ++i)
        out[static_cast<std::size_t>(2 * i)] = static_cast<std::uint8_t>(signature[i]);
    putLe(out, 8, 1, 4);
    putLe(out, 12, 1, 4);
    putLe(out, 16, 1, 4);
    putLe(out, 24, 88, 4);
    putLe(out, 28, objects.size(), 4);
    putLe(out, 56, static_cast<std::uint64_t>(times.perfTime), 8);
    putLe(out, 64, static_cast<std::uint64_t>(times.perfFreq), 8);
    putLe(out, 72, static_cast<std::uint64_t>(times.time100ns), 8);
    for (const PerfObject& object : objects) {
        const std::size_t start = out.size();
        out.resize(start + 64 + 40 * object.counters.size(), 0);
        putLe(out, start + 4, 64 + 40 * object.counters.size(), 4);
        putLe(out, start + 8, 64, 4);
        putLe(out, start + 12, object.index, 4);
        putLe(out, start + 32, object.counters.size(), 4);
        putLe(out, start + 40, object.hasInstances ? object.rows.size() : std::uint64_t{0xFFFFFFFF},
              4);
        putLe(out, start + 48, static_cast<std::uint64_t>(object.perfTime), 8);
        putLe(out, start + 56, static_cast<std::uint64_t>(object.perfFreq), 8);
        for (std::size_t j = 0; j < object.counters.size(); ++j) {
            const std::size_t d = start + 64 + 40 * j;
            const bool large = (object.counters[j].type & 0x300) == 0x100;
            putLe(out, d, 40, 4);
            putLe(out, d + 4, object.counters[j].index, 4);
            putLe(out, d + 28, object.counters[j].type, 4);
            putLe(out, d + 32, large ? 8 : 4, 4);
            putLe(out, d + 36, 8 + 8 * j, 4);
        }
        for (const PerfInstance& row : object.rows) {
            if (object.hasInstances) {
                const std::size_t at = out.size();
                std::size_t nameBytes = 2 * (row.name.size() + 1);
                const std::size_t length = 24 + (nameBytes + 7) / 8 * 8;
                out.resize(at + length, 0);
                putLe(out, at, length, 4);
                putLe(out, at + 16, 24, 4);
                putLe(out, at + 20, nameBytes, 4);
                for (std::size_t c = 0; c < row.name.size(); ++c)
                    out[at + 24 + 2 * c] = static_cast<std::uint8_t>(row.name[c]);
            }
            const std::size_t block = out.size();
            const std::size_t length = 8 + 8 * object.counters.size();
            out.resize(block + length, 0);
            putLe(out, block, length, 4);
            for (std::size_t j = 0; j < object.counters.size() && j < row.values.size(); ++j)
                putLe(out, block + 8 + 8 * j, row.values[j], 8);
            if (!object.hasInstances) break;
        }
        putLe(out, start, out.size() - start, 4);
    }
    putLe(out, 20, out.size(), 4);
    return out;
}

// Perflib's keys as a regedit export (version 5, whose hex(7) lists are UTF-16 as the wide
// registry calls return them), with the "Counters" value given.
inline std::string perflibRegText(const std::vector<std::uint8_t>& counters,
                                  const char* lastCounter = "dword:00000078") {
    const std::string key =
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib";
    std::string reg = "Windows Registry Editor Version 5.00\r\n\r\n" + key +
                      "]\r\n\"Last Counter\"=" + lastCounter + "\r\n\r\n" + key +
                      "\\009]\r\n\"Counters\"=hex(7):";
    for (std::size_t i = 0; i < counters.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", counters[i]);
        reg += hex;
        if (i + 1 < counters.size()) reg += ",";
    }
    return reg + "\r\n";
}

} // namespace farlink::testing
