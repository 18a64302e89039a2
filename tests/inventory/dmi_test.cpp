#include "inventory/dmi.h"

#include "inventory/dmi_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <list>
#include <string>
#include <vector>

namespace farlink::inventory {
namespace {

using testing::DmiBuilder;

// Keeps every parsed table for the life of the test: the records refer to its texts.
class DmiTest : public ::testing::Test {
  protected:
    void SetUp() override { resetDmi(); }

    std::size_t parse(std::vector<std::uint8_t> bytes) {
        const std::vector<std::uint8_t>& table = tables.emplace_back(std::move(bytes));
        return parseDmiTable(table.data(), table.size());
    }
    std::size_t parseCapturing(std::vector<std::uint8_t> bytes, std::string& out) {
        ::testing::internal::CaptureStdout();
        const std::size_t result = parse(std::move(bytes));
        out = ::testing::internal::GetCapturedStdout();
        return result;
    }

    std::list<std::vector<std::uint8_t>> tables;
};

using DmiParse = DmiTest;

std::string summaryText(SummaryField field) {
    const char* p = reinterpret_cast<const char*>(dmiSummary.data() + field.offset);
    return std::string(p, strnlen(p, field.width));
}

std::uint32_t summaryWord(std::size_t offset) {
    std::uint32_t v = 0;
    std::memcpy(&v, dmiSummary.data() + offset, 4);
    return v;
}

std::string text(const DmiCell& cell) {
    return std::string(cell.text);
}

TEST_F(DmiParse, NoTableFillsNothing) {
    EXPECT_EQ(parseDmiTable(nullptr, 100), 0u);
    EXPECT_EQ(dmiTables[kDmiProcessors].count, 0u);
}

TEST_F(DmiParse, EndMarkerAloneFillsNothingAndAnswersOne) {
    const std::vector<std::uint8_t> table = DmiBuilder().end().bytes;
    EXPECT_EQ(parse(table), 1u);
    for (const DmiTable& t : dmiTables)
        EXPECT_EQ(t.count, 0u);
    EXPECT_EQ(summaryWord(kSummaryTotalMemory.offset), 0u);
    EXPECT_EQ(summaryText(kSummaryBusTypes), "");
}

TEST_F(DmiParse, WalkEndsAtTheTableLengthWithoutEndMarker) {
    const std::vector<std::uint8_t> table = DmiBuilder().add(1, {1, 2, 3, 4}, {"M", "P"}).bytes;
    EXPECT_EQ(parse(table), table.size() + 1);
    EXPECT_EQ(text(dmiScalars[9]), "P");
}

TEST_F(DmiParse, BiosScalarsAndVersionInTheSummary) {
    const std::vector<std::uint8_t> table =
        DmiBuilder().bios(0x90, {"Vendor", "4.51 PG-long", "04/15/99"}).end().bytes;
    ASSERT_NE(parse(table), 0u);
    EXPECT_EQ(text(dmiScalars[1]), "Vendor");
    EXPECT_EQ(text(dmiScalars[2]), "4.51 PG-long");
    EXPECT_EQ(dmiScalars[3].number, 0xE000u);
    EXPECT_EQ(text(dmiScalars[4]), "04/15/99");
    EXPECT_EQ(dmiScalars[5].number, 7u);
    EXPECT_EQ(dmiScalars[6].number, 0x90u);
    EXPECT_EQ(dmiScalars[7].number, 0x44332211u);
    // The 8-byte field keeps seven characters and the terminator.
    EXPECT_EQ(summaryText(kSummaryBiosVersion), "4.51 PG");
    EXPECT_EQ(dmiSummary[kSummaryBiosVersion.offset + 7], 0);
}

struct BusCase {
    std::uint32_t characteristics;
    const char* text;
};

class DmiBusTypes : public DmiTest, public ::testing::WithParamInterface<BusCase> {};

TEST_P(DmiBusTypes, NamesFollowTheCharacteristicBits) {
    ASSERT_NE(parse(DmiBuilder().bios(GetParam().characteristics, {"V", "1"}).end().bytes), 0u);
    EXPECT_EQ(summaryText(kSummaryBusTypes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Bits, DmiBusTypes,
    ::testing::Values(BusCase{0x0090, "ISA PCI "}, BusCase{0x0000, ""},
                      BusCase{0x2040, "EISA VL-VESA "}, BusCase{0x0120, "MCA PCMCIA "},
                      // All six names are longer than the field: cut with its terminator.
                      BusCase{0x21F0, "ISA MCA EISA PC"}));

TEST_F(DmiParse, SystemAndBaseBoardTextsWithTheProductCutToItsField) {
    const std::vector<std::uint8_t> table =
        DmiBuilder()
            .add(1, {1, 2, 3, 4}, {"Maker", "Server", "1.0", "S1"})
            .add(2, {1, 2, 3, 4}, {"Board maker", "A board name of many characters", "C", "B1"})
            .end()
            .bytes;
    ASSERT_NE(parse(table), 0u);
    EXPECT_EQ(text(dmiScalars[8]), "Maker");
    EXPECT_EQ(text(dmiScalars[11]), "S1");
    EXPECT_EQ(text(dmiScalars[12]), "Board maker");
    // The scalar serves the whole text; the 20-byte field keeps 19 characters and a NUL.
    EXPECT_EQ(text(dmiScalars[13]), "A board name of many characters");
    EXPECT_EQ(summaryText(kSummaryProductName), "A board name of man");
    EXPECT_EQ(dmiSummary[kSummaryProductName.offset + 19], 0);
}

TEST_F(DmiParse, StringNumbersBeyondTheSetAndZeroAreEmpty) {
    // The structure before has more texts: none of them may be taken for this one's.
    const std::vector<std::uint8_t> table = DmiBuilder()
                                                .add(11, {4}, {"a", "b", "c", "d"})
                                                .add(1, {1, 0, 3, 200}, {"Only", "Two"})
                                                .end()
                                                .bytes;
    ASSERT_NE(parse(table), 0u);
    EXPECT_EQ(text(dmiScalars[8]), "Only");
    EXPECT_TRUE(dmiScalars[9].text.empty());
    EXPECT_TRUE(dmiScalars[10].text.empty());
    EXPECT_TRUE(dmiScalars[11].text.empty());
}

TEST_F(DmiParse, CentralProcessorsSetSpeedTextAndModel) {
    DmiBuilder b;
    b.processor(3, 11, 133, 0x43);
    ASSERT_NE(parse(DmiBuilder(b).end().bytes), 0u);
    EXPECT_EQ(summaryText(kSummaryProcessorText), "Pentium ");
    EXPECT_EQ(dmiSummary[kSummaryProcessorSpeed.offset], 133);
    EXPECT_EQ(centralProcessorCount, 1u);
    EXPECT_EQ(processorModelNibble, 0x40u);

    resetDmi();
    // A second central processor overwrites; another kind of processor is only a row.
    b.processor(3, 6, 0x1C2, 0x52).processor(4, 5, 50, 0x30);
    ASSERT_NE(parse(b.end().bytes), 0u);
    EXPECT_EQ(dmiTables[kDmiProcessors].count, 3u);
    EXPECT_EQ(centralProcessorCount, 2u);
    EXPECT_EQ(summaryText(kSummaryProcessorText), "80486 ");
    EXPECT_EQ(dmiSummary[kSummaryProcessorSpeed.offset], 0xC2); // low byte of 450
    EXPECT_EQ(processorModelNibble, 0x50u);
}

TEST_F(DmiParse, UnnamedProcessorFamilyReadsOther) {
    ASSERT_NE(parse(DmiBuilder().processor(3, 0xB4, 500, 0x60).end().bytes), 0u);
    EXPECT_EQ(summaryText(kSummaryProcessorText), "Other ");
}

TEST_F(DmiParse, ThirteenthProcessorIsSkippedWithItsMessage) {
    DmiBuilder b;
    for (int i = 0; i < 13; ++i)
        b.processor(3, 11, static_cast<std::uint16_t>(100 + i), 0x50);
    b.processor(3, 11, 99, 0x50).add(1, {1, 0, 0, 0}, {"After"}).end();
    std::string out;
    ASSERT_NE(parseCapturing(b.bytes, out), 0u);
    EXPECT_EQ(dmiTables[kDmiProcessors].count, 12u);
    EXPECT_EQ(out, "Too many Processor Information\nToo many Processor Information\n");
    // A skipped row changes nothing else, and the walk goes on.
    EXPECT_EQ(dmiTables[kDmiProcessors].rows[11][10].number, 111u);
    EXPECT_EQ(centralProcessorCount, 12u);
    EXPECT_EQ(text(dmiScalars[8]), "After");
}

TEST_F(DmiParse, MemoryModulesMakeCumulativeBanksAndTotal) {
    const std::vector<std::uint8_t> table = DmiBuilder()
                                                .module(0x01, 3)
                                                .module(0x0F, 0x83) // bit 7 is not part of the size
                                                .module(0xF0, 9)    // no bank: a row, not counted
                                                .module(0x12, 4)
                                                .module(0x2F, 0x7F) // not installed: adds nothing
                                                .end()
                                                .bytes;
    ASSERT_NE(parse(table), 0u);
    EXPECT_EQ(dmiTables[kDmiMemoryModules].count, 5u);
    EXPECT_EQ(summaryWord(392), 4u);   // modules counted
    EXPECT_EQ(summaryWord(460), 3u);   // highest bank used
    EXPECT_EQ(dmiSummary[396 + 1], 3); // size codes in counting order
    EXPECT_EQ(dmiSummary[400 + 1], 3);
    EXPECT_EQ(dmiSummary[404 + 1], 4);
    EXPECT_EQ(dmiSummary[408 + 1], 0x7F);
    EXPECT_EQ(summaryWord(464), 16u << 20); // bank 1
    EXPECT_EQ(summaryWord(472), 32u << 20); // bank 2, cumulative
    EXPECT_EQ(summaryWord(480), 32u << 20); // bank 3 adds nothing
    EXPECT_EQ(summaryWord(kSummaryTotalMemory.offset), 33554432u);
    EXPECT_EQ(dmiTables[kDmiMemoryModules].rows[2][2].number, 0xF0u);
}

TEST_F(DmiParse, SeventeenthModuleIsSkipped) {
    DmiBuilder b;
    for (int i = 0; i < 17; ++i)
        b.module(0x0F, 0);
    std::string out;
    ASSERT_NE(parseCapturing(b.end().bytes, out), 0u);
    EXPECT_EQ(out, "Too many Memory Module Information\n");
    EXPECT_EQ(dmiTables[kDmiMemoryModules].count, 16u);
    EXPECT_EQ(summaryWord(392), 16u);
    EXPECT_EQ(summaryWord(kSummaryTotalMemory.offset), 16u << 20);
}

struct CacheCase {
    std::uint16_t configuration;
    std::uint16_t installed;
    std::uint32_t internalKb;
    std::uint32_t externalKb;
};

class DmiCache : public DmiTest, public ::testing::WithParamInterface<CacheCase> {};

TEST_P(DmiCache, SizeGoesToItsLocation) {
    const CacheCase& c = GetParam();
    ASSERT_NE(parse(DmiBuilder().cache(c.configuration, c.installed).end().bytes), 0u);
    EXPECT_EQ(summaryWord(kSummaryInternalCache.offset), c.internalKb);
    EXPECT_EQ(summaryWord(kSummaryExternalCache.offset), c.externalKb);
    EXPECT_EQ(dmiTables[kDmiCaches].rows[0][4].number, c.installed);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DmiCache,
                         ::testing::Values(CacheCase{0x0180, 0x8004, 256, 0},
                                           CacheCase{0x0180, 0x0100, 256, 0},
                                           CacheCase{0x01A1, 0x0200, 0, 512},
                                           CacheCase{0x0140, 0x0200, 0, 0},   // location reserved
                                           CacheCase{0x0160, 0x0200, 0, 0})); // location unknown

TEST_F(DmiParse, FifthCacheIsSkippedAndLaterCacheOverwrites) {
    DmiBuilder b;
    b.cache(0x0180, 8).cache(0x0180, 16).cache(0x01A1, 256).cache(0x01A1, 512).cache(0x0180, 64);
    std::string out;
    ASSERT_NE(parseCapturing(b.end().bytes, out), 0u);
    EXPECT_EQ(out, "Too many Cache Information\n");
    EXPECT_EQ(dmiTables[kDmiCaches].count, 4u);
    EXPECT_EQ(summaryWord(kSummaryInternalCache.offset), 16u);
    EXPECT_EQ(summaryWord(kSummaryExternalCache.offset), 512u);
}

TEST_F(DmiParse, PortConnectorsFillTheSummaryTexts) {
    const std::vector<std::uint8_t> table = DmiBuilder()
                                                .port(15, 13)
                                                .port(13, 14)
                                                .port(5, 5)
                                                .port(8, 9)   // serial slot 1
                                                .port(9, 7)   // serial slot 2
                                                .port(4, 6)   // a third overwrites slot 2
                                                .port(11, 16) // USB: a row only
                                                .end()
                                                .bytes;
    ASSERT_NE(parse(table), 0u);
    EXPECT_EQ(dmiTables[kDmiPortConnectors].count, 7u);
    EXPECT_EQ(summaryText(kSummaryKeyboardConnector), "PS/2");
    EXPECT_EQ(summaryText(kSummaryMouseConnector), "Mini-DIN");
    EXPECT_EQ(summaryText(kSummaryParallelType), "Parallel Port ECP/EPP");
    EXPECT_EQ(summaryText(kSummaryParallelConnector), "DB25 pin female");
    EXPECT_EQ(summaryText(kSummarySerial1Type), "Serial Port 16550A Compatible");
    EXPECT_EQ(summaryText(kSummarySerial1Connector), "DB9 pin male");
    EXPECT_EQ(summaryText(kSummarySerial2Type), "Serial Port XT/AT Compatible");
    EXPECT_EQ(summaryText(kSummarySerial2Connector), "DB25 pin male");
    const DmiRow& r = dmiTables[kDmiPortConnectors].rows[6];
    EXPECT_EQ(text(r[1]), "J1");
    EXPECT_EQ(text(r[3]), "Ext");
    EXPECT_EQ(r[4].number, 11u);
    EXPECT_EQ(r[5].number, 16u);
}

TEST_F(DmiParse, LongConnectorNameIsCutToItsField) {
    ASSERT_NE(parse(DmiBuilder().port(28, 13).end().bytes), 0u);
    EXPECT_EQ(summaryText(kSummaryKeyboardConnector), "On board sound inpu");
    EXPECT_EQ(dmiSummary[kSummaryKeyboardConnector.offset + 19], 0);
    EXPECT_EQ(dmiSummary[kSummaryMouseConnector.offset], 0);
}

TEST_F(DmiParse, OnBoardDevicesOfLengthTenAreThree) {
    const std::vector<std::uint8_t> table =
        DmiBuilder().add(10, {0x83, 1, 0x04, 2, 0x85, 3}, {"Video", "SCSI", "LAN"}).end().bytes;
    ASSERT_NE(parse(table), 0u);
    ASSERT_EQ(dmiTables[kDmiOnBoardDevices].count, 3u);
    EXPECT_EQ(dmiTables[kDmiOnBoardDevices].rows[0][1].number, 0x83u);
    EXPECT_EQ(text(dmiTables[kDmiOnBoardDevices].rows[1][2]), "SCSI");
    EXPECT_EQ(dmiTables[kDmiOnBoardDevices].rows[2][1].number, 0x85u);
    EXPECT_EQ(dmiScalars[30].number, 3u);
}

TEST_F(DmiParse, OnBoardDevicesAndOemStringsAreCutToSixteen) {
    std::vector<std::uint8_t> devices;
    for (int i = 0; i < 10; ++i)
        devices.insert(devices.end(), {0x83, 0});
    std::vector<std::string> texts;
    for (int i = 0; i < 10; ++i)
        texts.push_back("OEM " + std::to_string(i));
    const std::vector<std::uint8_t> table = DmiBuilder()
                                                .add(10, devices)
                                                .add(10, devices)
                                                .add(11, {10}, texts)
                                                .add(11, {10}, texts)
                                                .end()
                                                .bytes;
    std::string out;
    ASSERT_NE(parseCapturing(table, out), 0u);
    EXPECT_EQ(out, "Too many On Board Device Information\nToo many OEM Strings\n");
    EXPECT_EQ(dmiTables[kDmiOnBoardDevices].count, 16u);
    EXPECT_EQ(dmiTables[kDmiOemStrings].count, 16u);
    EXPECT_EQ(text(dmiTables[kDmiOemStrings].rows[15][1]), "OEM 5");
    EXPECT_EQ(dmiScalars[31].number, 16u);
}

TEST_F(DmiParse, EmptyStringSetIsOneEmptyText) {
    // Two NULs after the formatted area: one empty OEM text, and the next structure follows.
    const std::vector<std::uint8_t> table =
        DmiBuilder().add(11, {0}).add(1, {1, 0, 0, 0}, {"Next"}).end().bytes;
    ASSERT_NE(parse(table), 0u);
    ASSERT_EQ(dmiTables[kDmiOemStrings].count, 1u);
    EXPECT_TRUE(dmiTables[kDmiOemStrings].rows[0][1].text.empty());
    EXPECT_EQ(text(dmiScalars[8]), "Next");
}

TEST_F(DmiParse, MemoryControllerHasNoStringSetAndLanguageIsSkipped) {
    const std::vector<std::uint8_t> table =
        DmiBuilder()
            .controller({3, 4, 3, 3, 7, 0x08, 0x00, 0x00, 0x05, 0x02, 4})
            .controller({6, 8, 4, 3, 9, 0x10, 0x00, 0x00, 0x04, 0x01, 2, 0x11, 0x00, 0x12, 0x00})
            .add(13, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, {"en|US|iso8859-1"})
            .add(1, {1, 0, 0, 0}, {"Next"})
            .end()
            .bytes;
    ASSERT_NE(parse(table), 0u);
    EXPECT_EQ(dmiScalars[16].number, 6u);
    EXPECT_EQ(dmiScalars[20].number, 9u);
    EXPECT_EQ(dmiScalars[21].number, 0x10u);
    EXPECT_EQ(dmiScalars[22].number, 0x0400u);
    EXPECT_EQ(dmiScalars[23].number, 1u);
    EXPECT_EQ(dmiScalars[24].number, 2u);
    EXPECT_EQ(text(dmiScalars[8]), "Next");
}

TEST_F(DmiParse, UnknownTypeCutsTheParseShort) {
    const std::vector<std::uint8_t> table = DmiBuilder()
                                                .module(0x0F, 4)
                                                .add(3, {1, 2, 3, 4}, {"Chassis"})
                                                .add(1, {1, 0, 0, 0}, {"Never"})
                                                .end()
                                                .bytes;
    std::string out;
    EXPECT_EQ(parseCapturing(table, out), 0u);
    EXPECT_EQ(out, "Unknown DMI structure\n");
    // What came before stays; what follows is not read; no total is made.
    EXPECT_EQ(dmiTables[kDmiMemoryModules].count, 1u);
    EXPECT_EQ(dmiScalars[26].number, 1u);
    EXPECT_TRUE(dmiScalars[8].text.empty());
    EXPECT_EQ(summaryWord(464), 16u << 20);
    EXPECT_EQ(summaryWord(kSummaryTotalMemory.offset), 0u);
}

TEST_F(DmiParse, TwoHundredFiftyFiveTextsAreTheLimit) {
    std::vector<std::string> texts(255, "t");
    texts[254] = "last";
    ASSERT_NE(parse(DmiBuilder().add(11, {0}, texts).end().bytes), 0u);
    EXPECT_EQ(dmiTables[kDmiOemStrings].count, 16u);

    resetDmi();
    texts.push_back("one too many");
    std::string out;
    EXPECT_EQ(parseCapturing(DmiBuilder().add(1, {1, 0, 0, 0}, texts).end().bytes, out), 0u);
    EXPECT_EQ(out, "Too many strings for one DMI structure\n");
    EXPECT_TRUE(dmiScalars[8].text.empty());
}

// A structure whose header or formatted area does not fit the table, or that claims a formatted
// area smaller than its header, ends the walk; what came before it is kept.
class DmiMalformed : public DmiTest,
                     public ::testing::WithParamInterface<std::vector<std::uint8_t>> {};

TEST_P(DmiMalformed, EndsTheWalkCutShort) {
    std::vector<std::uint8_t> table = DmiBuilder().add(1, {1, 0, 0, 0}, {"Before"}).bytes;
    const std::vector<std::uint8_t>& tail = GetParam();
    table.insert(table.end(), tail.begin(), tail.end());
    EXPECT_EQ(parse(table), 0u);
    EXPECT_EQ(text(dmiScalars[8]), "Before");
}

INSTANTIATE_TEST_SUITE_P(
    Structures, DmiMalformed,
    ::testing::Values(
        std::vector<std::uint8_t>{2},                              // header cut after the type
        std::vector<std::uint8_t>{2, 8, 0},                        // header cut inside
        std::vector<std::uint8_t>{2, 8, 0, 0, 1, 2, 0},            // formatted area past the end
        std::vector<std::uint8_t>{2, 3, 0, 0, 0, 0},               // formatted length below 4
        std::vector<std::uint8_t>{2, 0, 0, 0, 0, 0},               // formatted length 0
        std::vector<std::uint8_t>{2, 8, 0, 0, 1, 2, 3, 4, 'a'},    // text without terminator
        std::vector<std::uint8_t>{2, 8, 0, 0, 1, 2, 3, 4, 'a', 0}, // set without its closing NUL
        std::vector<std::uint8_t>{5, 20, 0, 0, 1, 2, 3}));         // controller past the end

TEST_F(DmiParse, NothingIsReadPastTheGivenLength) {
    // The bytes after the given length would complete the string set; they must not be used.
    const std::vector<std::uint8_t> buffer =
        DmiBuilder().add(1, {1, 2, 0, 0}, {"M", "P"}).end().bytes;
    const std::size_t cut = buffer.size() - 7; // just before the closing NUL of the set
    EXPECT_EQ(parseDmiTable(buffer.data(), cut), 0u);
    EXPECT_TRUE(dmiScalars[9].text.empty());

    // A formatted area read only as far as it claims: fields beyond it read as 0 and not as
    // the string set that follows.
    resetDmi();
    const std::vector<std::uint8_t> shortBios = DmiBuilder().add(0, {1, 2}, {"V", "1"}).end().bytes;
    ASSERT_NE(parse(shortBios), 0u);
    EXPECT_EQ(text(dmiScalars[1]), "V");
    EXPECT_EQ(dmiScalars[3].number, 0u);
    EXPECT_EQ(dmiScalars[6].number, 0u);
    EXPECT_TRUE(dmiScalars[4].text.empty());
}

struct NameCase {
    std::uint32_t code;
    const char* connector;
    const char* port;
};

class DmiNames : public DmiTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(DmiNames, ConnectorAndPortTypeNames) {
    EXPECT_STREQ(connectorTypeName(GetParam().code), GetParam().connector);
    EXPECT_STREQ(portTypeName(GetParam().code), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, DmiNames,
    ::testing::Values(NameCase{0, "None", "None"}, NameCase{15, "PS/2", "SSA SCSI"},
                      NameCase{27, "68 Pin Dual Inline", "PC-H98"},
                      NameCase{28, "On board sound input from CD-ROM", "Other"},
                      NameCase{30, "Mini-Centronics Type-26", "Other"},
                      NameCase{31, "Other", "Other"}, NameCase{159, "Other", "Other"},
                      NameCase{160, "PC-98", "8251 Compatible"},
                      NameCase{161, "PC-98 Hireso", "8251 FIFO Compatible"},
                      NameCase{162, "PC-H98", "Other"}, NameCase{164, "PC-98 Full", "Other"},
                      NameCase{165, "Other", "Other"}, NameCase{255, "Other", "Other"},
                      NameCase{0x10000, "Other", "Other"}));

// The sample machine image's configuration answer: raw structures from byte 36.
TEST_F(DmiParse, SampleImageConfigurationAnswer) {
    const std::filesystem::path source(__FILE__);
    const std::filesystem::path file = source.parent_path().parent_path().parent_path() /
                                       "machines/sample/devices/KORU/80002010.bin";
    std::ifstream in(file, std::ios::binary);
    ASSERT_TRUE(in) << file;
    const std::vector<std::uint8_t> answer((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
    ASSERT_GT(answer.size(), 36u);
    ASSERT_NE(answer[0], 0);
    ASSERT_GE(answer[1] >> 4, 2);

    const std::size_t result = parseDmiTable(answer.data() + 36, answer.size() - 36);
    EXPECT_NE(result, 0u);
    EXPECT_LE(result, answer.size() - 36);
    EXPECT_EQ(summaryText(kSummaryProductName), "SV-440BX");
    EXPECT_EQ(summaryText(kSummaryBusTypes), "ISA PCI ");
    EXPECT_EQ(summaryText(kSummaryProcessorText), "Pentium ");
    EXPECT_EQ(summaryWord(kSummaryTotalMemory.offset), 256u << 20);
    EXPECT_EQ(summaryWord(kSummaryInternalCache.offset), 16u);
    EXPECT_EQ(summaryWord(kSummaryExternalCache.offset), 512u);
    EXPECT_EQ(summaryText(kSummaryParallelConnector), "DB25 pin female");
    EXPECT_EQ(summaryText(kSummarySerial2Type), "Serial Port 16550A Compatible");
    EXPECT_EQ(centralProcessorCount, 2u);
    EXPECT_EQ(processorModelNibble, 0x50u);
    const std::uint32_t rows[] = {2, 4, 2, 5, 3, 3, 2};
    for (std::size_t t = 0; t < kDmiTableCount; ++t)
        EXPECT_EQ(dmiScalars[25 + t].number, rows[t]) << "table " << t;
}

} // namespace
} // namespace farlink::inventory
