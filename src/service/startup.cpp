#include "service/startup.h"

#include "config/config_file.h"
#include "config/config_thread.h"
#include "inventory/dmi.h"
#include "link/serial_setup.h"
#include "platform/console.h"
#include "platform/device_io.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/shared_memory.h"
#include "platform/threads.h"
#include "service/events.h"
#include "service/shared_block.h"
#include "system/services.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace farlink::service {

std::array<std::uint32_t, 4> driverItemRowCounts{};
std::uint32_t table13FirstRowAbsent = 0;
std::uint32_t table13SecondRowAbsent = 0;
std::array<std::uint8_t, kConfigurationAnswerSize> configurationAnswer{};
std::uint32_t configurationAnswerLength = 0;
std::array<char, 160> configuredDriver{};
std::uint32_t totalMemory = 0;
std::array<EisaSlotRecord, kEisaSlotCount> eisaSlots{};

namespace {

// The in-band agent may still be starting: a retry every two seconds, and from the twelfth on a
// nudge to the service that hosts it.
constexpr int kMappingRetries = 22;
constexpr int kFirstRetryWithServiceStart = 12;
constexpr std::uint32_t kMappingRetryMs = 2000;
constexpr std::uint32_t kServiceStartWaitMs = 1000;

constexpr std::size_t kRowCountsAnswerSize = 200;
constexpr std::size_t kEisaAnswerSize = 9216;
constexpr std::size_t kEisaEntrySize = 92;

// Where the fields of the configuration answer lie.
constexpr std::size_t kAnswerKind = 0;
constexpr std::size_t kAnswerVersion = 1;
constexpr std::size_t kAnswerDriverText = 8;
constexpr std::size_t kAnswerDriverTextWidth = 15; // up to the drive type byte
constexpr std::size_t kAnswerDriveType = 23;
constexpr std::size_t kAnswerTotalMemory = 24;
constexpr std::size_t kAnswerSerial1Io = 28;
constexpr std::size_t kAnswerSerial2Io = 30;
constexpr std::size_t kAnswerParallelIo = 32;
constexpr std::size_t kAnswerData = 36;
constexpr std::size_t kAnswerBusTypes = 36;
constexpr std::size_t kAnswerBusTypesWidth = 16; // up to the product name
constexpr std::size_t kAnswerProductName = 52;

constexpr std::uint32_t kP55cModel = 0x40;

// A second handle of the driver, held open for the life of the process as the driver has always
// been used; nothing sends requests through it.
platform::DeviceHandle spareKoruHandle = nullptr;

std::atomic<ProcessExit> processExit{nullptr};
std::atomic<ThreadStarter> threadStarter{nullptr};

// A driver answer is read only as far as the driver filled it: a field that lies wholly or partly
// beyond the returned length reads as zero bytes there.
std::uint8_t answerByte(std::span<const std::uint8_t> answer, std::size_t offset) {
    return offset < answer.size() ? answer[offset] : 0;
}

std::uint32_t answerWord(std::span<const std::uint8_t> answer, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(answerByte(answer, offset + i)) << (8 * i);
    return value;
}

// A text of the answer up to its terminator, within `most` bytes and within the answer.
std::string_view answerText(std::span<const std::uint8_t> answer, std::size_t offset,
                            std::size_t most) {
    if (offset >= answer.size()) return {};
    const char* text = reinterpret_cast<const char*>(answer.data() + offset);
    return {text, strnlen(text, std::min(most, answer.size() - offset))};
}

void copyToSummary(std::span<const std::uint8_t> answer, std::size_t offset,
                   inventory::SummaryField field) {
    for (std::size_t i = 0; i < field.width; ++i)
        inventory::dmiSummary[field.offset + i] = answerByte(answer, offset + i);
}

void setSummaryText(inventory::SummaryField field, std::string_view text) {
    inventory::setSummaryText(field, text.data(), text.size());
}

std::string_view summaryText(inventory::SummaryField field) {
    const char* text = reinterpret_cast<const char*>(inventory::dmiSummary.data() + field.offset);
    return {text, strnlen(text, field.width - 1)};
}

void readConfiguredDriver() {
    platform::getProfileString("environment", "driver", "", configuredDriver.data(),
                               static_cast<std::uint32_t>(configuredDriver.size()),
                               config::kConfigFile);
}

std::string_view configuredDriverText() {
    return {configuredDriver.data(), strnlen(configuredDriver.data(), configuredDriver.size())};
}

// An operator must learn that the installed driver and the configuration belong to different
// models before the service ends.
int refuseDriver() {
    const std::string text =
        platform::formatText("Configuration driver does mistake: %d", platform::lastError());
    platform::messageBox("The driver of the KORU-Agent is uncompatible !!\n You must reinstall "
                         "KORU-Agent for Windows NT.",
                         "Windows NT Agent", platform::kMessageOk);
    reportEvent(kEventWarning, text);
    return 1;
}

// Waits for the in-band agent's block; false after the last retry.
bool openAgentBlock(platform::SharedMapping& mapping) {
    const std::string name = platform::sharedBlockName();
    if (platform::openSharedMapping(name, mapping)) return true;
    for (int retry = 1; retry <= kMappingRetries; ++retry) {
        platform::sleepMs(kMappingRetryMs);
        if (platform::openSharedMapping(name, mapping)) return true;
        if (retry >= kFirstRetryWithServiceStart) {
            system::startService("SNMP");
            platform::sleepMs(kServiceStartWaitMs);
        }
    }
    return false;
}

// The table 13 count comes from one byte, so it can be 0; a row taken away from an empty table
// leaves it empty rather than wrapping to a huge count.
void dropTable13Row(std::uint32_t& absentFlag) {
    absentFlag = 1;
    if (driverItemRowCounts[kTable13] > 0) --driverItemRowCounts[kTable13];
}

void adjustForModel() {
    const std::uint32_t model = inventory::processorModelNibble;
    if (model != kP55cModel) {
        readConfiguredDriver();
        if (configuredDriverText() == "T4") dropTable13Row(table13FirstRowAbsent);
    } else {
        std::uint32_t returned = 0;
        if (!platform::deviceIoControl(koruHandle, kIoctlSetVoltageP55C, {}, {}, returned)) {
            reportEvent(kEventWarning, "IOCTL_SET_VOLTAGE_P55C failed");
            return;
        }
    }
    if (driverItemRowCounts[kTable12] > inventory::centralProcessorCount) {
        if (!(configuredDriverText() == "T6B" && model == kP55cModel))
            dropTable13Row(table13SecondRowAbsent);
        --driverItemRowCounts[kTable12];
    }
}

} // namespace

int checkDriverCompatibility(std::span<const std::uint8_t> answer) {
    setSummaryText(inventory::kSummaryDriverText,
                   answerText(answer, kAnswerDriverText, kAnswerDriverTextWidth));
    copyToSummary(answer, kAnswerDriveType, inventory::kSummaryDriveType);
    copyToSummary(answer, kAnswerSerial1Io, inventory::kSummarySerial1Io);
    copyToSummary(answer, kAnswerSerial2Io, inventory::kSummarySerial2Io);
    copyToSummary(answer, kAnswerParallelIo, inventory::kSummaryParallelIo);

    if (answerByte(answer, kAnswerKind) == 0) {
        // The older driver has no DMI data: it names its buses, its model and the memory itself.
        setSummaryText(inventory::kSummaryBusTypes,
                       answerText(answer, kAnswerBusTypes, kAnswerBusTypesWidth));
        setSummaryText(inventory::kSummaryProductName,
                       answerText(answer, kAnswerProductName, answer.size()));
        readConfiguredDriver();
        if (configuredDriverText() != "N/A") return refuseDriver();
        totalMemory = answerWord(answer, kAnswerTotalMemory);
        // The summary carries the total as well, so that every reader of it sees the same.
        copyToSummary(answer, kAnswerTotalMemory, inventory::kSummaryTotalMemory);
        return 0;
    }

    const std::span<const std::uint8_t> data =
        answer.size() > kAnswerData ? answer.subspan(kAnswerData) : std::span<const std::uint8_t>{};
    if ((answerByte(answer, kAnswerVersion) >> 4) >= 2) {
        inventory::parseDmiTable(data.empty() ? nullptr : data.data(), data.size());
    } else {
        for (std::size_t i = 0; i < inventory::kSummarySize; ++i)
            inventory::dmiSummary[i] = answerByte(data, i);
    }
    readConfiguredDriver();
    const std::string_view product = summaryText(inventory::kSummaryProductName);
    if (configuredDriverText() != product) return refuseDriver();

    // The model file may give the product a friendlier name; the summary field keeps 19
    // characters of it.
    char modelName[256];
    const std::string section(product);
    const std::uint32_t n = platform::getProfileString(section, "productname", "", modelName,
                                                       sizeof modelName, config::kModelFile);
    if (n > 0) setSummaryText(inventory::kSummaryProductName, std::string_view(modelName, n));

    std::uint32_t total = 0;
    std::memcpy(&total, inventory::dmiSummary.data() + inventory::kSummaryTotalMemory.offset,
                sizeof total);
    totalMemory = total;
    return 0;
}

int gatherDriverData() {
    // Handles of an earlier gathering in this process are given back before new ones are taken.
    for (platform::DeviceHandle* handle : {&koruHandle, &spareKoruHandle}) {
        if (*handle != nullptr) platform::closeDevice(*handle);
        *handle = nullptr;
    }
    koruHandle = platform::openDevice(kKoruDevice, platform::kDeviceRead);
    if (koruHandle == nullptr) return 0;
    spareKoruHandle = platform::openDevice(kKoruDevice, platform::kDeviceRead);
    if (spareKoruHandle == nullptr) return 0;

    std::array<std::uint8_t, kRowCountsAnswerSize> counts{};
    std::uint32_t returned = 0;
    if (!platform::deviceIoControl(koruHandle, kIoctlRowCounts, {}, counts, returned)) return 0;
    for (std::size_t i = 0; i < driverItemRowCounts.size() && i < returned; ++i)
        driverItemRowCounts[i] = counts[i];

    returned = 0;
    if (!platform::deviceIoControl(koruHandle, kIoctlConfiguration, {}, configurationAnswer,
                                   returned))
        return 0;
    configurationAnswerLength = std::min<std::uint32_t>(returned, kConfigurationAnswerSize);
    const std::span<const std::uint8_t> answer =
        std::span<const std::uint8_t>(configurationAnswer).first(configurationAnswerLength);
    if (checkDriverCompatibility(answer) != 0) return 1;

    // The performance data reader is set up here and handed totalMemory, once it exists.

    adjustForModel();
    return 0;
}

void readEisaSlots() {
    platform::DeviceHandle device =
        platform::openDevice(kKoruDevice, platform::kDeviceRead | platform::kDeviceWrite);
    if (device == nullptr) return;
    std::array<std::uint8_t, kEisaAnswerSize> answer{};
    std::uint32_t returned = 0;
    if (!platform::deviceIoControl(device, kIoctlEisaSlots, {}, answer, returned)) {
        platform::closeDevice(device);
        return;
    }
    for (EisaSlotRecord& slot : eisaSlots)
        slot.text.fill('\0');

    const std::span<const std::uint8_t> received =
        std::span<const std::uint8_t>(answer).first(std::min<std::size_t>(returned, answer.size()));
    // The count says how many entries follow; only the entries the driver actually returned
    // are read.
    const std::size_t present =
        received.size() > 4 ? (received.size() - 4) / kEisaEntrySize : std::size_t{0};
    const std::size_t entries = std::min<std::size_t>(answerWord(received, 0), present);
    for (std::size_t e = 0; e < entries; ++e) {
        const std::size_t at = 4 + e * kEisaEntrySize;
        const std::uint32_t id = answerWord(received, at);
        const std::uint32_t slotNumber = answerWord(received, at + 4);
        const std::uint32_t slotType = answerWord(received, at + 8);
        if (slotNumber < 1 || slotNumber > kEisaSlotCount) continue;
        EisaSlotRecord& slot = eisaSlots[slotNumber - 1];
        if (slotType == kEisaSlotBoard) {
            slot.slotNumber = slotNumber;
            slot.slotType = kEisaSlotBoard;
            if (id != 0)
                std::snprintf(slot.text.data(), slot.text.size(), "Eisa compressed Id : 0x%X\n",
                              static_cast<unsigned>(id));
        } else if (slotType == kEisaSlotEmbedded) {
            slot.slotNumber = slotNumber;
            slot.slotType = kEisaSlotEmbedded;
        }
    }
    platform::closeDevice(device);
}

int runStartUp() {
    if (!registerEventSource()) return 1;

    platform::SharedMapping mapping;
    if (!openAgentBlock(mapping)) {
        platform::messageBox("Before start FARLINK you must start SNMP service", "Koru-Agent",
                             platform::kMessageQuestion);
        system::stopService(kServiceName);
        return 1;
    }
    // The agent reads and writes the block's first bytes in place; a smaller region is not the
    // in-band agent's block.
    if (mapping.size < kSharedBlockSize) {
        platform::closeSharedMapping(mapping);
        reportEvent(kEventStartFailure, "MapViewOf File Failure");
        return 1;
    }
    attachSharedBlock(std::span<std::uint8_t>(mapping.base, mapping.size));

    if (!platform::fileExists(platform::profilePath(config::kConfigFile))) {
        reportEvent(kEventWarning, platform::formatText("Configuration file does not exist: %d",
                                                        platform::lastError()));
        return 1;
    }

    if (gatherDriverData() != 0) return 1;
    readEisaSlots();
    // The storage adapter table and then the disk table join here, in that order.
    system::takeActiveDriverList();
    // The network adapters join here; when they cannot be set up, "Unable to init NIC driver".

    if (!startAgentThread([] { config::configurationThread(); })) {
        reportEvent(kEventWriteThread, platform::formatText("Failed to create thread for "
                                                            "WriteToINI: %d",
                                                            platform::lastError()));
        return 1;
    }
    if (!startAgentThread([] { link::outOfBandThread(); })) {
        reportEvent(kEventStartFailure,
                    platform::formatText("Failed to create thread for Out-Of-Band: %d",
                                         platform::lastError()));
        return 1;
    }
    return 0;
}

void startUpWorker() {
    const int code = runStartUp();
    if (code == 0) return;
    const ProcessExit exit = processExit.load(std::memory_order_relaxed);
    if (exit != nullptr)
        exit(code);
    else
        platform::exitProcess(code);
}

void setProcessExit(ProcessExit exit) {
    processExit.store(exit, std::memory_order_relaxed);
}

void setThreadStarter(ThreadStarter starter) {
    threadStarter.store(starter, std::memory_order_relaxed);
}

bool startAgentThread(std::function<void()> body) {
    const ThreadStarter starter = threadStarter.load(std::memory_order_relaxed);
    return starter != nullptr ? starter(std::move(body)) : platform::startThread(std::move(body));
}

} // namespace farlink::service
