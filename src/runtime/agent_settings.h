// The agent settings: read once from the configuration file, read by the group handlers and the
// adapter pollers, overwritten by SET requests; and the flag that tells the configuration thread
// to write the changed ones back.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace farlink::runtime {

// The suite's configuration file and the model file beside it, in the Windows directory.
inline constexpr std::string_view kConfigFile = "TESSEL.INI";
inline constexpr std::string_view kModelFile = "MODEL.KORU";

// A fixed text field shared between threads; a value is always cut to N - 1 characters.
template <std::size_t N> class SharedText {
  public:
    void set(std::string_view text) {
        std::lock_guard lock(mutex_);
        const std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
        text.copy(chars_.data(), n);
        chars_[n] = '\0';
    }
    std::string get() const {
        std::lock_guard lock(mutex_);
        return std::string(chars_.data());
    }
    static constexpr std::size_t capacity() { return N - 1; }

  private:
    mutable std::mutex mutex_;
    std::array<char, N> chars_{};
};

inline constexpr std::size_t kEventEntries = 11;

struct EventEntry {
    std::uint32_t number = 0;
    std::atomic<std::int32_t> action{0};
    SharedText<120> program;
    SharedText<40> pager;
};

struct AgentSettings {
    SharedText<32> password;
    std::atomic<std::int32_t> pollingInterval{1};
    std::atomic<std::int32_t> temp1{530};
    std::atomic<std::int32_t> temp2{650};
    std::atomic<std::uint32_t> shutDownEnabled{0};
    std::atomic<std::int32_t> cpuThreshold{100};
    std::atomic<std::uint32_t> contactRowCount{0};
    std::array<EventEntry, kEventEntries> events;

    AgentSettings();
};

extern AgentSettings agentSettings;

// Set by every SET that changed a setting; cleared by the configuration thread as it writes.
extern std::atomic<std::uint32_t> configChanged;

// Sets the configuration-changed flag and wakes the configuration thread; safe to call when no
// such thread runs (the flag then waits for one).
void markConfigChanged();

// Waits until markConfigChanged (or wakeConfigWriter) has been called since the last wait, or
// until timeoutMs has passed (-1: no limit); true when woken. A mark made while nobody waits is
// kept for the next wait, so no change is ever lost.
bool waitForConfigChange(int timeoutMs);
void wakeConfigWriter();

} // namespace farlink::runtime
