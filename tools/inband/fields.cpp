#include "inband.h"

#include "platform/names.h"
#include "platform/profile.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <vector>

namespace farlink::inband {

namespace {

constexpr const char* kContactSection = "manager.1";
constexpr const char* kThresholdSection = "threshold";
constexpr const char* kIniFile = "TESSEL.INI";

std::vector<Field> makeFields() {
    std::vector<Field> fields;
    for (const runtime::ContactField& contact : runtime::kContactFields) {
        fields.push_back({contact.key, true, contact.field, 0, kContactSection});
    }
    // The system description has no key: only the in-band agent and a manager's SET change it.
    fields.push_back({"description", true, runtime::kSystemDescription, 0, nullptr});
    fields.push_back({"MEMORY", false, {}, runtime::kMemoryThreshold, kThresholdSection});
    fields.push_back({"I/O BUS", false, {}, runtime::kIoBusThreshold, kThresholdSection});
    fields.push_back(
        {"Volume Usage", false, {}, runtime::kVolumeUsageThreshold, kThresholdSection});
    for (int k = 1; k <= runtime::kVolumeEntries; ++k) {
        fields.push_back({"UsedVol" + std::to_string(k),
                          false,
                          {},
                          runtime::kUsedVolumeThresholds + 4 * static_cast<std::size_t>(k - 1),
                          kThresholdSection});
    }
    return fields;
}

} // namespace

std::span<const Field> blockFields() {
    static const std::vector<Field> fields = makeFields();
    return fields;
}

const Field* findField(std::string_view name) {
    for (const Field& field : blockFields()) {
        if (platform::sameName(field.name, name)) return &field;
    }
    return nullptr;
}

void loadFromConfiguration() {
    for (const Field& field : blockFields()) {
        if (field.section == nullptr) continue;
        if (field.isText) {
            // A buffer of the field's width keeps width - 1 characters and the terminator, the
            // same cut the block itself makes.
            std::vector<char> buffer(field.text.width);
            const std::string current = runtime::readText(field.text);
            const std::uint32_t n =
                platform::getProfileString(field.section, field.name, current, buffer.data(),
                                           static_cast<std::uint32_t>(buffer.size()), kIniFile);
            runtime::writeText(field.text, std::string_view(buffer.data(), n));
        } else {
            const auto current = static_cast<std::int32_t>(runtime::readNumber(field.offset));
            const std::int32_t value =
                platform::getProfileInt(field.section, field.name, current, kIniFile);
            runtime::writeNumber(field.offset, static_cast<std::uint32_t>(value));
        }
    }
}

std::string showValue(const Field& field) {
    if (!field.isText) {
        return std::to_string(static_cast<std::int32_t>(runtime::readNumber(field.offset)));
    }
    std::string shown;
    for (const char c : runtime::readText(field.text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            shown += "\\\\";
        } else if (byte < 0x20 || byte == 0x7F) {
            std::array<char, 8> hex{};
            std::snprintf(hex.data(), hex.size(), "\\x%02X", byte);
            shown += hex.data();
        } else {
            shown += c;
        }
    }
    return shown;
}

std::optional<std::uint32_t> parseNumber(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    const std::string_view digits = negative ? text.substr(1) : text;
    if (digits.empty() || digits.front() == '+' || digits.front() == '-') return std::nullopt;
    std::uint64_t magnitude = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    if (negative) {
        if (magnitude > 0x80000000ull) return std::nullopt;
        return static_cast<std::uint32_t>(0 - magnitude);
    }
    if (magnitude > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<std::uint32_t>(magnitude);
}

} // namespace farlink::inband
