// Key trees: the shape of the Windows registry below HKEY_LOCAL_MACHINE, which the inventory and
// adapter code walk (resource map, device map, services, network cards).
//
// Backends: with FARLINK_MACHINE=<directory> the image's registry/*.reg files (REGEDIT4 text as
// regedit exports it, merged in name order, read again when they change); on a Linux host a view
// built from procfs and sysfs in the same shape. A tree is read when a key is opened from the
// root, and every handle opened below it keeps that snapshot: a walk sees one consistent tree,
// and no key operation reads or parses anything again.
//
// Results are the Win32 codes the callers test: 0 success, 2 not found, 234 more data (the
// buffer is too small), 259 no more items.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace farlink::platform {

inline constexpr int kErrorSuccess = 0;
inline constexpr int kErrorFileNotFound = 2;
inline constexpr int kErrorInvalidHandle = 6;
inline constexpr int kErrorMoreData = 234;
inline constexpr int kErrorNoMoreItems = 259;

// Value types.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegResourceList = 8;
inline constexpr std::uint32_t kRegFullResourceDescriptor = 9;
inline constexpr std::uint32_t kRegResourceRequirementsList = 10;

class OpenKey;
using KeyHandle = OpenKey*;

// HKEY_LOCAL_MACHINE: the root every path is opened from.
inline constexpr KeyHandle kLocalMachine = nullptr;

// Which resource types a walk of HARDWARE\RESOURCEMAP will look at (CmResourceType bits: 1 << 1
// ports, 1 << 2 interrupts, 1 << 3 memory, 1 << 4 DMA). The host view then reads only the procfs
// files those need; an image ignores it.
inline constexpr std::uint32_t kAllResourceTypes = 0xFFFFFFFF;
inline constexpr std::uint32_t resourceTypeBit(std::uint32_t type) {
    return 1u << type;
}

// Opens `path` (backslash-separated, names compared without regard to case) below `parent`; an
// empty path opens the parent again. Returns 0 and the handle, or 2 when a key is missing.
int openKey(KeyHandle parent, std::string_view path, KeyHandle& key,
            std::uint32_t resourceTypes = kAllResourceTypes);

// The name of subkey `index` (in the tree's order) with its terminator; 259 past the last, 234
// when it does not fit `name` (nothing written).
int enumKey(KeyHandle key, std::uint32_t index, std::span<char> name);

// The name of value `index` with its terminator and, when `type` is given, its type; 259 past
// the last, 234 when the name does not fit.
int enumValue(KeyHandle key, std::uint32_t index, std::span<char> name, std::uint32_t* type);

// The data of the value named `valueName` ("" is the default value): 0 with `size` the bytes
// written; 234 with `size` the bytes needed when they do not fit `data` (nothing written); 2 when
// there is no such value. Texts (types 1, 2, 7) come with their terminating zero byte(s).
int queryValue(KeyHandle key, std::string_view valueName, std::uint32_t* type,
               std::span<std::uint8_t> data, std::uint32_t& size);

void closeKey(KeyHandle key);

// The tree a handle was opened in: the same number for every handle of one snapshot, and a new
// one whenever a tree is read again (an image whose files changed; the host's view, on every
// open from the root). A reader that kept what it found under a key of generation g may use it
// again while opening that key still gives g. 0 for no handle.
std::uint64_t keyTreeGeneration(KeyHandle key);

// Open handles of the calling process, for tests that check a walk closes what it opens.
std::size_t openKeyCount();

} // namespace farlink::platform
