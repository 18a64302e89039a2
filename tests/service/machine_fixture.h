// A simulated machine for the start-up and service tests: a temporary Windows directory, a
// machine image beside it with its record file, a shared block name of the test's own, the
// in-memory event log, sleeps that are counted instead of waited, and threads that are counted
// instead of started.
#pragma once

#include "inventory/dmi.h"
#include "platform/event_log.h"
#include "platform/shared_memory.h"
#include "platform/threads.h"
#include "service/shared_block.h"
#include "service/startup.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace farlink::service {

struct MachineState {
    std::vector<std::uint32_t> sleeps;
    int threadsStarted = 0;
    int failThreadStart = 0; // the n-th start fails (0: none)
    int mappingAppearsAtRetry = 0;
    std::string shmName;
    std::vector<int> exitCodes;
};
inline MachineState machine;

inline void countSleep(std::uint32_t milliseconds) {
    machine.sleeps.push_back(milliseconds);
    int retries = 0;
    for (std::uint32_t ms : machine.sleeps)
        retries += ms == 2000;
    if (milliseconds == 2000 && retries == machine.mappingAppearsAtRetry) {
        platform::SharedMapping mapping;
        platform::createSharedMapping(machine.shmName, kSharedBlockSize, mapping);
    }
}

inline bool countThread(std::function<void()>) {
    return ++machine.threadsStarted != machine.failThreadStart;
}

inline void recordExit(int code) {
    machine.exitCodes.push_back(code);
}

inline int countOf(const std::vector<std::uint32_t>& values, std::uint32_t value) {
    int n = 0;
    for (std::uint32_t v : values)
        n += v == value;
    return n;
}

inline int countLines(const std::string& text, const std::string& line) {
    int n = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        ++n;
    return n;
}

class MachineTest : public ::testing::Test {
  protected:
    testing::TempProfileDir windir;
    std::string image = windir.path() + "/machine";
    testing::ScopedEnv imageEnv{"FARLINK_MACHINE", image};
    testing::ScopedEnv recordEnv{"FARLINK_MACHINE_RECORD", windir.path() + "/record.log"};
    std::string shmName = uniqueShmName();
    testing::ScopedEnv shmEnv{"FARLINK_SHM_NAME", shmName};

    static std::string uniqueShmName() {
        std::string name = "farlink-test-" + std::to_string(::getpid()) + "-" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& c : name)
            if (c == '/') c = '_';
        return name;
    }

    void SetUp() override {
        std::filesystem::create_directories(image + "/services");
        std::ofstream(image + "/services/installed") << "SNMP\nFARLINK\n";
        machine = MachineState{};
        machine.shmName = shmName;
        // Whatever an earlier case of the same process gathered is forgotten.
        inventory::resetDmi();
        attachSharedBlock({});
        driverItemRowCounts = {};
        table13FirstRowAbsent = table13SecondRowAbsent = 0;
        configurationAnswer = {};
        configurationAnswerLength = 0;
        configuredDriver = {};
        totalMemory = 0;
        eisaSlots = {};
        platform::useMemoryEventLog();
        platform::clearLoggedEvents();
        platform::setSleepHook(countSleep);
        setThreadStarter(countThread);
        setProcessExit(recordExit);
    }

    void TearDown() override {
        platform::setSleepHook(nullptr);
        setThreadStarter(nullptr);
        setProcessExit(nullptr);
        platform::removeSharedMapping(shmName);
    }

    void createBlock(std::size_t size = kSharedBlockSize) {
        platform::SharedMapping mapping;
        ASSERT_TRUE(platform::createSharedMapping(shmName, size, mapping));
    }

    // The KORU driver of the image answers `code` with these bytes.
    void answer(std::uint32_t code, const std::vector<std::uint8_t>& bytes) {
        const std::string dir = image + "/devices/KORU";
        std::filesystem::create_directories(dir);
        char name[16];
        std::snprintf(name, sizeof name, "/%08x.bin", static_cast<unsigned>(code));
        std::ofstream(dir + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    std::string record() const { return windir.read("record.log"); }
};

} // namespace farlink::service
