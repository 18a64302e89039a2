#include "platform/key_tree_model.h"

namespace farlink::platform {

KeyTree imageKeyTree(const std::string&) {
    return std::make_shared<TreeKey>();
}

std::size_t parseRegText(std::string_view, TreeKey&) {
    return 0;
}

} // namespace farlink::platform
