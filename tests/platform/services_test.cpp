#include "platform/services.h"

#include "platform/temp_machine.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace farlink::platform {
namespace {

using farlink::testing::ScopedEnv;
using farlink::testing::TempMachine;

TEST(ImageServices, DriverListHasNamesAndDisplayNames) {
    TempMachine image;
    image.write("services/drivers", "i8042prt\ti8042 Keyboard and PS/2 Mouse Port Driver\n"
                                    "# drivers the demo machine loads\n"
                                    "\n"
                                    "Serial\tSerial port driver\r\n"
                                    "koru\n"
                                    "\tno name\n"
                                    "Ntfs\t");
    std::vector<ServiceEntry> drivers{{"stale", "stale"}};
    ASSERT_TRUE(enumActiveDrivers(drivers));
    ASSERT_EQ(drivers.size(), 4u);
    EXPECT_EQ(drivers[0].name, "i8042prt");
    EXPECT_EQ(drivers[0].displayName, "i8042 Keyboard and PS/2 Mouse Port Driver");
    EXPECT_EQ(drivers[1].name, "Serial");
    EXPECT_EQ(drivers[1].displayName, "Serial port driver");
    EXPECT_EQ(drivers[2].name, "koru");
    EXPECT_EQ(drivers[2].displayName, "koru") << "without a display name the name stands";
    EXPECT_EQ(drivers[3].name, "Ntfs");
    EXPECT_EQ(drivers[3].displayName, "");
    for (const ServiceEntry& driver : drivers)
        EXPECT_EQ(driver.currentState, 4u) << driver.name;
}

TEST(ImageServices, MachineWithoutDriversFileListsNone) {
    TempMachine image;
    std::vector<ServiceEntry> drivers{{"stale", "stale"}};
    EXPECT_TRUE(enumActiveDrivers(drivers));
    EXPECT_TRUE(drivers.empty());
}

TEST(ImageServices, StartAndStopAreRecordedAndSucceedForInstalledNames) {
    TempMachine image;
    image.write("services/installed", "SNMP\nFarlink\n");
    EXPECT_TRUE(startNamedService("SNMP"));
    EXPECT_TRUE(stopNamedService("FARLINK")) << "service names ignore case";
    errno = 0;
    EXPECT_FALSE(startNamedService("Spooler"));
    EXPECT_EQ(errno, 1060);
    errno = 0;
    EXPECT_FALSE(stopNamedService("SNM"));
    EXPECT_EQ(errno, 1060);
    EXPECT_EQ(image.lines(), (std::vector<std::string>{"start SNMP", "stop FARLINK",
                                                       "start Spooler", "stop SNM"}));
}

TEST(ImageServices, NothingIsInstalledWithoutTheInstalledFile) {
    TempMachine image;
    errno = 0;
    EXPECT_FALSE(startNamedService("SNMP"));
    EXPECT_EQ(errno, 1060);
    EXPECT_EQ(image.lines(), std::vector<std::string>{"start SNMP"});
}

TEST(ServiceUnits, TheSuitesServicesMapToTheirUnits) {
    EXPECT_EQ(unitForService("SNMP"), "koru-inband.service");
    EXPECT_EQ(unitForService("snmp"), "koru-inband.service");
    EXPECT_EQ(unitForService("FARLINK"), "farlink.service");
    EXPECT_EQ(unitForService("Farlink"), "farlink.service");
    EXPECT_EQ(unitForService("FARLINKX"), "");
    EXPECT_EQ(unitForService("Spooler"), "");
    EXPECT_EQ(unitForService(""), "");
}

TEST(HostServices, WithoutSystemdTheSuitesServicesCannotBeStarted) {
    if (std::filesystem::is_directory("/run/systemd/system"))
        GTEST_SKIP() << "systemd runs this host; the test must not start real units";
    ScopedEnv host("FARLINK_MACHINE", "");
    errno = 0;
    EXPECT_FALSE(startNamedService("SNMP"));
    EXPECT_EQ(errno, 1060);
    errno = 0;
    EXPECT_FALSE(stopNamedService("FARLINK"));
    EXPECT_EQ(errno, 1060);
}

TEST(HostServices, LoadedModulesAreTheActiveDrivers) {
    ScopedEnv host("FARLINK_MACHINE", "");
    std::vector<ServiceEntry> drivers{{"stale", "stale"}};
    ASSERT_TRUE(enumActiveDrivers(drivers));
    std::size_t modules = 0;
    if (std::filesystem::exists("/proc/modules")) {
        std::ifstream in("/proc/modules");
        for (std::string line; std::getline(in, line);)
            ++modules;
    }
    EXPECT_EQ(drivers.size(), modules);
    for (const ServiceEntry& driver : drivers) {
        EXPECT_FALSE(driver.name.empty());
        EXPECT_EQ(driver.name.find(' '), std::string::npos) << driver.name;
        EXPECT_EQ(driver.displayName, driver.name);
    }
}

} // namespace
} // namespace farlink::platform
