// The shared agent block: the in-band agent's named shared memory, whose first 816 bytes both
// agents read and write in place (little-endian 32-bit numbers, texts terminated within their
// fields).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
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

// Publishes the mapped block (at least kSharedBlockSize bytes); done once by the start-up worker
// before any reader exists.
void attachSharedBlock(std::span<std::uint8_t> block);
bool sharedBlockAttached();

// A text, up to its terminator and at most min(width - 1, limit) characters; empty when no block
// is attached.
std::string readText(TextField field, std::size_t limit = SIZE_MAX);
// Stores text cut to width - 1 characters with its terminator; false when no block is attached.
bool writeText(TextField field, std::string_view text);

std::uint32_t readNumber(std::size_t offset);
bool writeNumber(std::size_t offset, std::uint32_t value);

} // namespace farlink::runtime
