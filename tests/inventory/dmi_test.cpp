#include "inventory/dmi.h"

#include "inventory/dmi_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <list>
#include <string>
#include <vector>

namespace farlink::inventory {
namespace {

using testing::DmiBuilder;
using testing::summaryText;
using testing::summaryWord;

// Keeps every parsed table for the life of the test (the records refer to its texts) and what
// the parser printed.
class DmiParse : public ::testing::Test {
  protected:
    void SetUp() override { resetDmi(); }

    std::size_t parse(std::vector<std::uint8_t> bytes) {
        const std::vector<std::uint8_t>& table = tables.emplace_back(std::move(bytes));
        ::testing::internal::CaptureStdout();
        const std::size_t result = parseDmiTable(table.data(), table.size());
        printed = ::testing::internal::GetCapturedStdout();
        return result;
    }
    bool parsed(DmiBuilder b) { return parse(b.end().bytes) != 0; }

    std::list<std::vector<std::uint8_t>> tables;
    std::string printed;
};

TEST_F(DmiParse, SummaryTextsAreCutToTheirFieldsWhileScalarsKeepThemWhole) {
    ASSERT_TRUE(parsed(DmiBuilder()
                           .bios(0x21F0, {"Vendor", "4.51 PG-long"}) // all six bus bits
                           .add(2, {1, 2, 3, 4}, {"Maker", "A board name of many characters"})));
    EXPECT_EQ(dmiScalars[2].text, "4.51 PG-long");
    EXPECT_EQ(summaryText(kSummaryBiosVersion), "4.51 PG");
    EXPECT_EQ(dmiScalars[13].text, "A board name of many characters");
    EXPECT_EQ(summaryText(kSummaryProductName), "A board name of man");
    EXPECT_EQ(summaryText(kSummaryBusTypes), "ISA MCA EISA PC");
}

TEST_F(DmiParse, StringNumbersBeyondTheSetAndZeroAreEmpty) {
    // The structure before has more texts: none of them may be taken for this one's.
    ASSERT_TRUE(parsed(
        DmiBuilder().add(11, {4}, {"a", "b", "c", "d"}).add(1, {1, 0, 3, 200}, {"Only", "Two"})));
    EXPECT_EQ(dmiScalars[8].text, "Only");
    EXPECT_EQ(dmiScalars[9].text, "");
    EXPECT_EQ(dmiScalars[10].text, "");
}

TEST_F(DmiParse, LastCentralProcessorSetsTheModelAndAnUnnamedFamilyIsOther) {
    // Another kind of processor is only a row.
    ASSERT_TRUE(parsed(DmiBuilder()
                           .processor(3, 6, 133, 0x43)
                           .processor(3, 11, 0x1C2, 0x52)
                           .processor(4, 5, 50, 0x30)));
    EXPECT_EQ(centralProcessorCount, 2u);
    EXPECT_EQ(processorModelNibble, 0x50u);
    resetDmi();
    ASSERT_TRUE(parsed(DmiBuilder().processor(3, 0xB4, 500, 0x60)));
    EXPECT_EQ(summaryText(kSummaryProcessorText), "Other ");
}

TEST_F(DmiParse, RowsPastATableCapacityAreSkippedWithItsMessage) {
    DmiBuilder b;
    for (int i = 0; i < 14; ++i)
        b.processor(3, 11, static_cast<std::uint16_t>(100 + i), 0x50);
    for (int i = 0; i < 17; ++i)
        b.module(0x0F, 0);
    const std::vector<std::uint8_t> devices(20, 0x83); // ten devices
    b.add(10, devices).add(10, devices);
    ASSERT_TRUE(parsed(b.add(1, {1, 0, 0, 0}, {"After"})));
    EXPECT_EQ(printed, "Too many Processor Information\nToo many Processor Information\n"
                       "Too many Memory Module Information\n"
                       "Too many On Board Device Information\n");
    // A skipped row changes nothing else, and the walk goes on.
    EXPECT_EQ(dmiTables[kDmiProcessors].rows[11][10].number, 111u);
    EXPECT_EQ(centralProcessorCount, 12u);
    EXPECT_EQ(summaryWord(kSummaryTotalMemory.offset), 16u << 20);
    EXPECT_EQ(dmiScalars[8].text, "After");
}

TEST_F(DmiParse, MemoryModulesMakeCumulativeBanksAndTotal) {
    ASSERT_TRUE(parsed(DmiBuilder()
                           .module(0x01, 3)
                           .module(0x0F, 0x83) // bit 7 is not part of the size
                           .module(0xF0, 9)    // no bank: a row, not counted
                           .module(0x12, 4)
                           .module(0x2F, 0x7F))); // not installed: adds nothing
    EXPECT_EQ(summaryWord(392), 4u);              // modules counted
    EXPECT_EQ(summaryWord(460), 3u);              // highest bank used
    EXPECT_EQ(summaryWord(464), 16u << 20);       // bank 1
    EXPECT_EQ(summaryWord(472), 32u << 20);       // bank 2, cumulative
    EXPECT_EQ(summaryWord(480), 32u << 20);       // bank 3 adds nothing
    EXPECT_EQ(summaryWord(kSummaryTotalMemory.offset), 33554432u);
}

TEST_F(DmiParse, CacheSizesGoToTheirLocationAndAFifthCacheIsSkipped) {
    ASSERT_TRUE(parsed(DmiBuilder()
                           .cache(0x0180, 0x8004) // internal, 64K granules
                           .cache(0x01A1, 0x0200) // external, 1K granules
                           .cache(0x0140, 0x0300) // location reserved
                           .cache(0x0160, 0x0300) // location unknown
                           .cache(0x0180, 64)));
    EXPECT_EQ(printed, "Too many Cache Information\n");
    EXPECT_EQ(dmiTables[kDmiCaches].count, 4u);
    EXPECT_EQ(dmiTables[kDmiCaches].rows[0][4].number, 0x8004u);
    EXPECT_EQ(summaryWord(kSummaryInternalCache.offset), 256u);
    EXPECT_EQ(summaryWord(kSummaryExternalCache.offset), 512u);
}

TEST_F(DmiParse, PortConnectorsFillTheSummaryTexts) {
    ASSERT_TRUE(parsed(DmiBuilder()
                           .port(28, 13)  // a name longer than the field
                           .port(8, 9)    // serial slot 1
                           .port(9, 7)    // serial slot 2
                           .port(4, 6))); // a third overwrites slot 2
    EXPECT_EQ(summaryText(kSummaryKeyboardConnector), "On board sound inpu");
    EXPECT_EQ(summaryText(kSummarySerial1Connector), "DB9 pin male");
    EXPECT_EQ(summaryText(kSummarySerial2Type), "Serial Port XT/AT Compatible");
}

TEST_F(DmiParse, WalkStepsOverEachShapeOfStructure) {
    // The controller has no string set, the language is not served, a formatted length of 10
    // holds three on-board devices, and an empty string set (two NULs) is one empty text.
    ASSERT_TRUE(
        parsed(DmiBuilder()
                   .add(5, {6, 8, 4, 3, 9, 0x10, 0, 0, 4, 1, 2, 0x11, 0, 0x12, 0})
                   .add(13, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, {"en|US"})
                   .add(10, {0x83, 1, 0x04, 2, 0x85, 3}, {"Video", "SCSI", "LAN"})
                   .add(11, {0})
                   .add(1, {1, 0, 0, 0}, {"Next"})));
    EXPECT_EQ(dmiScalars[16].number, 6u);
    EXPECT_EQ(dmiScalars[24].number, 2u);
    const DmiTable& devices = dmiTables[kDmiOnBoardDevices];
    ASSERT_EQ(devices.count, 3u);
    EXPECT_EQ(devices.rows[2][1].number, 0x85u);
    ASSERT_EQ(dmiTables[kDmiOemStrings].count, 1u);
    EXPECT_EQ(dmiTables[kDmiOemStrings].rows[0][1].text, "");
    EXPECT_EQ(dmiScalars[8].text, "Next");
}

TEST_F(DmiParse, UnknownTypeCutsTheParseShort) {
    EXPECT_FALSE(parsed(DmiBuilder()
                            .module(0x0F, 4)
                            .add(3, {1, 2, 3, 4}, {"Chassis"})
                            .add(1, {1, 0, 0, 0}, {"Never"})));
    EXPECT_EQ(printed, "Unknown DMI structure\n");
    EXPECT_EQ(dmiScalars[26].number, 1u);
    EXPECT_EQ(dmiScalars[8].text, "");
    EXPECT_EQ(summaryWord(464), 16u << 20);
    EXPECT_EQ(summaryWord(kSummaryTotalMemory.offset), 0u);
}

TEST_F(DmiParse, TwoHundredFiftyFiveTextsAreTheLimit) {
    std::vector<std::string> texts(255, "t");
    texts[15] = "sixteenth";
    ASSERT_TRUE(parsed(DmiBuilder().add(11, {0}, texts)));
    EXPECT_EQ(printed, "Too many OEM Strings\n");
    EXPECT_EQ(dmiScalars[31].number, 16u);
    EXPECT_EQ(dmiTables[kDmiOemStrings].rows[15][1].text, "sixteenth");

    resetDmi();
    texts.push_back("one too many");
    EXPECT_FALSE(parsed(DmiBuilder().add(1, {1, 0, 0, 0}, texts)));
    EXPECT_EQ(printed, "Too many strings for one DMI structure\n");
    EXPECT_EQ(dmiScalars[8].text, "");
}

// A structure whose header or formatted area does not fit the table, or that claims a formatted
// area smaller than its header, ends the walk; what came before it is kept.
class DmiMalformed : public DmiParse,
                     public ::testing::WithParamInterface<std::vector<std::uint8_t>> {};

TEST_P(DmiMalformed, EndsTheWalkCutShort) {
    std::vector<std::uint8_t> table = DmiBuilder().add(1, {1, 0, 0, 0}, {"Before"}).bytes;
    table.insert(table.end(), GetParam().begin(), GetParam().end());
    EXPECT_EQ(parse(table), 0u);
    EXPECT_EQ(dmiScalars[8].text, "Before");
}

INSTANTIATE_TEST_SUITE_P(
    Structures, DmiMalformed,
    ::testing::Values(
        std::vector<std::uint8_t>{2},                              // header cut after the type
        std::vector<std::uint8_t>{2, 8, 0, 0, 1, 2, 0},            // formatted area past the end
        std::vector<std::uint8_t>{2, 3, 0, 0, 0, 0},               // formatted length below 4
        std::vector<std::uint8_t>{2, 8, 0, 0, 1, 2, 3, 4, 'a'},    // text without terminator
        std::vector<std::uint8_t>{2, 8, 0, 0, 1, 2, 3, 4, 'a', 0}, // set without its closing NUL
        std::vector<std::uint8_t>{5, 20, 0, 0, 1, 2, 3}));         // controller past the end

TEST_F(DmiParse, NothingIsReadPastTheGivenLength) {
    EXPECT_EQ(parseDmiTable(nullptr, 100), 0u);
    // Without an end marker the walk ends at the length.
    const std::vector<std::uint8_t> unmarked = DmiBuilder().add(1, {1, 2, 3, 4}, {"M", "P"}).bytes;
    EXPECT_EQ(parse(unmarked), unmarked.size() + 1);
    EXPECT_EQ(dmiScalars[9].text, "P");

    // The bytes after the given length would complete the string set; they must not be used.
    resetDmi();
    const std::size_t cut = unmarked.size() - 1; // just before the closing NUL of the set
    EXPECT_EQ(parseDmiTable(unmarked.data(), cut), 0u);
    EXPECT_EQ(dmiScalars[9].text, "");

    // A formatted area is read only as far as it claims: fields beyond it read as 0 and not as
    // the string set that follows.
    resetDmi();
    ASSERT_TRUE(parsed(DmiBuilder().add(0, {1, 2}, {"V", "1"})));
    EXPECT_EQ(dmiScalars[1].text, "V");
    EXPECT_EQ(dmiScalars[3].number, 0u);
    EXPECT_EQ(dmiScalars[6].number, 0u);
    EXPECT_EQ(dmiScalars[4].text, "");
}

TEST(DmiNames, CodesAtTheEdgesOfEachNameTable) {
    struct Case {
        std::uint32_t code;
        const char* connector;
        const char* port;
    };
    const Case cases[] = {{30, "Mini-Centronics Type-26", "Other"},
                          {31, "Other", "Other"},
                          {164, "PC-98 Full", "Other"},
                          {165, "Other", "Other"}};
    for (const Case& c : cases) {
        EXPECT_STREQ(connectorTypeName(c.code), c.connector) << c.code;
        EXPECT_STREQ(portTypeName(c.code), c.port) << c.code;
    }
}

} // namespace
} // namespace farlink::inventory
