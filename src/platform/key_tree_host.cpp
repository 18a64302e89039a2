#include "platform/key_tree_model.h"

namespace farlink::platform {

KeyTree hostKeyTree(std::string_view, std::uint32_t) {
    return std::make_shared<TreeKey>();
}

} // namespace farlink::platform
