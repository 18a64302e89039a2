// The in-memory tree behind the key-tree handles, and the backends that build one. Inside the
// platform layer only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace farlink::platform {

struct TreeValue {
    std::string name;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};

struct TreeKey {
    std::string name;
    std::vector<TreeValue> values;
    std::vector<std::unique_ptr<TreeKey>> subkeys;
    // Of a whole tree's root: a number no other tree built by this process has (see
    // newTreeGeneration), so a reader can tell the tree it read last from a new one.
    std::uint64_t generation = 0;

    // The subkey of that name (without regard to case), or nullptr.
    const TreeKey* find(std::string_view subkeyName) const;
    TreeKey* find(std::string_view subkeyName);
    // The subkey of that name, added at the end when missing.
    TreeKey& child(std::string_view subkeyName);
    // The key at a backslash-separated path below this one, created where missing.
    TreeKey& path(std::string_view keyPath);
    // Sets (or replaces) a value, keeping the position of one that existed.
    void set(std::string_view valueName, std::uint32_t type, std::vector<std::uint8_t> data);
};

// A whole tree: the key HKEY_LOCAL_MACHINE with everything below it.
using KeyTree = std::shared_ptr<const TreeKey>;

// The generation for the root of a tree being built.
std::uint64_t newTreeGeneration();

// The tree of a machine image's registry/*.reg files, parsed again only when one of them changed
// since the last call; an empty tree when the image has no registry.
KeyTree imageKeyTree(const std::string& imageDirectory);

// The host's view for a walk that starts at `path` (the first one or two names are enough to
// tell which part of the tree is wanted), built afresh on each call.
KeyTree hostKeyTree(std::string_view path, std::uint32_t resourceTypes);

// REGEDIT4 text into the tree: "[HKEY_LOCAL_MACHINE\...]" keys, "name"="text", dword:, hex:,
// hex(n): with continuation lines, @ for the default value, ; comments, CR LF or LF. Keys of
// other roots are skipped. Returns the number of lines it could not read.
std::size_t parseRegText(std::string_view text, TreeKey& root);

} // namespace farlink::platform
