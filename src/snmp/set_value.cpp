// The keyword-guarded decoding of SET values: a manager proves it may change a setting by
// sending the keyword of the configuration file with the value.
#include "snmp/set_value.h"

#include "platform/profile.h"
#include "runtime/agent_settings.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

namespace farlink::snmp {

namespace {

constexpr std::size_t kKeywordBytes = 16;
// The keyword as the file holds it, cut to 16 characters with room for the terminator.
using Keyword = std::array<char, kKeywordBytes + 1>;

// An operator may change the keyword while the agent runs, and the next SET must honour it; but
// the file can be large, so it is read again only when it has changed (the agent's own
// write-back changes it too, and is read again like any other change).
Keyword readKeyword() {
    struct Cache {
        std::mutex mutex;
        std::string path;
        std::uint64_t version = 0;
        Keyword keyword{};
    };
    static Cache cache;
    const std::string path = platform::profilePath(runtime::kConfigFile);
    const std::uint64_t version = platform::fileVersion(path);
    std::lock_guard lock(cache.mutex);
    if (version == 0 || version != cache.version || path != cache.path) {
        cache.keyword = {};
        platform::getProfileString("environment", "keyword", "", cache.keyword.data(),
                                   static_cast<std::uint32_t>(cache.keyword.size()),
                                   runtime::kConfigFile);
        cache.path = path;
        cache.version = version;
    }
    return cache.keyword;
}

// The 16 keyword bytes of a value, read as a text that ends at its first zero byte, must equal
// the configured keyword exactly, case included. `at` + 16 lies within the value bytes.
bool keywordMatches(const VarBind& binding, std::size_t at, const Keyword& keyword) {
    const auto* bytes = binding.valueBytes.data() + at;
    const std::size_t length =
        static_cast<std::size_t>(std::find(bytes, bytes + kKeywordBytes, 0) - bytes);
    return length == std::strlen(keyword.data()) && std::memcmp(bytes, keyword.data(), length) == 0;
}

std::uint32_t littleEndianWord(const VarBind& binding) {
    const auto& b = binding.valueBytes;
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

// Copies `length` value bytes and a terminator into text; false when they do not fit.
bool copyText(const VarBind& binding, std::size_t length, std::span<char> text) {
    if (length > kValueBytes || length + 1 > text.size()) return false;
    std::copy_n(binding.valueBytes.begin(), length, text.begin());
    text[length] = '\0';
    return true;
}

} // namespace

int decodeSetNumber(const VarBind& binding, std::uint32_t& number) {
    const Keyword keyword = readKeyword();
    if (keyword[0] == '\0') {
        if (binding.valueTag == kTagInteger) {
            number = binding.valueWord;
            return 1;
        }
        if (binding.valueTag == kTagOctetString && binding.valueWord >= 4) {
            number = littleEndianWord(binding);
            return 1;
        }
        return 0;
    }
    // With a keyword a number travels as 4 little-endian bytes followed by the padded keyword,
    // whatever tag the manager chose for it.
    if (binding.valueWord != 4 + kKeywordBytes || !keywordMatches(binding, 4, keyword)) return 0;
    number = littleEndianWord(binding);
    return 1;
}

int decodeSetText(const VarBind& binding, std::span<char> text) {
    const Keyword keyword = readKeyword();
    // The value word counts received bytes, of which only the first 80 were kept: a longer
    // value cannot be handed on whole.
    const std::uint32_t received = binding.valueWord;
    if (received > kValueBytes) return 0;
    if (keyword[0] == '\0') return copyText(binding, received, text) ? 1 : 0;

    // The text, its zero byte, then the 16 keyword bytes.
    const auto* bytes = binding.valueBytes.data();
    const std::size_t length =
        static_cast<std::size_t>(std::find(bytes, bytes + received, 0) - bytes);
    if (received != length + 1 + kKeywordBytes) return 0;
    if (!keywordMatches(binding, length + 1, keyword)) return 0;
    return copyText(binding, length, text) ? 1 : 0;
}

} // namespace farlink::snmp
