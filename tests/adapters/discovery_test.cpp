// Adapter discovery on machine images: which NetworkCards subkeys become adapters, the polled
// OID list, and what the record of each adapter holds.
#include "adapters/discovery.h"

#include "adapters/adapter_image.h"
#include "adapters/nic.h"

#include <gtest/gtest.h>

#include <string>

namespace farlink::adapters {
namespace {

using testing::AdapterImage;
using testing::Bytes;

std::string text(std::span<const char> field) {
    return std::string(field.data());
}

// A card that discovery accepts: its device exists and answers everything a fill asks.
void usableCard(AdapterImage& image, const std::string& key, const std::string& service,
                const std::string& title = "[1] Card") {
    image.card(key, "PROD" + service, service, title);
    image.resources("PROD" + service, service, {});
    image.identity(service, 0, "Vendor of " + service);
    image.supported(service, {0x00020101});
}

// "0" and names that are no number are passed by, a hidden card is not counted, one without a
// "Hidden" value is; a name of four characters ends the walk; a card whose device cannot be
// opened leaves its index to the next one.
TEST(Discovery, WalkRulesDecideWhichCardsBecomeAdapters) {
    AdapterImage image;
    usableCard(image, "0", "Zero");
    usableCard(image, "abc", "Letters");
    usableCard(image, "1", "First", "[1] ABCDEF");
    image.card("2", "PRODGone", "Gone", "[2] no device"); // no devices/Gone
    usableCard(image, "3", "Third", "[3]");
    image.card("4", "PRODHidden", "Hidden", "[4] hidden", 1);
    image.identity("Hidden", 0, "hidden");
    usableCard(image, "5", "Fifth", "[5] shown");
    image.card("6", "PRODShown", "Shown", "[6] x", 0);
    image.identity("Shown", 0, "shown");
    image.resources("PRODShown", "Shown", {});
    usableCard(image, "1000", "Long");
    usableCard(image, "7", "AfterLong");
    image.commit();

    EXPECT_EQ(discoverAdapters(), 4);
    EXPECT_EQ(nicCount.load(), 4);
    const char* titles[] = {"ABCDEF", "", "shown", "x"};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(fillAdapterRecord(i)) << i;
        // The title without its first four characters; a shorter one leaves nothing.
        EXPECT_EQ(text(nicInfo[i].title), titles[i]) << i;
        EXPECT_EQ(nicInfo[i].index, static_cast<std::uint32_t>(i));
    }
    EXPECT_EQ(text(nicInfo[0].vendorDescription), "Vendor of First");
    EXPECT_EQ(text(nicInfo[3].vendorDescription), "shown");
    EXPECT_FALSE(fillAdapterRecord(4));
}

TEST(Discovery, NinthUsableCardIsNotTaken) {
    AdapterImage image;
    for (int i = 1; i <= 9; ++i)
        usableCard(image, std::to_string(i), "Card" + std::to_string(i));
    image.commit();
    EXPECT_EQ(discoverAdapters(), kMaxAdapters);
    std::array<std::uint8_t, 8> out{};
    std::uint32_t returned = 0;
    EXPECT_TRUE(adapterQuery(7, 0x00010103, out, returned));
    EXPECT_FALSE(adapterQuery(8, 0x00010103, out, returned));
}

// Statistics of the general and 802.3 families, 802.5 statistics and its ring status stay, in
// the driver's order; anything else (hardware status, media, other families) does not.
TEST(Discovery, PolledListKeepsTheStatisticsInTheDriversOrder) {
    AdapterImage image;
    usableCard(image, "1", "Ring");
    image.supported("Ring",
                    {0x00010101, 0x00010102, 0x0002020E, 0x00020101, 0x01020207, 0x02010106,
                     0x02010101, 0x02020206, 0x03020101, 0x00030101, 0x01010102, 0x00020202});
    image.commit();
    ASSERT_EQ(discoverAdapters(), 1);
    ASSERT_TRUE(buildPolledOidList(0));
    const PolledOidList& list = polledOids[0];
    EXPECT_EQ(std::vector<std::uint32_t>(list.oids.begin(), list.oids.begin() + list.count),
              (std::vector<std::uint32_t>{0x0002020E, 0x00020101, 0x01020207, 0x02010106,
                                          0x02020206, 0x00020202}));
}

// The largest port range (the first of equal ones), the last interrupt, memory range and DMA
// channel, and device-specific data passed over; without DMA the channel reads all ones. (A card
// without a raw list: the Token Ring row of test_adapters.py.)
TEST(Discovery, ResourceSummaryFromTheRawList) {
    using namespace testing;
    AdapterImage image;
    usableCard(image, "1", "Nic");
    image.resources("PRODNic", "Nic",
                    resourceList({{port(0x300, 0x10), port(0xEC00, 0x20), irq(5),
                                   deviceSpecific(32), port(0xE000, 0x20), memory(0xD0000, 0x1000),
                                   irq(11), memory(0xFEBFF000, 0x1000)}}));
    usableCard(image, "2", "WithDma");
    image.resources("PRODWithDma", "WithDma", resourceList({{irq(3), dma(5)}}));
    image.commit();
    ASSERT_EQ(discoverAdapters(), 2);
    ASSERT_TRUE(fillAdapterRecord(0) && fillAdapterRecord(1));
    EXPECT_EQ(nicInfo[0].ioPortBase, 0xEC00u);
    EXPECT_EQ(nicInfo[0].interruptLevel, 11u);
    EXPECT_EQ(nicInfo[0].memoryBase, 0xFEBFF000u);
    EXPECT_EQ(nicInfo[0].dmaChannel, 0xFFFFFFFFu);
    EXPECT_EQ(nicInfo[1].dmaChannel, 5u);
}

// The sample cards' media and texts: test_adapters.py's table walk. Here a vendor text longer
// than the field, and a medium past the ones the agent names.
TEST(Discovery, RecordCutsTheVendorTextAndNamesAnUnknownMedium) {
    AdapterImage image;
    usableCard(image, "1", "Tok");
    image.identity("Tok", 1, std::string(100, 'v'));
    usableCard(image, "2", "Fddi");
    image.identity("Fddi", 2, "fddi");
    image.commit();
    ASSERT_EQ(discoverAdapters(), 2);
    ASSERT_TRUE(fillAdapterRecord(0) && fillAdapterRecord(1));
    EXPECT_EQ(text(nicInfo[0].vendorDescription), std::string(81, 'v'));
    EXPECT_EQ(nicInfo[1].mediaCode, kMediaNotSupported);
    EXPECT_EQ(text(nicInfo[1].mediaName), "Not Supported by KORU");
}

// An answer shorter than what is read of it fails the query, so no byte of an earlier answer
// is taken; a text without its zero ends at the bytes returned.
TEST(Discovery, ShortAnswersFailTheFill) {
    AdapterImage image;
    usableCard(image, "1", "ShortMedia");
    image.answer("ShortMedia", kOidMediaInUse, {0, 0});
    usableCard(image, "2", "ShortAddress");
    image.answer("ShortAddress", kOid8023PermanentAddress, {0, 0xA0, 0xC9, 0x12});
    usableCard(image, "3", "Unterminated");
    image.answer("Unterminated", kOidVendorDescription, {'a', 'b', 'c'});
    image.commit();
    ASSERT_EQ(discoverAdapters(), 3);
    EXPECT_FALSE(fillAdapterRecord(0));
    EXPECT_FALSE(fillAdapterRecord(1));
    ASSERT_TRUE(fillAdapterRecord(2));
    EXPECT_EQ(text(nicInfo[2].vendorDescription), "abc");
}

// An adapter whose list cannot be built still carries its own index (and gets no poller).
TEST(Discovery, AdapterWithoutListKeepsItsIndex) {
    AdapterImage image;
    for (const char* service : {"NoList0", "NoList1"}) {
        usableCard(image, service == std::string("NoList0") ? "1" : "2", service);
        std::filesystem::remove(image.dir.path() + "/devices/" + service +
                                "/00170002/00010101.bin");
    }
    image.commit();
    EXPECT_EQ(initNic(), 1);
    EXPECT_EQ(nicCount.load(), 2);
    EXPECT_EQ(nicInfo[1].index, 1u);
    EXPECT_EQ(text(nicInfo[1].mediaName), "");
}

} // namespace
} // namespace farlink::adapters
