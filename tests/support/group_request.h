// A request record with its own bindings, named below 1.3.6.1.4.1.32473.25, for driving one
// group routine directly, as the dispatcher would after decoding a message.
#pragma once

#include "mib/group_registry.h"
#include "snmp/message.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace farlink::testing {

inline constexpr std::array<std::uint32_t, 8> kPrivateMib = {1, 3, 6, 1, 4, 1, 32473, 25};

struct GroupRequest {
    snmp::RequestRecord record;
    std::array<snmp::VarBind, snmp::kMaxBindings> binds{};

    explicit GroupRequest(std::uint8_t pduType) {
        record.pduType = pduType;
        for (std::size_t i = 0; i < binds.size(); ++i)
            record.bindings[i] = &binds[i];
    }
    // The record points into binds: a copy would point into the original.
    GroupRequest(const GroupRequest&) = delete;
    GroupRequest& operator=(const GroupRequest&) = delete;

    // A new binding named below .25, with a NULL value.
    snmp::VarBind& add(std::initializer_list<std::uint32_t> below) {
        if (record.bindingCount >= binds.size()) {
            ADD_FAILURE() << "a request holds at most " << binds.size() << " bindings";
            return binds.back();
        }
        snmp::VarBind& b = binds[record.bindingCount++];
        const std::size_t room = b.name.sub.size() - kPrivateMib.size();
        if (below.size() > room)
            ADD_FAILURE() << "a name holds at most " << room << " sub-identifiers below .25";
        const auto end = std::copy(kPrivateMib.begin(), kPrivateMib.end(), b.name.sub.begin());
        std::copy_n(below.begin(), std::min(below.size(), room), end);
        b.name.count =
            static_cast<std::uint16_t>(kPrivateMib.size() + std::min(below.size(), room));
        return b;
    }
    snmp::VarBind& addInteger(std::initializer_list<std::uint32_t> below, std::uint32_t value) {
        snmp::VarBind& b = add(below);
        b.valueTag = snmp::kTagInteger;
        b.valueWord = value;
        return b;
    }
    // The length goes in whole; only the bytes that fit a value are kept, as the decoder does.
    snmp::VarBind& addText(std::initializer_list<std::uint32_t> below, std::string_view text) {
        snmp::VarBind& b = add(below);
        b.valueTag = snmp::kTagOctetString;
        b.valueWord = static_cast<std::uint32_t>(text.size());
        std::copy_n(text.begin(), std::min(text.size(), snmp::kValueBytes), b.valueBytes.begin());
        return b;
    }

    // Runs the routine over every binding with the registry's descriptor of the group named
    // below .25; a group the registry lacks fails the test and runs nothing.
    std::uint32_t run(snmp::GroupRoutine routine, std::initializer_list<std::uint32_t> group) {
        std::vector<std::uint32_t> oid(kPrivateMib.begin(), kPrivateMib.end());
        oid.insert(oid.end(), group);
        const int index = mib::groupIndexOf(oid);
        if (index < 0) {
            ADD_FAILURE() << "no group in the registry for this OID";
            return snmp::kGenErr;
        }
        return routine(record, *mib::groupRegistry[static_cast<std::size_t>(index)], 0,
                       record.bindingCount);
    }

    // The OCTET STRING value of binding i, at most the bytes a value holds.
    std::string text(std::size_t i) const {
        const snmp::VarBind& b = binds.at(i);
        EXPECT_EQ(b.valueTag, snmp::kTagOctetString) << "binding " << i;
        const std::size_t size = std::min<std::size_t>(b.valueWord, b.valueBytes.size());
        return std::string(b.valueBytes.begin(), b.valueBytes.begin() + size);
    }
};

} // namespace farlink::testing
