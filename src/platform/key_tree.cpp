#include "platform/key_tree.h"

#include "platform/key_tree_model.h"
#include "platform/machine_image.h"
#include "platform/names.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace farlink::platform {

// An open key: the snapshot it was opened in, and its place there.
class OpenKey {
  public:
    OpenKey(KeyTree tree, const TreeKey* node) : tree_(std::move(tree)), node_(node) {}
    const KeyTree& tree() const { return tree_; }
    const TreeKey& node() const { return *node_; }

  private:
    KeyTree tree_;
    const TreeKey* node_;
};

namespace {

std::atomic<std::size_t> openKeys{0};
std::atomic<std::uint64_t> treesBuilt{0};

// The next name of a backslash-separated path, and the rest after it.
std::string_view firstName(std::string_view& path) {
    while (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    const std::size_t end = path.find('\\');
    const std::string_view name = path.substr(0, end);
    path = end == std::string_view::npos ? std::string_view{} : path.substr(end + 1);
    return name;
}

// Copies a name with its terminator; false when it does not fit.
bool copyName(std::string_view name, std::span<char> out) {
    if (name.size() + 1 > out.size()) return false;
    std::copy(name.begin(), name.end(), out.begin());
    out[name.size()] = '\0';
    return true;
}

} // namespace

const TreeKey* TreeKey::find(std::string_view subkeyName) const {
    for (const auto& key : subkeys)
        if (sameName(key->name, subkeyName)) return key.get();
    return nullptr;
}

TreeKey* TreeKey::find(std::string_view subkeyName) {
    return const_cast<TreeKey*>(static_cast<const TreeKey*>(this)->find(subkeyName));
}

TreeKey& TreeKey::child(std::string_view subkeyName) {
    if (TreeKey* existing = find(subkeyName)) return *existing;
    subkeys.push_back(std::make_unique<TreeKey>());
    subkeys.back()->name = std::string(subkeyName);
    return *subkeys.back();
}

TreeKey& TreeKey::path(std::string_view keyPath) {
    TreeKey* key = this;
    while (!keyPath.empty()) {
        const std::string_view name = firstName(keyPath);
        if (!name.empty()) key = &key->child(name);
    }
    return *key;
}

void TreeKey::set(std::string_view valueName, std::uint32_t type, std::vector<std::uint8_t> data) {
    for (TreeValue& value : values)
        if (sameName(value.name, valueName)) {
            value.type = type;
            value.data = std::move(data);
            return;
        }
    values.push_back(TreeValue{std::string(valueName), type, std::move(data)});
}

int openKey(KeyHandle parent, std::string_view path, KeyHandle& key, std::uint32_t resourceTypes) {
    key = nullptr;
    KeyTree tree;
    const TreeKey* node = nullptr;
    if (parent == kLocalMachine) {
        const std::string image = machineImageDirectory();
        tree = image.empty() ? hostKeyTree(path, resourceTypes) : imageKeyTree(image);
        if (!tree) return kErrorFileNotFound;
        node = tree.get();
    } else {
        tree = parent->tree();
        node = &parent->node();
    }
    while (!path.empty()) {
        const std::string_view name = firstName(path);
        if (name.empty()) continue;
        node = node->find(name);
        if (node == nullptr) return kErrorFileNotFound;
    }
    key = new OpenKey(std::move(tree), node);
    openKeys.fetch_add(1, std::memory_order_relaxed);
    return kErrorSuccess;
}

std::uint64_t newTreeGeneration() {
    return treesBuilt.fetch_add(1, std::memory_order_relaxed) + 1;
}

std::uint64_t keyTreeGeneration(KeyHandle key) {
    return key == nullptr ? 0 : key->tree()->generation;
}

int enumKey(KeyHandle key, std::uint32_t index, std::span<char> name) {
    if (key == nullptr) return kErrorInvalidHandle;
    const auto& subkeys = key->node().subkeys;
    if (index >= subkeys.size()) return kErrorNoMoreItems;
    return copyName(subkeys[index]->name, name) ? kErrorSuccess : kErrorMoreData;
}

int enumValue(KeyHandle key, std::uint32_t index, std::span<char> name, std::uint32_t* type) {
    if (key == nullptr) return kErrorInvalidHandle;
    const auto& values = key->node().values;
    if (index >= values.size()) return kErrorNoMoreItems;
    if (!copyName(values[index].name, name)) return kErrorMoreData;
    if (type != nullptr) *type = values[index].type;
    return kErrorSuccess;
}

int queryValue(KeyHandle key, std::string_view valueName, std::uint32_t* type,
               std::span<std::uint8_t> data, std::uint32_t& size) {
    size = 0;
    if (key == nullptr) return kErrorInvalidHandle;
    for (const TreeValue& value : key->node().values) {
        if (!sameName(value.name, valueName)) continue;
        if (type != nullptr) *type = value.type;
        size = static_cast<std::uint32_t>(value.data.size());
        if (value.data.size() > data.size()) return kErrorMoreData;
        std::copy(value.data.begin(), value.data.end(), data.begin());
        return kErrorSuccess;
    }
    return kErrorFileNotFound;
}

void closeKey(KeyHandle key) {
    if (key == nullptr) return;
    delete key;
    openKeys.fetch_sub(1, std::memory_order_relaxed);
}

std::size_t openKeyCount() {
    return openKeys.load(std::memory_order_relaxed);
}

} // namespace farlink::platform
