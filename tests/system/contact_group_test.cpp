// The administrator contact table .25.4.18.1 through its routines and its registry descriptor.
#include "system/contact_group.h"

#include "runtime/agent_settings.h"
#include "runtime/shared_block.h"
#include "support/group_request.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace farlink::system {
namespace {

using testing::GroupRequest;

constexpr auto relaxed = std::memory_order_relaxed;

const std::string kTexts[7] = {
    "Mara Jost",     "+41 21 555 10 20", "Rue du Lac 12",        "+41 21 555 30 40",
    "Chemin Vert 3", "pager 12",         "mara.jost@example.org"};

class ContactTable : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int c = 0; c < 7; ++c)
            runtime::writeText(runtime::kContactFields[c].field, kTexts[c]);
        runtime::agentSettings.contactRowCount.store(1, relaxed);
        runtime::configChanged.store(0, relaxed);
        dir_.write("TESSEL.INI", "[environment]\npassword=x\n");
    }

    std::uint32_t get(GroupRequest& r) { return r.run(contactTableGet, {4, 18, 1}); }
    std::uint32_t set(GroupRequest& r) { return r.run(contactTableSet, {4, 18, 1}); }

    testing::ScopedSharedBlock block_;
    testing::TempProfileDir dir_;
};

TEST_F(ContactTable, GetOfAMissingObjectAnswersNoSuchName) {
    struct Case {
        std::uint32_t rows, column, row;
    };
    // A second row, past the last column, column 0, and before the settings hold a row.
    for (const Case c : {Case{1, 1, 1}, Case{1, 9, 0}, Case{1, 0, 0}, Case{0, 1, 0}}) {
        SCOPED_TRACE(::testing::Message() << c.rows << " rows, " << c.column << "." << c.row);
        runtime::agentSettings.contactRowCount.store(c.rows, relaxed);
        GroupRequest r(snmp::kGetRequest);
        r.add({4, 18, 1, 1, 0});
        r.add({4, 18, 1, c.column, c.row});
        r.add({4, 18, 1, 2, 0});
        EXPECT_EQ(get(r), snmp::kNoSuchName);
        EXPECT_EQ(r.record.errorIndex, c.rows == 0 ? 1u : 2u);
        if (c.rows != 0) {
            EXPECT_EQ(r.text(0), kTexts[0]);
        }
    }
}

TEST_F(ContactTable, SetTextMustFitItsFieldAndTheFile) {
    GroupRequest r(snmp::kSetRequest);
    r.addText({4, 18, 1, 2, 0}, std::string(39, '7')); // office phone: 40 bytes with the terminator
    r.addText({4, 18, 1, 1, 0}, std::string(40, 'x')); // the name has no room for 40 characters
    const auto before = block_.bytes();
    EXPECT_EQ(set(r), snmp::kBadValue);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_EQ(runtime::readText(runtime::kOfficePhone), std::string(39, '7'));
    EXPECT_EQ(runtime::readText(runtime::kAdministratorName), kTexts[0]);
    EXPECT_EQ(block_.bytes()[80], before[80]); // nothing spilled into the office address

    // A line break could never be written back to TESSEL.INI: refused, not served unwritten.
    for (const char* text : {"555 0199\r\nEMail=x", "555\n0199", "555\r"}) {
        GroupRequest broken(snmp::kSetRequest);
        broken.addText({4, 18, 1, 2, 0}, text);
        EXPECT_EQ(set(broken), snmp::kBadValue) << text;
        EXPECT_EQ(runtime::readText(runtime::kOfficePhone), std::string(39, '7')) << text;
    }
}

TEST_F(ContactTable, SetIntegerToTextColumnIsGenErrAndEndsTheRun) {
    GroupRequest r(snmp::kSetRequest);
    r.addText({4, 18, 1, 6, 0}, "pager 1");
    r.addInteger({4, 18, 1, 1, 0}, 5);
    r.addText({4, 18, 1, 7, 0}, "never@example.org");
    EXPECT_EQ(set(r), snmp::kGenErr);
    EXPECT_EQ(r.record.errorIndex, 2u);
    EXPECT_EQ(runtime::readText(runtime::kPager), "pager 1"); // before the error: applied
    EXPECT_EQ(runtime::readText(runtime::kAdministratorName), kTexts[0]);
    EXPECT_EQ(runtime::readText(runtime::kEmail), kTexts[6]); // after it: not reached
}

TEST_F(ContactTable, SetOfTheTextAFieldHoldsWakesNoWriteBack) {
    GroupRequest same(snmp::kSetRequest);
    same.addText({4, 18, 1, 1, 0}, kTexts[0]);
    EXPECT_EQ(set(same), snmp::kNoError);
    EXPECT_EQ(runtime::configChanged.load(), 0u);
    GroupRequest changed(snmp::kSetRequest);
    changed.addText({4, 18, 1, 1, 0}, kTexts[0] + " Jr.");
    EXPECT_EQ(set(changed), snmp::kNoError);
    EXPECT_EQ(runtime::readText(runtime::kAdministratorName), kTexts[0] + " Jr.");
    EXPECT_EQ(runtime::configChanged.load(), 1u);
}

TEST_F(ContactTable, SetOfAnotherRowChangesNothing) {
    GroupRequest r(snmp::kSetRequest);
    r.addText({4, 18, 1, 1, 1}, "Somebody Else");
    const auto before = block_.bytes();
    EXPECT_EQ(set(r), snmp::kNoSuchName);
    EXPECT_EQ(r.record.errorIndex, 1u);
    EXPECT_EQ(block_.bytes(), before);
    EXPECT_EQ(runtime::configChanged.load(), 0u);
}

} // namespace
} // namespace farlink::system
