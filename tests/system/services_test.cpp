// The services list and service start and stop over a simulated machine.
#include "system/services.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace farlink::system {
namespace {

using farlink::testing::ScopedEnv;
using farlink::testing::TempProfileDir;

class Services : public ::testing::Test {
  protected:
    Services() { std::filesystem::create_directory(image_.path() + "/services"); }

    void writeImage(const std::string& name, const std::string& text) const {
        std::ofstream(image_.path() + "/services/" + name, std::ios::binary) << text;
    }
    std::string record() const { return image_.read("record.log"); }

    TempProfileDir image_; // a fresh directory, here the machine image
    ScopedEnv machine_{"FARLINK_MACHINE", image_.path()};
    ScopedEnv record_{"FARLINK_MACHINE_RECORD", image_.path() + "/record.log"};
};

TEST_F(Services, DriverListKeepsNamesAndDisplayNames) {
    writeImage("drivers", "koru\tKORU hardware monitor\n"
                          "# a comment line\n"
                          "aic78xx\tAdaptec AIC-78xx SCSI\n"
                          "null\n");
    EXPECT_EQ(takeActiveDriverList(), 3);
    EXPECT_EQ(activeDriverCount(), 3);
    const auto drivers = activeDrivers();
    ASSERT_EQ(drivers.size(), 3u);
    EXPECT_EQ(drivers[0].name, "koru");
    EXPECT_EQ(drivers[0].displayName, "KORU hardware monitor");
    EXPECT_EQ(drivers[1].name, "aic78xx");
    EXPECT_EQ(drivers[1].displayName, "Adaptec AIC-78xx SCSI");
    EXPECT_EQ(drivers[2].displayName, "null");
}

TEST_F(Services, NoActiveDriverGivesZero) {
    writeImage("drivers", "");
    EXPECT_EQ(takeActiveDriverList(), 0);
    EXPECT_TRUE(activeDrivers().empty());
}

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
    EXPECT_EQ(record(),
              "start SNMP\nstart SNMP\nstop FARLINK\nstart NoSuchService\nstop NoSuchService\n");
}

} // namespace
} // namespace farlink::system
