#include "runtime/shared_block.h"

#include "platform/event_log.h"
#include "runtime/events.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <vector>

namespace farlink::runtime {

namespace {

constexpr std::uint64_t kRecheckMs = 1000;

// Every access goes through this lock: this process's readers and writers never see half a text,
// and a replacement of the block never happens under an access. The in-band agent, another
// process, writes without it.
std::mutex blockMutex;
std::string blockName;
platform::SharedRegion region;
std::uint64_t lastCheckMs = 0;

// Only the agent's own fields are read or written, whatever else the region holds.
bool fits(std::size_t offset, std::size_t width) {
    return region.fd >= 0 && width > 0 && offset <= kSharedBlockSize &&
           width <= kSharedBlockSize - offset;
}

void reportUnusable(const std::string& what) {
    reportLimitedEvent(EventKind::SharedBlockUnusable, kEventWarning,
                       "Shared agent block \"" + blockName + "\" " + what);
}

void recheckLocked() {
    lastCheckMs = platform::monotonicMs();
    if (region.fd < 0 || platform::sharedRegionStillNamed(blockName, region)) return;
    platform::SharedRegion replacement;
    std::string refusal;
    if (platform::openSharedRegion(blockName, kSharedBlockSize, replacement, refusal)) {
        platform::closeSharedRegion(region);
        region = replacement;
        reportInfo("Shared agent block \"" + blockName + "\" was made anew; serving the new one");
    } else if (!refusal.empty()) {
        // The old block stays: what it holds is the suite's, what replaced it is not.
        reportUnusable("was replaced by one this agent does not take: " + refusal);
    }
    // Removed and not made again yet: the old block still holds the suite's values.
}

// The lock, with the once-a-second check of the name done first.
std::unique_lock<std::mutex> access() {
    std::unique_lock lock(blockMutex);
    if (region.fd >= 0 && platform::monotonicMs() - lastCheckMs >= kRecheckMs) recheckLocked();
    return lock;
}

// A text within its field's bytes: up to its terminator, at most `most` characters.
std::string textOf(const std::uint8_t* bytes, std::size_t most) {
    const char* text = reinterpret_cast<const char*>(bytes);
    return std::string(text, strnlen(text, most));
}

std::uint32_t numberOf(const std::uint8_t* b) {
    return b[0] | b[1] << 8 | b[2] << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

void reportShrunk() {
    reportUnusable("holds only " + std::to_string(platform::sharedRegionSize(region)) +
                   " bytes, fewer than the agent's " + std::to_string(kSharedBlockSize) +
                   "; its fields are not served");
}

} // namespace

void attachSharedBlock(std::string name, platform::SharedRegion opened) {
    std::lock_guard lock(blockMutex);
    platform::closeSharedRegion(region);
    blockName = std::move(name);
    region = opened;
    lastCheckMs = platform::monotonicMs();
}

void detachSharedBlock() {
    std::lock_guard lock(blockMutex);
    platform::closeSharedRegion(region);
    blockName.clear();
}

bool sharedBlockAttached() {
    std::lock_guard lock(blockMutex);
    return region.fd >= 0;
}

void recheckSharedBlock() {
    std::lock_guard lock(blockMutex);
    recheckLocked();
}

std::string readText(TextField field, std::size_t limit) {
    const auto lock = access();
    if (!fits(field.offset, field.width)) return {};
    std::vector<std::uint8_t> bytes(std::min(field.width - 1, limit));
    if (!platform::readSharedRegion(region, field.offset, bytes)) {
        reportShrunk();
        return {};
    }
    return textOf(bytes.data(), bytes.size());
}

bool writeText(TextField field, std::string_view text) {
    const auto lock = access();
    if (!fits(field.offset, field.width)) return false;
    std::vector<std::uint8_t> bytes(std::min(text.size(), field.width - 1) + 1, 0);
    std::memcpy(bytes.data(), text.data(), bytes.size() - 1);
    // The whole field must be there, not only the bytes this text needs.
    if (!platform::writeSharedRegion(region, field.offset, bytes, field.offset + field.width)) {
        reportShrunk();
        return false;
    }
    return true;
}

std::uint32_t readNumber(std::size_t offset) {
    const auto lock = access();
    std::array<std::uint8_t, 4> bytes{};
    if (!fits(offset, 4)) return 0;
    if (!platform::readSharedRegion(region, offset, bytes)) {
        reportShrunk();
        return 0;
    }
    return numberOf(bytes.data());
}

bool writeNumber(std::size_t offset, std::uint32_t value) {
    const auto lock = access();
    if (!fits(offset, 4)) return false;
    const std::array<std::uint8_t, 4> bytes{
        static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
        static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    if (!platform::writeSharedRegion(region, offset, bytes)) {
        reportShrunk();
        return false;
    }
    return true;
}

std::string BlockCopy::text(TextField field) const {
    if (field.width == 0 || field.offset > kSharedBlockSize ||
        field.width > kSharedBlockSize - field.offset)
        return {};
    return textOf(bytes.data() + field.offset, field.width - 1);
}

std::uint32_t BlockCopy::number(std::size_t offset) const {
    if (offset > kSharedBlockSize - 4) return 0;
    return numberOf(bytes.data() + offset);
}

bool copySharedBlock(BlockCopy& copy) {
    copy.bytes.fill(0);
    const auto lock = access();
    if (region.fd < 0) return false;
    if (!platform::readSharedRegion(region, 0, copy.bytes)) {
        copy.bytes.fill(0);
        reportShrunk();
        return false;
    }
    return true;
}

} // namespace farlink::runtime
