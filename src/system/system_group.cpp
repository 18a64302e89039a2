// The system information group .25.4, one scalar per column. Firmware facts come from the DMI
// summary the start-up worker filled; the settings live in the agent settings and the shared
// agent block; the machine's own facts are asked of the system on each read.
#include "system/system_group.h"

#include "inventory/dmi.h"
#include "inventory/driver_answer.h"
#include "perf/perf_reader.h"
#include "platform/console.h"
#include "platform/device_io.h"
#include "platform/system_facts.h"
#include "runtime/agent_settings.h"
#include "runtime/koru.h"
#include "runtime/shared_block.h"
#include "snmp/dispatch.h"
#include "snmp/request_serial.h"
#include "snmp/set_value.h"
#include "system/services.h"
#include "system/temperature_limits.h"
#include "system/volume_usage.h"

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>

namespace farlink::system {

namespace {

using inventory::SummaryField;
using snmp::VarBind;

constexpr auto relaxed = std::memory_order_relaxed;

// Columns whose texts are served cut to these lengths.
constexpr std::size_t kProductCap = 20;
constexpr std::size_t kSystemCap = 80;
constexpr std::size_t kBusTypesCap = 8;
constexpr std::size_t kPortCap = 52;
constexpr std::size_t kConnectorCap = 20;
constexpr std::size_t kDriverTextCap = 12;
constexpr std::size_t kBiosCap = 8;
constexpr std::size_t kComputerNameCap = 48;
// The description field holds 160 characters, but one value carries 80.
constexpr std::size_t kDescriptionCap = snmp::kValueBytes;
// A short processor text names a processor with one cache of its own; a longer one a newer
// processor whose caches are all its own.
constexpr std::size_t kShortProcessorText = 8;
// The password field holds this many characters before its terminator.
constexpr std::size_t kPasswordCap = runtime::SharedText<32>::capacity();
// The polling interval is slept in milliseconds by a 32-bit count.
constexpr std::uint32_t kMaxPollingSeconds = std::numeric_limits<std::uint32_t>::max() / 1000;

// The text of a summary field, up to its terminator and never past the field.
std::string_view summaryText(SummaryField field) {
    const auto* begin = reinterpret_cast<const char*>(inventory::dmiSummary.data() + field.offset);
    return {begin, static_cast<std::size_t>(std::find(begin, begin + field.width, '\0') - begin)};
}

std::uint32_t summaryNumber(SummaryField field) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < field.width && i < 4; ++i)
        value |= static_cast<std::uint32_t>(inventory::dmiSummary[field.offset + i]) << (8 * i);
    return value;
}

std::string_view cut(std::string_view text, std::size_t cap) {
    return text.substr(0, cap);
}

// A cache record's installed size in KB: 15 bits of count, in 64 KB units when the top bit is
// set, as the DMI parser reads it.
std::uint64_t cacheKb(std::uint32_t installed) {
    return std::uint64_t{installed & 0x7FFFu} * ((installed & 0x8000u) != 0 ? 64u : 1u);
}

std::uint32_t saturatedWord(std::uint64_t value) {
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(value, std::numeric_limits<std::uint32_t>::max()));
}

std::uint32_t cacheSize() {
    const inventory::DmiTable& caches = inventory::dmiTables[inventory::kDmiCaches];
    const std::uint32_t count = std::min<std::uint32_t>(caches.count, inventory::kDmiMaxRows);
    if (count == 0) return 0;
    if (summaryText(inventory::kSummaryProcessorText).size() <= kShortProcessorText)
        return saturatedWord(cacheKb(caches.rows[0][4].number));
    std::uint64_t sum = 0;
    for (std::uint32_t r = 0; r < count; ++r)
        sum += cacheKb(caches.rows[r][4].number);
    return saturatedWord(sum);
}

// The machine's memory in bytes: the firmware's count, else (no driver) the system's own.
std::uint64_t totalMemory() {
    const std::uint32_t firmware = inventory::summaryTotalMemory();
    return firmware != 0 ? firmware : platform::physicalMemoryBytes();
}

// The load snapshot, taken once per request however many bindings or runs ask for it.
struct Load {
    std::uint64_t serial = 0;
    std::uint32_t processors = 0;
    std::uint8_t availablePercent = 0;
};
thread_local Load load;

const Load& currentLoad() {
    const std::uint64_t serial = snmp::currentRequestSerial();
    if (serial != 0 && serial == load.serial) return load;
    std::array<std::uint8_t, perf::kMaxProcessors> busy{};
    perf::samplePerformanceLoad(busy, load.processors, load.availablePercent);
    load.serial = serial;
    return load;
}

std::string connectorText(SummaryField type, SummaryField connector, SummaryField address) {
    return platform::formatText(
        "%.*s %.*s %s", static_cast<int>(summaryText(type).size()), summaryText(type).data(),
        static_cast<int>(summaryText(connector).size()), summaryText(connector).data(),
        portText(summaryNumber(address)).c_str());
}

bool userKnown() {
    std::string name;
    return platform::processUserName(name);
}

// Answers one column; false for a column this group does not serve. A fact the system cannot
// tell leaves the binding as it came.
bool fill(VarBind& b, std::uint32_t column) {
    using namespace inventory;
    switch (column) {
    case 1:
        snmp::setText(b, cut(summaryText(kSummaryProductName), kProductCap));
        return true;
    case 2: {
        platform::SystemVersion version;
        if (platform::systemVersion(version))
            snmp::setText(b, cut(platform::formatText("%s %u.%u", version.system.c_str(),
                                                      version.major, version.minor),
                                 kSystemCap));
        return true;
    }
    case 3:
        snmp::setText(b, cut(summaryText(kSummaryBusTypes), kBusTypesCap));
        return true;
    case 4: {
        const std::string_view processor = summaryText(kSummaryProcessorText);
        snmp::setText(b, platform::formatText("%.*s %uMHz", static_cast<int>(processor.size()),
                                              processor.data(),
                                              summaryNumber(kSummaryProcessorSpeed)));
        return true;
    }
    case 5:
        snmp::setInteger(b, cacheSize());
        return true;
    case 6:
        snmp::setInteger(b, summaryText(kSummaryProcessorText).size() <= kShortProcessorText
                                ? summaryNumber(kSummaryExternalCache)
                                : 0);
        return true;
    case 7:
        snmp::setInteger(b, saturatedWord(totalMemory()));
        return true;
    case 8: {
        // In whole numbers: the share of a total above 4 GiB neither wraps nor rounds.
        const std::uint64_t percent = std::min<std::uint8_t>(currentLoad().availablePercent, 100);
        const std::uint64_t total = totalMemory();
        snmp::setInteger(b, saturatedWord(total / 100 * percent + total % 100 * percent / 100));
        return true;
    }
    case 9:
        snmp::setText(
            b, cut(connectorText(kSummarySerial1Type, kSummarySerial1Connector, kSummarySerial1Io),
                   kPortCap));
        return true;
    case 10:
        snmp::setText(
            b, cut(connectorText(kSummarySerial2Type, kSummarySerial2Connector, kSummarySerial2Io),
                   kPortCap));
        return true;
    case 11:
        snmp::setText(b, cut(connectorText(kSummaryParallelType, kSummaryParallelConnector,
                                           kSummaryParallelIo),
                             kPortCap));
        return true;
    case 12:
        snmp::setText(b, cut(summaryText(kSummaryKeyboardConnector), kConnectorCap));
        return true;
    case 13:
        snmp::setText(b, cut(summaryText(kSummaryDriverText), kDriverTextCap));
        return true;
    case 14:
        snmp::setText(b, cut(summaryText(kSummaryMouseConnector), kConnectorCap));
        return true;
    case 15:
        snmp::setText(b, cut(summaryText(kSummaryBiosVersion), kBiosCap));
        return true;
    case 16: {
        std::string name;
        if (platform::computerName(name)) snmp::setText(b, cut(name, kComputerNameCap));
        return true;
    }
    case 17: {
        std::uint64_t ms = 0;
        if (platform::uptimeMs(ms)) snmp::setText(b, uptimeText(ms));
        return true;
    }
    case 19:
        snmp::setText(b, runtime::readText(runtime::kSystemDescription, kDescriptionCap));
        return true;
    case 20:
    case 22:
        snmp::setInteger(b, fixedVolumeCount());
        return true;
    case 27:
        snmp::setInteger(
            b, static_cast<std::uint32_t>(runtime::agentSettings.pollingInterval.load(relaxed)));
        return true;
    case 28:
        snmp::setInteger(b, runtime::readNumber(runtime::kVolumeUsageThreshold));
        return true;
    case 29:
        snmp::setInteger(b, currentLoad().processors);
        return true;
    case 39:
        snmp::setText(b, runtime::agentSettings.password.get());
        return true;
    case 42:
    case 43:
        return true; // written only: a read sends the binding back as it came
    case 44:
        snmp::setInteger(b, static_cast<std::uint32_t>(runtime::agentSettings.temp1.load(relaxed)));
        return true;
    case 45:
        snmp::setInteger(b, static_cast<std::uint32_t>(runtime::agentSettings.temp2.load(relaxed)));
        return true;
    case 46:
        snmp::setInteger(
            b, static_cast<std::uint32_t>(runtime::agentSettings.cpuThreshold.load(relaxed)));
        return true;
    case 47:
        snmp::setInteger(b, runtime::readNumber(runtime::kIoBusThreshold));
        return true;
    case 48:
        snmp::setInteger(b, runtime::readNumber(runtime::kMemoryThreshold));
        return true;
    case 56:
    case 58:
    case 59:
        snmp::setInteger(b, userKnown() ? 1 : 0);
        return true;
    case 61:
        snmp::setInteger(b, static_cast<std::uint32_t>(activeDriverCount()));
        return true;
    default:
        return false;
    }
}

std::uint32_t endWith(RequestRecord& request, std::uint32_t status, std::uint16_t position) {
    request.errorStatus = status;
    request.errorIndex = position;
    return status;
}

bool isInteger(const VarBind& b) {
    return b.valueTag == snmp::kTagInteger;
}

} // namespace

std::string uptimeText(std::uint64_t milliseconds) {
    const std::uint64_t s = milliseconds / 1000;
    const std::uint64_t days = s / 86400;
    const auto inDay = static_cast<unsigned>(s % 86400);
    return platform::formatText("%llu day%s  %.2u : %.2u : %.2u",
                                static_cast<unsigned long long>(days), days > 1 ? "s" : "",
                                inDay / 3600, inDay % 3600 / 60, inDay % 60);
}

std::string portText(std::uint32_t address) {
    return address != 0 ? platform::formatText("Port %Xh", address) : "Port Disabled";
}

std::uint32_t systemGroupGet(RequestRecord& request, const GroupDescriptor& group,
                             std::uint16_t first, std::uint16_t end) {
    return snmp::serveColumns(
        request, group, first, end, 1,
        [](VarBind& b, std::uint32_t column, std::uint32_t) { return fill(b, column); });
}

std::uint32_t systemGroupSet(RequestRecord& request, const GroupDescriptor& group,
                             std::uint16_t first, std::uint16_t end) {
    runtime::AgentSettings& settings = runtime::agentSettings;
    for (std::uint16_t i = first; i < end; ++i) {
        VarBind& b = *request.bindings[i];
        const auto position = static_cast<std::uint16_t>(i + 1);
        const std::uint32_t column = b.name.sub[group.oidLength];
        std::uint32_t number = 0;
        switch (column) {
        case 19: {
            std::array<char, runtime::kSystemDescription.width> text{};
            if (snmp::decodeSetText(b, text) == 0)
                return endWith(request, snmp::kBadValue, position);
            runtime::writeText(runtime::kSystemDescription, text.data());
            break;
        }
        case 27:
            // 0 would make every poller spin, and the interval is slept in milliseconds.
            if (!isInteger(b) || b.valueWord == 0 || b.valueWord > kMaxPollingSeconds)
                return endWith(request, snmp::kBadValue, position);
            settings.pollingInterval.store(static_cast<std::int32_t>(b.valueWord), relaxed);
            break;
        case 28:
            if (snmp::decodeSetNumber(b, number) == 0)
                return endWith(request, snmp::kBadValue, position);
            runtime::writeNumber(runtime::kVolumeUsageThreshold, number);
            for (int k = 0; k < runtime::kVolumeEntries; ++k)
                runtime::writeNumber(
                    runtime::kUsedVolumeThresholds + 4 * static_cast<std::size_t>(k), number);
            break;
        case 39:
            // The value word of anything but a string is no length; a longer text than the
            // field holds is refused whole rather than stored cut.
            if (b.valueTag != snmp::kTagOctetString)
                return endWith(request, snmp::kGenErr, position);
            if (b.valueWord > kPasswordCap) return endWith(request, snmp::kBadValue, position);
            settings.password.set(
                std::string_view(reinterpret_cast<const char*>(b.valueBytes.data()), b.valueWord));
            break;
        case 42:
        case 43: {
            // The manager learns how this request reached the agent; nothing is kept.
            const std::uint32_t mode = request.linkMode;
            b.valueTag = snmp::kTagOctetString;
            b.valueWord = 4;
            for (std::size_t k = 0; k < 4; ++k)
                b.valueBytes[k] = static_cast<std::uint8_t>(mode >> (8 * k));
            continue;
        }
        case 44:
        case 45: {
            const auto value = static_cast<std::int32_t>(b.valueWord);
            // The driver takes 16 bits: a value that does not fit is refused before anything is
            // sent, never passed on cut.
            if (!isInteger(b) || !fitsTemperatureLimit(value))
                return endWith(request, snmp::kBadValue, position);
            const bool done = column == 44
                                  ? setTemperatureLimits(value, settings.temp2.load(relaxed))
                                  : setTemperatureLimits(settings.temp1.load(relaxed), value);
            if (!done) {
                snmp::recordError(request, snmp::kGenErr, position);
                continue;
            }
            break;
        }
        case 46:
            if (!isInteger(b)) return endWith(request, snmp::kBadValue, position);
            settings.cpuThreshold.store(static_cast<std::int32_t>(b.valueWord), relaxed);
            break;
        case 47: {
            if (snmp::decodeSetNumber(b, number) == 0)
                return endWith(request, snmp::kBadValue, position);
            runtime::writeNumber(runtime::kIoBusThreshold, number);
            const std::array<std::uint8_t, 4> input = {
                static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
            std::uint32_t returned = 0;
            // The value is the agent's to keep; whether the driver takes it does not change that.
            platform::deviceIoControl(runtime::koruHandle, runtime::kIoctlIoBus, input, {},
                                      returned);
            break;
        }
        case 48:
            if (snmp::decodeSetNumber(b, number) == 0)
                return endWith(request, snmp::kBadValue, position);
            runtime::writeNumber(runtime::kMemoryThreshold, number);
            break;
        default:
            snmp::recordError(request, snmp::kNoSuchName, position);
            continue;
        }
        runtime::markConfigChanged();
    }
    return request.errorStatus;
}

} // namespace farlink::system
