// Registry export text comes from files anyone may edit: parse anything, and check that the tree
// it gives holds together. Reading the same text a second time over the first must change
// nothing (a later file only adds to or overrides what is there), and must meet the same lines
// it could not read.
#include "platform/key_tree_model.h"
#include "platform/names.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

using farlink::platform::sameName;
using farlink::platform::TreeKey;

bool sameTree(const TreeKey& a, const TreeKey& b) {
    if (a.name != b.name || a.values.size() != b.values.size() ||
        a.subkeys.size() != b.subkeys.size())
        return false;
    for (std::size_t i = 0; i < a.values.size(); ++i)
        if (a.values[i].name != b.values[i].name || a.values[i].type != b.values[i].type ||
            a.values[i].data != b.values[i].data)
            return false;
    for (std::size_t i = 0; i < a.subkeys.size(); ++i)
        if (!sameTree(*a.subkeys[i], *b.subkeys[i])) return false;
    return true;
}

// Names are unique within a key without regard to case, no key is unnamed, and no path is
// deeper than the system allows.
bool wellFormed(const TreeKey& key, std::size_t depth) {
    if (depth > 512) return false;
    for (std::size_t i = 0; i < key.values.size(); ++i)
        for (std::size_t j = i + 1; j < key.values.size(); ++j)
            if (sameName(key.values[i].name, key.values[j].name)) return false;
    for (std::size_t i = 0; i < key.subkeys.size(); ++i) {
        if (key.subkeys[i]->name.empty()) return false;
        for (std::size_t j = i + 1; j < key.subkeys.size(); ++j)
            if (sameName(key.subkeys[i]->name, key.subkeys[j]->name)) return false;
        if (!wellFormed(*key.subkeys[i], depth + 1)) return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TreeKey once;
    const std::size_t unreadable = farlink::platform::parseRegText(text, once);
    if (!wellFormed(once, 0)) __builtin_trap();
    TreeKey twice;
    farlink::platform::parseRegText(text, twice);
    if (farlink::platform::parseRegText(text, twice) != unreadable) __builtin_trap();
    if (!sameTree(once, twice)) __builtin_trap();
    return 0;
}
