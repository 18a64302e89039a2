// The services list and service start and stop over a simulated machine.
#include "system/services.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace farlink::system {
namespace {

class Services : public ::testing::Test {
  protected:
    Services() { std::filesystem::create_directory(image_.path() + "/services"); }

    void writeImage(const std::string& name, const std::string& text) const {
        std::ofstream(image_.path() + "/services/" + name, std::ios::binary) << text;
    }

    testing::TempProfileDir image_; // a fresh directory, here the machine image
    testing::ScopedEnv machine_{"FARLINK_MACHINE", image_.path()};
    testing::ScopedEnv record_{"FARLINK_MACHINE_RECORD", image_.path() + "/record.log"};
};

// The list itself is read by the platform; here, what a take does with an earlier one.
TEST_F(Services, ANewTakeReplacesTheOldListAndAFailedOneEmptiesIt) {
    writeImage("drivers", "a\tA\nb\tB\n");
    ASSERT_EQ(takeActiveDriverList(), 2);
    writeImage("drivers", "c\tC\n");
    EXPECT_EQ(takeActiveDriverList(), 1);
    ASSERT_EQ(activeDrivers().size(), 1u);
    EXPECT_EQ(activeDrivers()[0].name, "c");

    // A list that cannot be read leaves no stale entries to serve.
    std::filesystem::remove(image_.path() + "/services/drivers");
    std::filesystem::create_directory(image_.path() + "/services/drivers");
    EXPECT_EQ(takeActiveDriverList(), 0);
    EXPECT_EQ(activeDriverCount(), 0);
}

TEST_F(Services, StartAndStopSucceedOnlyForInstalledServices) {
    EXPECT_EQ(startService("SNMP"), 0); // nothing installed yet
    writeImage("installed", "SNMP\nFARLINK\n");
    EXPECT_NE(startService("SNMP"), 0);
    EXPECT_NE(stopService("FARLINK"), 0);
    EXPECT_EQ(startService("NoSuchService"), 0);
    EXPECT_EQ(stopService("NoSuchService"), 0);
    EXPECT_EQ(image_.read("record.log"),
              "start SNMP\nstart SNMP\nstop FARLINK\nstart NoSuchService\nstop NoSuchService\n");
}

} // namespace
} // namespace farlink::system
