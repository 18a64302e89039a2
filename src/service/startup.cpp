#include "service/startup.h"

#include "adapters/discovery.h"
#include "config/config_thread.h"
#include "inventory/disks.h"
#include "inventory/dmi.h"
#include "inventory/driver_answer.h"
#include "inventory/eisa.h"
#include "inventory/storage_adapters.h"
#include "inventory/system_resource_groups.h"
#include "link/serial_setup.h"
#include "perf/counter_groups.h"
#include "perf/perf_reader.h"
#include "platform/console.h"
#include "platform/device_io.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/service_host.h"
#include "platform/shared_memory.h"
#include "platform/system_facts.h"
#include "platform/threads.h"
#include "runtime/agent_settings.h"
#include "runtime/events.h"
#include "runtime/shared_block.h"
#include "system/services.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace farlink::service {

std::array<char, 160> configuredDriver{};

namespace {

// The in-band agent may still be starting: a retry every two seconds, and from the twelfth on a
// nudge to the service that hosts it.
constexpr int kMappingRetries = 22;
constexpr int kFirstRetryWithServiceStart = 12;
constexpr std::uint32_t kMappingRetryMs = 2000;
constexpr std::uint32_t kServiceStartWaitMs = 1000;

constexpr std::size_t kRowCountsAnswerSize = 200;

constexpr std::uint32_t kP55cModel = 0x40;

// A second handle of the driver, held open for the life of the process as the driver has always
// been used; nothing sends requests through it.
platform::DeviceHandle spareKoruHandle = nullptr;

std::atomic<ProcessExit> processExit{nullptr};
std::atomic<ThreadStarter> threadStarter{nullptr};

void readConfiguredDriver() {
    platform::getProfileString("environment", "driver", "", configuredDriver.data(),
                               static_cast<std::uint32_t>(configuredDriver.size()),
                               runtime::kConfigFile);
}

std::string_view configuredDriverText() {
    return {configuredDriver.data(), strnlen(configuredDriver.data(), configuredDriver.size())};
}

// An operator must learn that the installed driver and the configuration belong to different
// models before the service ends, and whether the configuration could be read at all.
int refuseDriver(std::string_view expectedDriver) {
    const std::string path = platform::profilePath(runtime::kConfigFile);
    std::string why;
    int error = 0;
    if (!platform::fileReadable(path)) {
        error = platform::lastError();
        why = path + ": " + platform::errorText(error);
    } else {
        why = path + " names driver \"" + std::string(configuredDriverText()) +
              "\" in [environment]; the installed driver is \"" + std::string(expectedDriver) +
              "\"";
    }
    platform::messageBox("The driver of the KORU-Agent is uncompatible !!\n You must reinstall "
                         "KORU-Agent for Windows NT.",
                         "Windows NT Agent", platform::kMessageOk);
    runtime::reportEvent(
        runtime::kEventWarning,
        platform::formatText("Configuration driver does mistake: %d (%s)", error, why.c_str()));
    return 1;
}

enum class BlockOpen { Opened, Absent, Refused };

// One attempt; a block that exists but may not be trusted, or is too small for the agent's
// fields, is refused at once with the reason: waiting would not make it the suite's.
BlockOpen tryAgentBlock(const std::string& name, platform::SharedRegion& region) {
    std::string refusal;
    if (platform::openSharedRegion(name, runtime::kSharedBlockSize, region, refusal))
        return BlockOpen::Opened;
    if (refusal.empty() && platform::lastError() == 2) return BlockOpen::Absent;
    if (refusal.empty()) refusal = platform::errorText(platform::lastError());
    const std::string text = "Shared agent block \"" + name + "\" is not taken: " + refusal;
    platform::messageBox(text, "Koru-Agent", platform::kMessageOk);
    runtime::reportEvent(runtime::kEventStartFailure, "MapViewOf File Failure: " + text);
    return BlockOpen::Refused;
}

// Waits for the in-band agent's block; Absent after the last retry.
BlockOpen openAgentBlock(platform::SharedRegion& region) {
    const std::string name = platform::sharedBlockName();
    BlockOpen result = tryAgentBlock(name, region);
    for (int retry = 1; retry <= kMappingRetries && result == BlockOpen::Absent; ++retry) {
        platform::sleepMs(kMappingRetryMs);
        result = tryAgentBlock(name, region);
        if (result == BlockOpen::Absent && retry >= kFirstRetryWithServiceStart) {
            system::startService("SNMP");
            platform::sleepMs(kServiceStartWaitMs);
        }
    }
    return result;
}

void adjustForModel() {
    const std::uint32_t model = inventory::processorModelNibble;
    if (model != kP55cModel) {
        readConfiguredDriver();
        if (configuredDriverText() == "T4")
            inventory::dropTable13Row(inventory::table13FirstRowAbsent);
    } else {
        std::uint32_t returned = 0;
        if (!platform::deviceIoControl(runtime::koruHandle, runtime::kIoctlSetVoltageP55C, {}, {},
                                       returned)) {
            runtime::reportEvent(runtime::kEventWarning, "IOCTL_SET_VOLTAGE_P55C failed");
            return;
        }
    }
    if (inventory::driverItemRowCounts[inventory::kTable12] > inventory::centralProcessorCount) {
        if (!(configuredDriverText() == "T6B" && model == kP55cModel))
            inventory::dropTable13Row(inventory::table13SecondRowAbsent);
        --inventory::driverItemRowCounts[inventory::kTable12];
    }
}

} // namespace

int checkDriverCompatibility(std::span<const std::uint8_t> answer) {
    const inventory::AnswerSummary summary = inventory::summarizeConfigurationAnswer(answer);
    readConfiguredDriver();
    if (configuredDriverText() != summary.expectedDriver)
        return refuseDriver(summary.expectedDriver);

    if (!summary.olderDriver) {
        // The model file may give the product a friendlier name; the summary field keeps 19
        // characters of it.
        char modelName[256];
        const std::uint32_t n =
            platform::getProfileString(summary.expectedDriver, "productname", "", modelName,
                                       sizeof modelName, runtime::kModelFile);
        if (n > 0) inventory::setSummaryText(inventory::kSummaryProductName, modelName, n);
    }
    inventory::totalMemory = inventory::summaryTotalMemory();
    return 0;
}

int gatherDriverData() {
    // Handles of an earlier gathering in this process are given back before new ones are taken.
    for (platform::DeviceHandle* handle : {&runtime::koruHandle, &spareKoruHandle}) {
        if (*handle != nullptr) platform::closeDevice(*handle);
        *handle = nullptr;
    }
    runtime::koruHandle = platform::openDevice(runtime::kKoruDevice, platform::kDeviceRead);
    if (runtime::koruHandle == nullptr) return 0;
    spareKoruHandle = platform::openDevice(runtime::kKoruDevice, platform::kDeviceRead);
    if (spareKoruHandle == nullptr) return 0;

    std::array<std::uint8_t, kRowCountsAnswerSize> counts{};
    std::uint32_t returned = 0;
    if (!platform::deviceIoControl(runtime::koruHandle, runtime::kIoctlRowCounts, {}, counts,
                                   returned))
        return 0;
    inventory::takeRowCounts(std::span<const std::uint8_t>(counts).first(
        std::min<std::size_t>(returned, counts.size())));

    returned = 0;
    if (!platform::deviceIoControl(runtime::koruHandle, runtime::kIoctlConfiguration, {},
                                   inventory::configurationAnswer, returned))
        return 0;
    inventory::configurationAnswerLength =
        std::min<std::uint32_t>(returned, runtime::kConfigurationAnswerSize);
    const std::span<const std::uint8_t> answer =
        std::span<const std::uint8_t>(inventory::configurationAnswer)
            .first(inventory::configurationAnswerLength);
    if (checkDriverCompatibility(answer) != 0) return 1;

    // The performance data reader follows this step in runStartUp: it needs no driver.

    adjustForModel();
    return 0;
}

void readEisaSlots() {
    platform::DeviceHandle device =
        platform::openDevice(runtime::kKoruDevice, platform::kDeviceRead | platform::kDeviceWrite);
    if (device == nullptr) return;
    std::array<std::uint8_t, inventory::kEisaAnswerSize> answer{};
    std::uint32_t returned = 0;
    if (platform::deviceIoControl(device, runtime::kIoctlEisaSlots, {}, answer, returned))
        inventory::takeEisaSlots(std::span<const std::uint8_t>(answer).first(
            std::min<std::size_t>(returned, answer.size())));
    platform::closeDevice(device);
}

int runStartUp() {
    if (!runtime::registerEventSource()) return 1;

    platform::SharedRegion region;
    const BlockOpen block = openAgentBlock(region);
    if (block == BlockOpen::Refused) return 1;
    if (block == BlockOpen::Absent) {
        platform::messageBox("Before start FARLINK you must start SNMP service", "Koru-Agent",
                             platform::kMessageQuestion);
        system::stopService(runtime::kServiceName);
        return 1;
    }
    runtime::attachSharedBlock(platform::sharedBlockName(), region);

    const std::string configPath = platform::profilePath(runtime::kConfigFile);
    if (!platform::fileExists(configPath)) {
        const int error = platform::lastError();
        runtime::reportEvent(runtime::kEventWarning,
                             platform::formatText("Configuration file does not exist: %d (%s: %s)",
                                                  error, configPath.c_str(),
                                                  platform::errorText(error).c_str()));
        return 1;
    }

    if (gatherDriverData() != 0) return 1;
    // The counters are the system's, not the driver's: the reader is set up whether or not the
    // driver answered, and takes the machine's own memory size when the driver told none.
    perf::initPerformanceData();
    perf::setPerformanceTotalMemory(inventory::totalMemory != 0 ? inventory::totalMemory
                                                                : platform::physicalMemoryBytes());
    // After the driver's summary record, which would overwrite them, and before any port
    // thread reads them.
    inventory::recordResourceGroupVersion();
    readEisaSlots();
    // The disks find their adapters by driver name: the adapter table comes first.
    inventory::buildStorageAdapterTable();
    inventory::buildDiskTable();
    system::takeActiveDriverList();
    perf::takeAccountName();
    // Each adapter found gets its poller here; the agent serves on without the ones that failed.
    if (adapters::initNic() == 0) platform::printText("Unable to init NIC driver\n");

    config::loadConfiguration();
    if (!startAgentThread([] { config::configurationThread(); })) {
        runtime::reportEvent(runtime::kEventWriteThread,
                             platform::formatText("Failed to create thread for "
                                                  "WriteToINI: %d",
                                                  platform::lastError()));
        return 1;
    }
    if (!startAgentThread([] { link::outOfBandThread(); })) {
        runtime::reportEvent(runtime::kEventStartFailure,
                             platform::formatText("Failed to create thread for Out-Of-Band: %d",
                                                  platform::lastError()));
        return 1;
    }
    // The checks have passed and the agent's threads run: the service manager may now count on
    // it. The status line is the out-of-band thread's: it tells which lines it serves.
    platform::reportReady("");
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
