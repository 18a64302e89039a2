#include "platform/perf_names.h"

#include "platform/key_tree.h"
#include "platform/key_tree_model.h"

#include <string>

namespace farlink::platform {

namespace {

void appendWide(std::vector<std::uint8_t>& out, std::string_view text) {
    for (char c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    out.push_back(0);
    out.push_back(0);
}

} // namespace

std::vector<std::uint8_t> perfCountersValue() {
    std::vector<std::uint8_t> value;
    for (const PerfName& entry : kPerfNames) {
        appendWide(value, std::to_string(entry.index));
        appendWide(value, entry.name);
    }
    value.push_back(0);
    value.push_back(0);
    return value;
}

void addPerflibKeys(TreeKey& root) {
    TreeKey& perflib = root.path("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib");
    std::vector<std::uint8_t> last(4);
    for (std::size_t i = 0; i < 4; ++i)
        last[i] = static_cast<std::uint8_t>(kPerfLastCounter >> (8 * i));
    perflib.set("Last Counter", kRegDword, std::move(last));
    perflib.child("009").set("Counters", kRegMultiSz, perfCountersValue());
}

} // namespace farlink::platform
