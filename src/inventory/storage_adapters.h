// The machine's disk adapters: every driver that holds resources in the resource map and whose
// service belongs to the SCSI miniport or the primary disk group. Built once at start-up, before
// the disks, which find their adapter here by driver name; read without a lock afterwards.
#pragma once

#include "platform/key_tree.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace farlink::inventory {

inline constexpr std::size_t kStorageAdapterLimit = 16;
inline constexpr std::size_t kAdapterTextSize = 32; // 31 characters and the terminator

inline constexpr std::uint8_t kScsiMiniportAdapter = 1;
inline constexpr std::uint8_t kPrimaryDiskAdapter = 2;

using AdapterText = std::array<char, kAdapterTextSize>;

struct StorageAdapter {
    std::uint32_t index = 0;
    std::uint8_t reserved = 0;
    std::uint8_t busCount = 0; // buses of the adapter's SCSI port; 0 when not looked up
    std::uint8_t kind = 0;     // kScsiMiniportAdapter or kPrimaryDiskAdapter
    AdapterText driverName{};
    std::uint32_t portBase = 0; // start of the largest port range
    std::uint8_t interruptLevel = 0;
    std::uint32_t memoryBase = 0;
    std::uint8_t dmaChannel = 0;
    AdapterText reservedText{};
    AdapterText deviceName{};
    std::uint32_t reservedWord = 0;
    std::int8_t initiatorId = 0; // -1 when not known
};

extern std::array<StorageAdapter, kStorageAdapterLimit> storageAdapters;
extern std::uint8_t storageAdapterCount;

// Fills the table from HARDWARE\RESOURCEMAP, the services' groups and HARDWARE\DEVICEMAP\Scsi.
void buildStorageAdapterTable();

// The bus count and initiator ID of the SCSI port whose device map key is named like
// `deviceName` ("ScsiPort0" finds "Scsi Port 0"); 0 and -1 when it is not found.
void lookUpScsiPort(std::string_view deviceName, std::uint8_t& busCount, std::int8_t& initiatorId);

// Registry reading that the adapter and the disk enumerations share. Every text is read within
// the bytes the value returned, whether or not it carries its terminator.
namespace storage_keys {

// Key and value names are read into buffers of this size.
inline constexpr std::size_t kNameSize = 512;

// A key closed when it goes out of scope.
class ScopedKey {
  public:
    ScopedKey() = default;
    ~ScopedKey() { platform::closeKey(handle_); }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    // Opens `path` below `parent`, closing what this held; the registry's result.
    int open(platform::KeyHandle parent, std::string_view path);
    platform::KeyHandle get() const { return handle_; }

  private:
    platform::KeyHandle handle_ = nullptr;
};

// Calls visit(name) with the name of every subkey of `key` in the tree's order, or of every value
// with forEachValue; visit returns false to stop. A name longer than the buffers of the walk is
// passed over, as the registry does not hand it out.
template <class Visit> void forEachSubkey(platform::KeyHandle key, Visit&& visit) {
    std::array<char, kNameSize> name{};
    for (std::uint32_t index = 0;; ++index) {
        const int rc = platform::enumKey(key, index, name);
        if (rc == platform::kErrorMoreData) continue;
        if (rc != platform::kErrorSuccess || !visit(std::string_view(name.data()))) return;
    }
}
template <class Visit> void forEachValue(platform::KeyHandle key, Visit&& visit) {
    std::array<char, kNameSize> name{};
    for (std::uint32_t index = 0;; ++index) {
        const int rc = platform::enumValue(key, index, name, nullptr);
        if (rc == platform::kErrorMoreData) continue;
        if (rc != platform::kErrorSuccess || !visit(std::string_view(name.data()))) return;
    }
}

// The text of a value of up to `limit` bytes: its bytes up to the first zero byte. False when
// the value is missing or longer than the limit.
bool readText(platform::KeyHandle key, std::string_view valueName, std::size_t limit,
              std::string& text);

// The text of the first value whose name, after leading white space, begins with "group" in any
// case; false when there is none.
bool readServiceGroup(platform::KeyHandle serviceKey, std::string& group);

// Lower case without any white space: "SCSI miniport" and "Scsi Miniport" both give
// "scsiminiport".
std::string squeezed(std::string_view text);

// The decimal number at the start of text (digits only, as far as they go); 0 when none.
std::uint32_t leadingNumber(std::string_view text);

// Copies text into a fixed field, cut to the field with its terminator.
void copyText(std::span<char> field, std::string_view text);

} // namespace storage_keys

} // namespace farlink::inventory
