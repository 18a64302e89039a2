// The shared agent block: the in-band agent's named shared memory, whose first 816 bytes both
// agents read and write in place (little-endian 32-bit numbers, texts terminated within their
// fields).
#pragma once

#include "platform/shared_memory.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace farlink::runtime {

inline constexpr std::size_t kSharedBlockSize = 816;

struct TextField {
    std::size_t offset;
    std::size_t width;
};

inline constexpr TextField kAdministratorName{0, 40};
inline constexpr TextField kOfficePhone{40, 40};
inline constexpr TextField kOfficeAddress{80, 160};
inline constexpr TextField kHomePhone{240, 40};
inline constexpr TextField kHomeAddress{280, 160};
inline constexpr TextField kPager{440, 40};
inline constexpr TextField kEmail{480, 60};
inline constexpr TextField kSystemDescription{540, 160};

inline constexpr std::size_t kMemoryThreshold = 700;
inline constexpr std::size_t kIoBusThreshold = 704;
inline constexpr std::size_t kVolumeUsageThreshold = 708;
inline constexpr std::size_t kUsedVolumeThresholds = 712; // 26 entries of 4 bytes
inline constexpr int kVolumeEntries = 26;

// The seven contact texts in the order of the contact table's columns 1 to 7, with the keys the
// configuration file gives them.
struct ContactField {
    TextField field;
    const char* key;
};
inline constexpr ContactField kContactFields[7] = {{kAdministratorName, "name"},
                                                   {kOfficePhone, "OfficePhone"},
                                                   {kOfficeAddress, "OfficeAddr"},
                                                   {kHomePhone, "HomePhone"},
                                                   {kHomeAddress, "HomeAddr"},
                                                   {kPager, "Pager"},
                                                   {kEmail, "EMail"}};

// Takes the opened region as this process's block, done by the start-up worker before any reader
// exists; the block named `name` is served from then on, including one that replaces it.
void attachSharedBlock(std::string name, platform::SharedRegion region);
// Closes the block; every read is empty and every write refused from then on.
void detachSharedBlock();
bool sharedBlockAttached();

// The block is the suite's meeting point and outlives either agent, but an administrator may
// remove it and the in-band agent then make a new one: when the name no longer names the
// attached block, the one it names now is served instead, if this process may trust it. The
// accessors check at most once a second; this checks at once.
void recheckSharedBlock();

// A text, up to its terminator and at most min(width - 1, limit) characters; empty when no block
// is attached or the block no longer holds the field.
std::string readText(TextField field, std::size_t limit = SIZE_MAX);
// Stores text cut to width - 1 characters with its terminator; false when no block is attached or
// the block no longer holds the field.
bool writeText(TextField field, std::string_view text);

// 0 when the word cannot be read.
std::uint32_t readNumber(std::size_t offset);
bool writeNumber(std::size_t offset, std::uint32_t value);

// The agent's bytes of the block as they stood at one moment, read at once: a reader of many
// fields (the write-back takes 36) makes one read instead of one per field.
struct BlockCopy {
    std::array<std::uint8_t, kSharedBlockSize> bytes{};
    std::string text(TextField field) const;
    std::uint32_t number(std::size_t offset) const;
};
// False (the copy all zero) when no block is attached or it no longer holds the agent's bytes.
bool copySharedBlock(BlockCopy& copy);

} // namespace farlink::runtime
