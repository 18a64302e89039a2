#include "runtime/shared_block.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

namespace farlink::runtime {

namespace {

std::uint8_t* block = nullptr;
std::size_t blockSize = 0;
// Texts are copied whole under this lock so that this process's own readers and writers never
// see half a text; the in-band agent, another process, writes without it.
std::mutex textMutex;

bool inBlock(std::size_t offset, std::size_t width) {
    return block != nullptr && offset <= blockSize && width <= blockSize - offset;
}

} // namespace

void attachSharedBlock(std::span<std::uint8_t> view) {
    block = view.size() >= kSharedBlockSize ? view.data() : nullptr;
    blockSize = block != nullptr ? view.size() : 0;
}

bool sharedBlockAttached() {
    return block != nullptr;
}

std::string readText(TextField field, std::size_t limit) {
    if (!inBlock(field.offset, field.width)) return {};
    const std::size_t most = std::min(field.width - 1, limit);
    std::lock_guard lock(textMutex);
    const char* text = reinterpret_cast<const char*>(block + field.offset);
    return std::string(text, strnlen(text, most));
}

bool writeText(TextField field, std::string_view text) {
    if (!inBlock(field.offset, field.width)) return false;
    const std::size_t n = std::min(text.size(), field.width - 1);
    std::lock_guard lock(textMutex);
    std::memcpy(block + field.offset, text.data(), n);
    block[field.offset + n] = '\0';
    return true;
}

std::uint32_t readNumber(std::size_t offset) {
    if (!inBlock(offset, 4)) return 0;
    return std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(block + offset))
        .load(std::memory_order_relaxed);
}

bool writeNumber(std::size_t offset, std::uint32_t value) {
    if (!inBlock(offset, 4)) return false;
    std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(block + offset))
        .store(value, std::memory_order_relaxed);
    return true;
}

} // namespace farlink::runtime
