// The port sections of the configuration file.
#include "config/port_settings.h"

#include "platform/console.h"
#include "platform/profile.h"
#include "runtime/agent_settings.h"

#include <string>

namespace farlink::config {

namespace {

using platform::getProfileInt;
using platform::getProfileString;
using runtime::kConfigFile;

} // namespace

int readPortSettings(std::array<PortSettings, 4>& settings) {
    for (std::size_t i = 0; i < settings.size(); ++i) {
        PortSettings& port = settings[i];
        port = PortSettings{};
        const std::string section = portSectionName(static_cast<int>(i + 1));
        // Without a port name the section describes no port; its other keys mean nothing.
        if (getProfileString(section, "PortNumber", "", port.name.data(),
                             static_cast<std::uint32_t>(port.name.size()), kConfigFile) == 0)
            continue;
        port.baud = getProfileInt(section, "Baud", 9600, kConfigFile);
        port.dataBits = getProfileInt(section, "dataBits", 8, kConfigFile);
        port.stopBits = getProfileInt(section, "stopBits", 1, kConfigFile);
        getProfileString(section, "Parity", "", port.parity.data(),
                         static_cast<std::uint32_t>(port.parity.size()), kConfigFile);
        getProfileString(section, "Modem", "", port.modem.data(),
                         static_cast<std::uint32_t>(port.modem.size()), kConfigFile);
        getProfileString(section, "ModemInitString", "", port.initString.data(),
                         static_cast<std::uint32_t>(port.initString.size()), kConfigFile);
    }
    return static_cast<int>(settings.size());
}

std::string portSectionName(int n) {
    return platform::formatText("Serial Port Parameters.%d", n);
}

bool portSectionPresent(int n) {
    // A default no one writes by hand tells a missing key from a present one.
    constexpr std::string_view kAbsent = "\x01";
    const std::string section = portSectionName(n);
    for (const char* key :
         {"PortNumber", "Baud", "dataBits", "stopBits", "Parity", "Modem", "ModemInitString"}) {
        char value[2];
        getProfileString(section, key, kAbsent, value, sizeof value, kConfigFile);
        if (value[0] != kAbsent[0]) return true;
    }
    return false;
}

} // namespace farlink::config
