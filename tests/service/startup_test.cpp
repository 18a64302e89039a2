// The start-up worker on a simulated machine: the agent block, the configuration, the driver.
#include "service/startup.h"

#include "inventory/dmi_builder.h"
#include "machine_fixture.h"
#include "runtime/agent_settings.h"
#include "runtime/shared_block.h"

#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace farlink::service {
namespace {

using Bytes = std::vector<std::uint8_t>;

void putText(Bytes& bytes, std::size_t offset, std::string_view text) {
    std::memcpy(bytes.data() + offset, text.data(), text.size());
}

void putWord(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

Bytes answerHeader(std::uint8_t kind, std::uint8_t version) {
    Bytes a(36, 0);
    a[0] = kind;
    a[1] = version;
    putText(a, 8, "KORU 2.1");
    a[23] = 0x34;
    putWord(a, 28, 0x02F803F8); // serial 1 at 0x3F8, serial 2 at 0x2F8
    a[32] = 0x78;
    a[33] = 0x03;
    return a;
}

// A driver of the newer kind whose DMI structures name the product (base board) and the
// processors (one 450 MHz Pentium structure each, `firstIdByte` giving the model).
Bytes newerAnswer(const std::string& product, std::uint8_t firstIdByte, int processors) {
    testing::DmiBuilder dmi;
    dmi.add(2, {1, 2, 0, 0}, {"M", product});
    for (int i = 0; i < processors; ++i)
        dmi.processor(3, 11, 450, firstIdByte);
    Bytes a = answerHeader(1, 0x21);
    dmi.end();
    a.insert(a.end(), dmi.bytes.begin(), dmi.bytes.end());
    return a;
}

using testing::summaryText;
using testing::summaryWord;

class StartUp : public MachineTest {
  protected:
    void configure(const std::string& driver) {
        windir.write("TESSEL.INI", "; site settings\n[environment]\ndriver=" + driver + "\n");
    }
    void driver(const Bytes& configuration, const Bytes& counts = {}) {
        answer(kIoctlRowCounts, counts);
        answer(kIoctlConfiguration, configuration);
    }
};

TEST_F(StartUp, BlockPresentAtOnceNeitherSleepsNorStartsTheInBandService) {
    createBlock();
    windir.write("TESSEL.INI", "[environment]\ndriver=N/A\npassword=swordfish\n");
    runtime::agentSettings.contactRowCount.store(0);
    EXPECT_EQ(runStartUp(), 0);
    // The settings are read before any thread starts (none runs here): the first request a
    // line takes is checked against the keyword and finds the contact row.
    EXPECT_EQ(runtime::agentSettings.password.get(), "swordfish");
    EXPECT_EQ(runtime::agentSettings.contactRowCount.load(), 1u);
    EXPECT_TRUE(machine.sleeps.empty());
    EXPECT_EQ(countLines(record(), "start SNMP"), 0);
    EXPECT_EQ(machine.threadsStarted, 2) << "configuration and out-of-band threads";
}

TEST_F(StartUp, BlockNeverAppearingTellsTheOperatorStopsTheServiceAndEndsWithOne) {
    configure("N/A");
    ::testing::internal::CaptureStderr();
    startUpWorker();
    const std::string shown = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(machine.exitCodes, std::vector<int>{1});
    EXPECT_EQ(countOf(machine.sleeps, 2000), 22);
    EXPECT_EQ(countOf(machine.sleeps, 1000), 11);
    const std::string lines = record();
    EXPECT_EQ(countLines(lines, "start SNMP\n"), 11);
    EXPECT_GT(lines.find("stop FARLINK\n"), lines.rfind("start SNMP\n"));
    EXPECT_NE(shown.find("Koru-Agent"), std::string::npos);
    EXPECT_NE(shown.find("Before start FARLINK you must start SNMP service"), std::string::npos);
    EXPECT_EQ(machine.threadsStarted, 0);
}

// Waiting would not make such a block the suite's: refused at once, with the reason.
TEST_F(StartUp, ABlockTooSmallIsRefusedAtOnce) {
    createBlock(100);
    configure("N/A");
    EXPECT_EQ(runStartUp(), 1);
    ASSERT_EQ(platform::loggedEvents().size(), 1u);
    EXPECT_EQ(platform::loggedEvents()[0].id, 0x40060001u);
    EXPECT_EQ(platform::loggedEvents()[0].strings[0],
              "MapViewOf File Failure: Shared agent block \"" + shmName +
                  "\" is not taken: it holds 100 bytes, fewer than 816");
    EXPECT_FALSE(sharedBlockAttached());
    EXPECT_TRUE(machine.sleeps.empty());
}

// The older driver names its buses, model and memory itself, and only "N/A" fits it.
class OlderDriver : public StartUp {
  protected:
    void SetUp() override {
        StartUp::SetUp();
        createBlock();
        Bytes a = answerHeader(0, 0);
        a.resize(62, 0);
        putWord(a, 24, 64u << 20);
        putText(a, 36, "ISA EISA ");
        putText(a, 52, "OLDSERVER");
        driver(a);
    }
};

TEST_F(OlderDriver, NotApplicableDriverPassesWithTheAnswersOwnFacts) {
    configure("N/A");
    EXPECT_EQ(runStartUp(), 0);
    EXPECT_EQ(summaryText(inventory::kSummaryBusTypes), "ISA EISA ");
    EXPECT_EQ(summaryText(inventory::kSummaryProductName), "OLDSERVER");
    EXPECT_EQ(summaryText(inventory::kSummaryDriverText), "KORU 2.1");
    EXPECT_EQ(inventory::dmiSummary[inventory::kSummaryDriveType.offset], 0x34);
    EXPECT_EQ(totalMemory, 64u << 20);
    EXPECT_EQ(summaryWord(inventory::kSummaryTotalMemory.offset), 64u << 20);
}

TEST_F(OlderDriver, AConfigurationThatCannotBeReadIsNamedWithTheReason) {
    configure("N/A");
    const std::string ini = windir.path() + "/TESSEL.INI";
    ASSERT_EQ(::chmod(ini.c_str(), 0), 0);
    // Root reads any file: it reads this one as nobody, who may not even enter the directory.
    const struct passwd* nobody = ::getpwnam("nobody");
    const bool asNobody = ::geteuid() == 0 && nobody != nullptr;
    if (::geteuid() == 0 && !asNobody) GTEST_SKIP() << "root reads any file and there is no nobody";
    if (asNobody) {
        ASSERT_EQ(::seteuid(nobody->pw_uid), 0);
    }
    Bytes a = answerHeader(0, 0);
    a.resize(62, 0);
    const int result = checkDriverCompatibility(a);
    if (asNobody) {
        ASSERT_EQ(::seteuid(0), 0);
    }
    EXPECT_EQ(result, 1);
    ASSERT_EQ(platform::loggedEvents().size(), 1u);
    EXPECT_EQ(platform::loggedEvents()[0].strings[0],
              "Configuration driver does mistake: 13 (" + ini + ": Permission denied)");
}

TEST_F(StartUp, ModelFileMayRenameTheNewerDriversProductWithinItsField) {
    createBlock();
    configure("SV-440BX");
    windir.write("MODEL.KORU", "[sv-440bx]\nproductname=ServerView 440BX Enterprise\n");
    const Bytes a = newerAnswer("SV-440BX", 0x52, 2);
    driver(a);
    EXPECT_EQ(runStartUp(), 0);
    EXPECT_EQ(summaryText(inventory::kSummaryProductName), "ServerView 440BX En");
    EXPECT_EQ(summaryWord(inventory::kSummarySerial1Io.offset) & 0xFFFF, 0x3F8u);
    EXPECT_EQ(configurationAnswerLength, a.size());
    EXPECT_EQ(inventory::centralProcessorCount, 2u);
}

TEST_F(StartUp, DriverThatDoesNotAnswerLeavesItsDataEmptyAndStartUpGoesOn) {
    createBlock();
    configure("SV-440BX");
    answer(kIoctlConfiguration, newerAnswer("SV-450NX", 0x52, 1)); // row counts not answered
    EXPECT_EQ(runStartUp(), 0);
    EXPECT_NE(koruHandle, nullptr);
    EXPECT_EQ(configurationAnswerLength, 0u);
    EXPECT_EQ(summaryText(inventory::kSummaryProductName), "");
    EXPECT_TRUE(platform::loggedEvents().empty());
}

TEST_F(StartUp, ReadySummaryIsTakenOnlyAsFarAsTheAnswerGoes) {
    createBlock();
    configure("READY-1");
    Bytes a = answerHeader(1, 0x10);
    a.resize(36 + 100, 0);
    putText(a, 36 + 26, "READY-1");
    driver(a);
    EXPECT_EQ(runStartUp(), 0);
    EXPECT_EQ(summaryText(inventory::kSummaryProductName), "READY-1");
    EXPECT_EQ(totalMemory, 0u) << "the total lies beyond the answer";
}

struct ModelAdjustment {
    const char* driver;
    std::uint8_t firstIdByte;
    int processors;
    bool voltageAccepted;
    Bytes counts;
    std::array<std::uint32_t, 4> expected;
    std::uint32_t firstAbsent;
    std::uint32_t secondAbsent;
};

class Adjustments : public StartUp, public ::testing::WithParamInterface<ModelAdjustment> {};

TEST_P(Adjustments, FollowTheProcessorModelAndTheConfiguredDriver) {
    const ModelAdjustment& c = GetParam();
    createBlock();
    configure(c.driver);
    driver(newerAnswer(c.driver, c.firstIdByte, c.processors), c.counts);
    if (c.voltageAccepted) answer(kIoctlSetVoltageP55C, {});
    EXPECT_EQ(runStartUp(), 0);
    EXPECT_EQ(driverItemRowCounts, c.expected);
    EXPECT_EQ(table13FirstRowAbsent, c.firstAbsent);
    EXPECT_EQ(table13SecondRowAbsent, c.secondAbsent);
    const bool p55c = c.firstIdByte >> 4 == 4;
    EXPECT_EQ(countLines(record(), "KORU 0x800020d0"), p55c ? 1 : 0);
    const bool refused = p55c && !c.voltageAccepted;
    ASSERT_EQ(platform::loggedEvents().size(), refused ? 1u : 0u);
    if (refused) {
        EXPECT_EQ(platform::loggedEvents()[0].strings[0], "IOCTL_SET_VOLTAGE_P55C failed");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Models, Adjustments,
    ::testing::Values(ModelAdjustment{"T4", 0x52, 1, false, {3, 2, 3, 2}, {3, 1, 1, 2}, 1, 1},
                      // Counts of an empty table 13 do not wrap when its rows are taken away.
                      ModelAdjustment{"T4", 0x52, 2, false, {0, 0, 0, 0}, {0, 0, 0, 0}, 1, 0},
                      // Only the counts the driver returned are taken.
                      ModelAdjustment{"SV", 0x52, 2, false, {5, 1}, {5, 1, 0, 0}, 0, 0},
                      ModelAdjustment{"T7", 0x43, 1, true, {3, 2, 3, 2}, {3, 1, 2, 2}, 0, 1},
                      // A refused voltage request leaves the counts as the driver gave them.
                      ModelAdjustment{"T7", 0x43, 1, false, {3, 2, 3, 2}, {3, 2, 3, 2}, 0, 0}));

// The driver's buffer is larger than its answer: only the bytes it returned are handed on, so
// an entry cut off by the end of the answer is not completed by the zeros after it.
TEST_F(StartUp, EisaSlotsAreTakenFromTheBytesTheDriverReturned) {
    Bytes a(4 + 92 + 12, 0);
    putWord(a, 0, 2);
    putWord(a, 4, 0x11);
    putWord(a, 8, 1);
    putWord(a, 12, kEisaSlotBoard);
    putWord(a, 96, 0x22);
    putWord(a, 100, 5);
    putWord(a, 104, kEisaSlotBoard);
    answer(kIoctlEisaSlots, a);
    readEisaSlots();
    EXPECT_EQ(eisaSlots[0].slotType, kEisaSlotBoard);
    EXPECT_EQ(eisaSlots[4].slotType, 0u);
}

} // namespace
} // namespace farlink::service
