// A simulated machine for the start-up and service tests: a temporary Windows directory, a
// machine image beside it with its record file, a shared block name of the test's own, the
// in-memory event log, sleeps that are counted instead of waited, and threads that are counted
// instead of started.
#pragma once

#include "inventory/dmi.h"
#include "inventory/driver_answer.h"
#include "inventory/eisa.h"
#include "platform/event_log.h"
#include "platform/shared_memory.h"
#include "platform/threads.h"
#include "runtime/shared_block.h"
#include "service/startup.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace farlink::service {

// The start-up fills the runtime's and the inventory's records; the tests read them by name.
using namespace farlink::runtime;
using namespace farlink::inventory;

struct MachineState {
    std::vector<std::uint32_t> sleeps;
    int threadsStarted = 0;
    int failThreadStart = 0; // the n-th start fails (0: none)
    std::vector<int> exitCodes;
};
inline MachineState machine;

inline int countOf(const std::vector<std::uint32_t>& values, std::uint32_t value) {
    return static_cast<int>(std::count(values.begin(), values.end(), value));
}

using farlink::testing::countLines;

class MachineTest : public ::testing::Test {
  protected:
    testing::TempProfileDir windir;
    std::string image = windir.path() + "/machine";
    testing::ScopedEnv imageEnv{"FARLINK_MACHINE", image};
    testing::ScopedEnv recordEnv{"FARLINK_MACHINE_RECORD", windir.path() + "/record.log"};
    // A name of this case alone (parameterised names carry a '/', which a name may not).
    std::string shmName = [] {
        std::string name = "farlink-test-" + std::to_string(::getpid()) + "-" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        return name;
    }();
    testing::ScopedEnv shmEnv{"FARLINK_SHM_NAME", shmName};

    void SetUp() override {
        std::filesystem::create_directories(image + "/services");
        std::ofstream(image + "/services/installed") << "SNMP\nFARLINK\n";
        machine = MachineState{};
        // Whatever an earlier case of the same process gathered is forgotten.
        inventory::resetDmi();
        detachSharedBlock();
        driverItemRowCounts = {};
        table13FirstRowAbsent = table13SecondRowAbsent = 0;
        configurationAnswer = {};
        configurationAnswerLength = 0;
        configuredDriver = {};
        totalMemory = 0;
        eisaSlots = {};
        platform::useMemoryEventLog();
        platform::clearLoggedEvents();
        platform::setSleepHook(
            [](std::uint32_t milliseconds) { machine.sleeps.push_back(milliseconds); });
        setThreadStarter([](std::function<void()>) {
            return ++machine.threadsStarted != machine.failThreadStart;
        });
        setProcessExit([](int code) { machine.exitCodes.push_back(code); });
    }

    void TearDown() override {
        platform::setSleepHook(nullptr);
        setThreadStarter(nullptr);
        setProcessExit(nullptr);
        detachSharedBlock();
        platform::removeSharedRegion(shmName);
    }

    // The in-band agent's block as it makes it, left to the agent to find.
    void createBlock(std::size_t size = kSharedBlockSize) {
        platform::SharedRegion region;
        std::string refusal;
        ASSERT_TRUE(platform::createSharedRegion(shmName, size, region, refusal)) << refusal;
        platform::closeSharedRegion(region);
    }

    // The KORU driver of the image answers `code` with these bytes.
    void answer(std::uint32_t code, const std::vector<std::uint8_t>& bytes) {
        char name[24];
        std::snprintf(name, sizeof name, "/%08x.bin", static_cast<unsigned>(code));
        std::filesystem::create_directories(image + "/devices/KORU");
        std::ofstream(image + "/devices/KORU" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    std::string record() const { return windir.read("record.log"); }
};

} // namespace farlink::service
