// The administrator contact table .25.4.18.1 through its routines and its registry descriptor.
#include "system/contact_group.h"

#include "config/agent_settings.h"
#include "platform/shared_memory.h"
#include "service/shared_block.h"
#include "snmp/group_registry.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>

namespace farlink::system {
namespace {

using farlink::testing::ScopedEnv;
using farlink::testing::TempProfileDir;
using snmp::VarBind;

constexpr auto relaxed = std::memory_order_relaxed;

const GroupDescriptor& contactTable() {
    const std::vector<std::uint32_t> oid = {1, 3, 6, 1, 4, 1, 32473, 25, 4, 18, 1};
    const int index = snmp::groupIndexOf(oid);
    EXPECT_GE(index, 0);
    return *snmp::groupRegistry[static_cast<std::size_t>(std::max(index, 0))];
}

// A request record with its bindings, named below .25.4.18.1.
struct Request {
    RequestRecord record;
    std::array<VarBind, snmp::kMaxBindings> binds{};

    explicit Request(std::uint8_t pduType) {
        record.pduType = pduType;
        for (std::size_t i = 0; i < binds.size(); ++i)
            record.bindings[i] = &binds[i];
    }
    VarBind& add(const std::vector<std::uint32_t>& below) {
        VarBind& b = binds[record.bindingCount++];
        std::vector<std::uint32_t> name = {1, 3, 6, 1, 4, 1, 32473, 25, 4, 18, 1};
        name.insert(name.end(), below.begin(), below.end());
        std::copy(name.begin(), name.end(), b.name.sub.begin());
        b.name.count = static_cast<std::uint16_t>(name.size());
        return b;
    }
    VarBind& addInteger(const std::vector<std::uint32_t>& below, std::uint32_t value) {
        VarBind& b = add(below);
        b.valueTag = snmp::kTagInteger;
        b.valueWord = value;
        return b;
    }
    VarBind& addBytes(const std::vector<std::uint32_t>& below, const std::string& bytes) {
        VarBind& b = add(below);
        b.valueTag = snmp::kTagOctetString;
        b.valueWord = static_cast<std::uint32_t>(bytes.size());
        std::copy_n(bytes.begin(), std::min(bytes.size(), b.valueBytes.size()),
                    b.valueBytes.begin());
        return b;
    }
    std::uint16_t end() const { return record.bindingCount; }
};

// A text as a manager sends it when a keyword guards the agent: the text, a zero byte, then the
// keyword padded with zero bytes to 16.
std::string guarded(const std::string& text, const std::string& keyword) {
    std::string value = text;
    value += '\0';
    value += keyword;
    value.resize(text.size() + 1 + 16, '\0');
    return value;
}

std::string textOf(const VarBind& b) {
    EXPECT_EQ(b.valueTag, snmp::kTagOctetString);
    return std::string(b.valueBytes.begin(),
                       b.valueBytes.begin() + std::min<std::uint32_t>(b.valueWord, 80));
}

std::vector<std::uint32_t> suffix(const VarBind& b) {
    return std::vector<std::uint32_t>(b.name.sub.begin() + 11, b.name.sub.begin() + b.name.count);
}

const std::string kAddress = "Rue du Lac 12, 1003 Lausanne, Switzerland, third floor, "
                             "ask at the desk for the server room key, door B, left";

const std::string kTexts[7] = {
    "Mara Jost", "+41 21 555 10 20",     kAddress, "+41 21 555 30 40", "Chemin Vert 3",
    "pager 12",  "mara.jost@example.org"};

// A region name of this case alone (parameterised names carry a '/', which a name may not).
std::string uniqueShmName() {
    std::string name = "farlink-contact-" + std::to_string(::getpid()) + "-" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '-');
    return name;
}

class ContactTable : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(platform::createSharedMapping(platform::sharedBlockName(),
                                                  service::kSharedBlockSize, mapping_));
        service::attachSharedBlock({mapping_.base, mapping_.size});
        for (int c = 0; c < 7; ++c)
            service::writeText(service::kContactFields[c].field, kTexts[c]);
        config::agentSettings.contactRowCount.store(1, relaxed);
        config::configChanged.store(0, relaxed);
        dir_.write("TESSEL.INI", "[environment]\npassword=x\n");
    }
    void TearDown() override {
        service::attachSharedBlock({});
        platform::closeSharedMapping(mapping_);
        platform::removeSharedMapping(shmName_);
    }

    // The block's bytes, to see that a refused SET changed none of them.
    std::vector<std::uint8_t> blockBytes() const {
        return std::vector<std::uint8_t>(mapping_.base, mapping_.base + service::kSharedBlockSize);
    }

    std::string shmName_ = uniqueShmName();
    ScopedEnv shmEnv_{"FARLINK_SHM_NAME", shmName_};
    TempProfileDir dir_;
    platform::SharedMapping mapping_;
};

TEST_F(ContactTable, GetServesEveryColumn) {
    Request r(snmp::kGetRequest);
    for (std::uint32_t c = 1; c <= 8; ++c)
        r.add({c, 0});
    EXPECT_EQ(contactTableGet(r.record, contactTable(), 0, r.end()), snmp::kNoError);
    for (int c = 0; c < 7; ++c)
        EXPECT_EQ(textOf(r.binds[c]), c == 2 ? kAddress.substr(0, 80) : kTexts[c]) << c + 1;
    EXPECT_EQ(r.binds[7].valueTag, snmp::kTagInteger);
    EXPECT_EQ(r.binds[7].valueWord, 0u);
}

struct MissingCase {
    std::uint32_t rows;
    std::vector<std::uint32_t> below;
};

class ContactTableMissing : public ContactTable,
                            public ::testing::WithParamInterface<MissingCase> {};

TEST_P(ContactTableMissing, GetAnswersNoSuchName) {
    config::agentSettings.contactRowCount.store(GetParam().rows, relaxed);
    Request r(snmp::kGetRequest);
    r.add({1, 0});
    r.add(GetParam().below);
    r.add({2, 0});
    EXPECT_EQ(contactTableGet(r.record, contactTable(), 0, r.end()), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, GetParam().rows == 0 ? 1u : 2u);
}

INSTANTIATE_TEST_SUITE_P(Cases, ContactTableMissing,
                         ::testing::Values(MissingCase{1, {1, 1}},   // a second row
                                           MissingCase{1, {9, 0}},   // past the last column
                                           MissingCase{1, {0, 0}},   // column 0
                                           MissingCase{0, {1, 0}})); // before the settings

TEST_F(ContactTable, WalkVisitsEachColumnOnceAndEndsInTheGroup) {
    Request r(snmp::kGetNextRequest);
    VarBind& b = r.add({1}); // the group and column 1, as the pipeline hands a name from before it
    std::vector<std::vector<std::uint32_t>> names;
    for (int step = 0; step < 20; ++step) {
        r.record.errorStatus = 0;
        r.record.errorIndex = 0;
        if (contactTableGet(r.record, contactTable(), 0, 1) != snmp::kNoError) break;
        names.push_back(suffix(b));
        const std::uint32_t column = b.name.sub[11];
        if (column >= 1 && column <= 7) {
            EXPECT_EQ(textOf(b), column == 3 ? kAddress.substr(0, 80) : kTexts[column - 1]);
        }
    }
    const std::vector<std::vector<std::uint32_t>> want = {{1, 0}, {2, 0}, {3, 0}, {4, 0},
                                                          {5, 0}, {6, 0}, {7, 0}, {8, 0}};
    EXPECT_EQ(names, want);
    EXPECT_EQ(r.record.errorStatus, snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 1u);
}

TEST_F(ContactTable, SetWithoutKeywordStoresEachText) {
    Request r(snmp::kSetRequest);
    const std::string newTexts[7] = {"Lea Imhof",        "+41 31 555 00 11", "Marktgasse 4, Bern",
                                     "+41 31 555 00 22", "Aareweg 2",        "pager 5",
                                     "lea@example.ch"};
    for (std::uint32_t c = 1; c <= 7; ++c)
        r.addBytes({c, 0}, newTexts[c - 1]);
    EXPECT_EQ(contactTableSet(r.record, contactTable(), 0, r.end()), snmp::kNoError);
    for (int c = 0; c < 7; ++c)
        EXPECT_EQ(service::readText(service::kContactFields[c].field), newTexts[c]) << c + 1;
    EXPECT_EQ(config::configChanged.load(), 1u);
    // The response repeats what was written.
    EXPECT_EQ(textOf(r.binds[1]), newTexts[1]);
}

TEST_F(ContactTable, SetTextMustFitItsField) {
    Request r(snmp::kSetRequest);
    r.addBytes({2, 0}, std::string(39, '7')); // office phone: 40 bytes with the terminator
    r.addBytes({1, 0}, std::string(40, 'x')); // the name has no room for 40 characters
    const auto before = blockBytes();
    EXPECT_EQ(contactTableSet(r.record, contactTable(), 0, r.end()), snmp::kBadValue);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_EQ(service::readText(service::kOfficePhone), std::string(39, '7'));
    EXPECT_EQ(service::readText(service::kAdministratorName), kTexts[0]);
    EXPECT_EQ(blockBytes()[80], before[80]); // nothing spilled into the office address
}

TEST_F(ContactTable, SetWithKeywordNeedsTheRightOne) {
    dir_.write("TESSEL.INI", "[environment]\nkeyword=Sesam\n");
    const auto before = blockBytes();

    Request wrong(snmp::kSetRequest);
    wrong.addBytes({2, 0}, guarded("555 99 99", "sesam"));
    EXPECT_EQ(contactTableSet(wrong.record, contactTable(), 0, wrong.end()), snmp::kBadValue);
    EXPECT_EQ(wrong.record.errorIndex, 1u);

    Request bare(snmp::kSetRequest);
    bare.addBytes({2, 0}, "555 99 99");
    EXPECT_EQ(contactTableSet(bare.record, contactTable(), 0, bare.end()), snmp::kBadValue);
    EXPECT_EQ(blockBytes(), before);
    EXPECT_EQ(config::configChanged.load(), 0u);

    Request right(snmp::kSetRequest);
    right.addBytes({2, 0}, guarded("555 99 99", "Sesam"));
    EXPECT_EQ(contactTableSet(right.record, contactTable(), 0, right.end()), snmp::kNoError);
    EXPECT_EQ(service::readText(service::kOfficePhone), "555 99 99");
    EXPECT_EQ(config::configChanged.load(), 1u);
}

TEST_F(ContactTable, SetIntegerToTextColumnIsGenErrAndEndsTheRun) {
    Request r(snmp::kSetRequest);
    r.addBytes({6, 0}, "pager 1");
    r.addInteger({1, 0}, 5);
    r.addBytes({7, 0}, "never@example.org");
    EXPECT_EQ(contactTableSet(r.record, contactTable(), 0, r.end()), snmp::kGenErr);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_EQ(service::readText(service::kPager), "pager 1"); // before the error: applied
    EXPECT_EQ(service::readText(service::kAdministratorName), kTexts[0]);
    EXPECT_EQ(service::readText(service::kEmail), kTexts[6]); // after it: not reached
}

TEST_F(ContactTable, SetOfTheInstanceColumnIsNoSuchNameAndTheRestApplies) {
    Request r(snmp::kSetRequest);
    r.addInteger({8, 0}, 3);
    r.addBytes({5, 0}, "Neuweg 1");
    r.addInteger({4, 0}, 5); // a wrong type after an error: passed over, nothing stored
    EXPECT_EQ(contactTableSet(r.record, contactTable(), 0, r.end()), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 1u);
    EXPECT_EQ(service::readText(service::kHomeAddress), "Neuweg 1");
    EXPECT_EQ(service::readText(service::kHomePhone), kTexts[3]);
}

TEST_F(ContactTable, SetOfAnotherRowChangesNothing) {
    Request r(snmp::kSetRequest);
    r.addBytes({1, 1}, "Somebody Else");
    const auto before = blockBytes();
    EXPECT_EQ(contactTableSet(r.record, contactTable(), 0, r.end()), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 1u);
    EXPECT_EQ(blockBytes(), before);
    EXPECT_EQ(config::configChanged.load(), 0u);
}

} // namespace
} // namespace farlink::system
