#include "system/driver_groups.h"

#include "inventory/driver_answer.h"
#include "perf/perf_reader.h"
#include "platform/device_io.h"
#include "runtime/agent_settings.h"
#include "runtime/koru.h"
#include "snmp/dispatch.h"
#include "system/item_list.h"
#include "system/temperature_limits.h"

#include <algorithm>
#include <array>
#include <atomic>

namespace farlink::system {

namespace {

using snmp::VarBind;

constexpr auto relaxed = std::memory_order_relaxed;

// The driver measures processors 0 to 3 only.
constexpr std::uint32_t kMeasuredProcessors = 4;

// Processor table columns.
enum : std::uint32_t {
    kColIndex = 1,
    kColBusy = 2,
    kColCpuSetting = 3,
    kColReading16 = 4,
    kColLowerLimit = 5,
    kColUpperLimit = 6,
    kColReading32 = 7,
    kColAlways = 8,
    kColPrivileged = 9,
    kColUser = 10,
    kColInterrupt = 11,
};

// Driver information values that this agent answers with whatever driver it talks to.
constexpr std::uint32_t kInterfaceLevel = 2;
constexpr std::uint32_t kPollSeconds = 120;

std::uint16_t positionOf(std::uint16_t i) {
    return static_cast<std::uint16_t>(i + 1);
}

std::uint32_t endWith(RequestRecord& request, std::uint32_t status, std::uint16_t position) {
    request.errorStatus = status;
    request.errorIndex = position;
    return status;
}

// One driver request into a zeroed buffer of this call; only the bytes the driver returned are
// handed on, none when the request failed, so a failed or short read never shows stale bytes.
template <std::size_t N>
std::span<const std::uint8_t> askDriver(std::uint32_t code, std::array<std::uint8_t, N>& buffer) {
    buffer.fill(0);
    std::uint32_t returned = 0;
    if (!platform::deviceIoControl(runtime::koruHandle, code, {}, buffer, returned)) return {};
    return std::span<const std::uint8_t>(buffer).first(std::min<std::size_t>(returned, N));
}

struct ProcessorReadings {
    std::array<std::uint32_t, kMeasuredProcessors> signed16{};
    std::array<std::uint32_t, kMeasuredProcessors> word32{};
};

ProcessorReadings readProcessors() {
    ProcessorReadings readings;
    std::array<std::uint8_t, 2 * kMeasuredProcessors> small{};
    const auto a = askDriver(runtime::kIoctlProcessorReadings16, small);
    for (std::size_t i = 0; i < kMeasuredProcessors && 2 * i + 2 <= a.size(); ++i) {
        const auto value = static_cast<std::int16_t>(a[2 * i] | a[2 * i + 1] << 8);
        readings.signed16[i] = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
    }
    std::array<std::uint8_t, 4 * kMeasuredProcessors> large{};
    const auto b = askDriver(runtime::kIoctlProcessorReadings32, large);
    for (std::size_t i = 0; i < kMeasuredProcessors && 4 * i + 4 <= b.size(); ++i)
        readings.word32[i] = inventory::answerWord(b, 4 * i);
    return readings;
}

std::uint32_t currentProcessorCount() {
    std::array<std::uint8_t, perf::kMaxProcessors> busy{};
    std::uint32_t count = 0;
    std::uint8_t available = 0;
    perf::samplePerformanceLoad(busy, count, available);
    return count;
}

// The list row that instance x of table 13 stands for, past the rows this machine lacks.
std::uint32_t table13Row(std::uint32_t instance) {
    if (inventory::table13FirstRowAbsent != 0) return instance + 1;
    if (inventory::table13SecondRowAbsent != 0) return instance == 0 ? 0 : instance + 1;
    return instance;
}

std::uint32_t serveItemTable(RequestRecord& request, const GroupDescriptor& group,
                             std::uint16_t first, std::uint16_t end, int table,
                             std::uint32_t code) {
    std::array<std::uint8_t, kItemListSize> buffer;
    const std::span<const std::uint8_t> answer = askDriver(code, buffer);
    const bool fourValues = table == inventory::kTable13;
    const std::size_t valueCount = fourValues ? 4 : 1;
    return snmp::serveColumns(request, group, first, end, inventory::driverItemRowCounts[table],
                              [&](VarBind& b, std::uint32_t column, std::uint32_t instance) {
                                  if (column == 0 || column > 1 + valueCount) return false;
                                  const std::uint32_t row =
                                      fourValues ? table13Row(instance) : instance;
                                  const ItemRow item = readItemRow(answer, row, valueCount);
                                  if (column == 1)
                                      snmp::setText(b, item.name);
                                  else
                                      snmp::setInteger(b, item.values[column - 2]);
                                  return true;
                              });
}

} // namespace

std::uint32_t processorTableGet(RequestRecord& request, const GroupDescriptor& group,
                                std::uint16_t first, std::uint16_t end) {
    const std::uint32_t count = currentProcessorCount();
    const ProcessorReadings readings = readProcessors();
    const runtime::AgentSettings& settings = runtime::agentSettings;
    return snmp::serveColumns(
        request, group, first, end, count, [&](VarBind& b, std::uint32_t column, std::uint32_t i) {
            const bool measured = i < kMeasuredProcessors;
            std::uint32_t value = 0;
            switch (column) {
            case kColIndex:
                value = i;
                break;
            case kColBusy:
                value = perf::processorCounterValue(0, i);
                break;
            case kColCpuSetting:
                value = static_cast<std::uint32_t>(settings.cpuThreshold.load(relaxed));
                break;
            case kColReading16:
                value = measured ? readings.signed16[i] : 0;
                break;
            case kColLowerLimit:
                value = static_cast<std::uint32_t>(settings.temp1.load(relaxed));
                break;
            case kColUpperLimit:
                value = static_cast<std::uint32_t>(settings.temp2.load(relaxed));
                break;
            case kColReading32:
                value = measured ? readings.word32[i] : 0;
                break;
            case kColAlways:
                value = 0xFFFFFFFF;
                break;
            case kColPrivileged:
            case kColUser:
            case kColInterrupt:
                value = perf::processorCounterValue(column - kColPrivileged + 1, i);
                break;
            default:
                return false;
            }
            snmp::setInteger(b, value);
            return true;
        });
}

// The limits change only when one request carries both of them: the second of the two columns
// sends the pair, so the driver never sees a lower limit paired with a stale upper one.
std::uint32_t processorTableSet(RequestRecord& request, const GroupDescriptor& group,
                                std::uint16_t first, std::uint16_t end) {
    const std::uint32_t n = group.oidLength;
    const std::uint32_t count = currentProcessorCount();
    runtime::AgentSettings& settings = runtime::agentSettings;
    std::int32_t lower = -1;
    std::int32_t upper = -1;
    for (std::uint16_t i = first; i < end; ++i) {
        const VarBind& b = *request.bindings[i];
        const std::uint16_t position = positionOf(i);
        if (b.name.sub[n + 1] >= count) return endWith(request, snmp::kGenErr, position);
        const std::uint32_t column = b.name.sub[n];
        if (column != kColCpuSetting && column != kColLowerLimit && column != kColUpperLimit)
            return endWith(request, snmp::kNoSuchName, position);
        const auto value = static_cast<std::int32_t>(b.valueWord);
        if (b.valueTag != snmp::kTagInteger ||
            (column != kColCpuSetting && !fitsTemperatureLimit(value)))
            return endWith(request, snmp::kBadValue, position);
        if (column == kColCpuSetting) {
            settings.cpuThreshold.store(value, relaxed);
        } else {
            (column == kColLowerLimit ? lower : upper) = value;
            const bool pair = column == kColLowerLimit ? upper != -1 : lower != -1;
            if (pair && !setTemperatureLimits(lower, upper))
                snmp::recordError(request, snmp::kGenErr, position);
        }
        runtime::markConfigChanged();
    }
    return request.errorStatus;
}

std::uint32_t driverInformationGet(RequestRecord& request, const GroupDescriptor& group,
                                   std::uint16_t first, std::uint16_t end) {
    const std::span<const std::uint8_t> answer =
        std::span<const std::uint8_t>(inventory::configurationAnswer)
            .first(std::min<std::size_t>(inventory::configurationAnswerLength,
                                         inventory::configurationAnswer.size()));
    return snmp::serveColumns(request, group, first, end, 1,
                              [&](VarBind& b, std::uint32_t column, std::uint32_t) {
                                  std::uint32_t value = 0;
                                  switch (column) {
                                  case 1:
                                      value = kInterfaceLevel;
                                      break;
                                  case 2:
                                      value = inventory::answerByte(answer, 2);
                                      break;
                                  case 3: {
                                      // The version byte holds two decimal digits, major and minor.
                                      const std::uint8_t version = inventory::answerByte(answer, 1);
                                      if (inventory::answerByte(answer, 0) != 0)
                                          value = ((version >> 4) * 10u + (version & 0x0Fu)) * 10u;
                                      break;
                                  }
                                  case 5:
                                      value = kPollSeconds;
                                      break;
                                  default:
                                      return false;
                                  }
                                  if (group.column(column).valueTag != snmp::kTagInteger)
                                      return false;
                                  snmp::setInteger(b, value);
                                  return true;
                              });
}

std::uint32_t driverItemCountsGet(RequestRecord& request, const GroupDescriptor& group,
                                  std::uint16_t first, std::uint16_t end) {
    return snmp::serveColumns(request, group, first, end, 1,
                              [](VarBind& b, std::uint32_t column, std::uint32_t) {
                                  if (column < 1 || column > inventory::driverItemRowCounts.size())
                                      return false;
                                  snmp::setInteger(b, inventory::driverItemRowCounts[column - 1]);
                                  return true;
                              });
}

std::uint32_t driverItemTable11Get(RequestRecord& request, const GroupDescriptor& group,
                                   std::uint16_t first, std::uint16_t end) {
    return serveItemTable(request, group, first, end, inventory::kTable11,
                          runtime::kIoctlItemTable11);
}

std::uint32_t driverItemTable12Get(RequestRecord& request, const GroupDescriptor& group,
                                   std::uint16_t first, std::uint16_t end) {
    return serveItemTable(request, group, first, end, inventory::kTable12,
                          runtime::kIoctlItemTable12);
}

std::uint32_t driverItemTable13Get(RequestRecord& request, const GroupDescriptor& group,
                                   std::uint16_t first, std::uint16_t end) {
    return serveItemTable(request, group, first, end, inventory::kTable13,
                          runtime::kIoctlItemTable13);
}

std::uint32_t driverItemTable14Get(RequestRecord& request, const GroupDescriptor& group,
                                   std::uint16_t first, std::uint16_t end) {
    return serveItemTable(request, group, first, end, inventory::kTable14,
                          runtime::kIoctlItemTable14);
}

} // namespace farlink::system
