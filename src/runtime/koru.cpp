#include "runtime/koru.h"

#include "platform/console.h"
#include "runtime/events.h"

namespace farlink::runtime {

platform::DeviceHandle koruHandle = nullptr;

// The driver gets its own handle for this one request: the control handler runs on the
// dispatcher's thread and must not depend on what the start-up left open.
void sendShutdownRequest() {
    platform::DeviceHandle device =
        platform::openDevice(kKoruDevice, platform::kDeviceRead | platform::kDeviceWrite);
    if (device == nullptr) {
        reportEvent(kEventWarning,
                    platform::formatText("Couldn't open the device: %d", platform::lastError()));
        return;
    }
    std::uint32_t returned = 0;
    if (!platform::deviceIoControl(device, kIoctlShutdown, {}, {}, returned))
        reportEvent(kEventWarning, platform::formatText("Error %d occured in SHUTDOWN IOCTL",
                                                        platform::lastError()));
    platform::closeDevice(device);
}

} // namespace farlink::runtime
