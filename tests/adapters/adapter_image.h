// A machine image with network cards for the adapter tests: NetworkCards keys, resource lists
// and the NDIS answers of each card's device, written as the agent reads them.
#pragma once

#include "adapters/discovery.h"
#include "adapters/nic.h"
#include "support/resource_lists.h"
#include "support/test_support.h"

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace farlink::testing {

class AdapterImage {
  public:
    AdapterImage() { adapters::resetAdapters(); }
    ~AdapterImage() { adapters::resetAdapters(); }

    // A NetworkCards subkey. hidden < 0 writes no "Hidden" value.
    void card(const std::string& key, const std::string& product, const std::string& service,
              const std::string& title, int hidden = -1) {
        reg_ += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\"
                "NetworkCards\\" +
                key + "]\r\n\"ProductName\"=\"" + product + "\"\r\n\"ServiceName\"=\"" + service +
                "\"\r\n\"Title\"=\"" + title + "\"\r\n";
        if (hidden >= 0) {
            char line[32];
            std::snprintf(line, sizeof line, "\"Hidden\"=dword:%08x\r\n", hidden);
            reg_ += line;
        }
        reg_ += "\r\n";
    }

    // The adapter's key below OtherDrivers, with its raw list unless `list` is empty.
    void resources(const std::string& product, const std::string& service, const Bytes& list) {
        reg_ += "[HKEY_LOCAL_MACHINE\\HARDWARE\\RESOURCEMAP\\OtherDrivers\\" + product + "]\r\n";
        if (!list.empty())
            reg_ += "\"\\\\Device\\\\" + service + ".Raw\"=hex(8):" + hexList(list) + "\r\n";
        reg_ += "\r\n";
    }

    // The answer of the service's device to one OID.
    void answer(const std::string& service, std::uint32_t oid, const Bytes& bytes) {
        const std::string folder = dir.path() + "/devices/" + service + "/00170002";
        std::filesystem::create_directories(folder);
        char name[16];
        std::snprintf(name, sizeof name, "/%08x.bin", static_cast<unsigned>(oid));
        dir.write("devices/" + service + "/00170002" + name,
                  std::string(bytes.begin(), bytes.end()));
    }
    void counter(const std::string& service, std::uint32_t oid, std::uint64_t value) {
        Bytes bytes;
        put32(bytes, static_cast<std::uint32_t>(value));
        put32(bytes, static_cast<std::uint32_t>(value >> 32));
        answer(service, oid, bytes);
    }
    void supported(const std::string& service, std::initializer_list<std::uint32_t> oids) {
        Bytes bytes;
        for (std::uint32_t oid : oids)
            put32(bytes, oid);
        answer(service, adapters::kOidSupportedList, bytes);
    }
    // A device that answers what a fill asks: medium, address and vendor text.
    void identity(const std::string& service, std::uint32_t medium, const std::string& vendor) {
        Bytes m;
        put32(m, medium);
        answer(service, adapters::kOidMediaInUse, m);
        const Bytes address = {0x00, 0xA0, 0xC9, 0x12, 0x34, 0x56};
        answer(service, medium == 0 ? 0x01010101 : 0x02010101, address);
        Bytes text(vendor.begin(), vendor.end());
        text.push_back(0);
        answer(service, adapters::kOidVendorDescription, text);
    }

    // Writes the registry; call after the last card and resource key.
    void commit() const {
        std::filesystem::create_directories(dir.path() + "/registry");
        dir.write("registry/30-network.reg", "REGEDIT4\r\n\r\n" + reg_);
    }

    TempProfileDir dir;
    ScopedEnv machine{"FARLINK_MACHINE", dir.path()};
    ScopedEnv record{"FARLINK_MACHINE_RECORD", dir.path() + "/record.log"};

  private:
    std::string reg_;
};

} // namespace farlink::testing
