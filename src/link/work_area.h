// The work area of a port: everything one frame needs past its received bytes, made once and
// reused for every frame, with guard bands between its parts.
#pragma once

#include "link/pipeline.h"
#include "runtime/guarded.h"
#include "snmp/message.h"

#include <array>
#include <cstdint>

namespace farlink::link {

// Each port reader thread answers every frame in the same area: no allocation and no clearing
// of buffers per request. The guard bands keep the overrun detection that separate guarded
// blocks gave: they are checked around every group run and once the reply is made.
struct Guard {
    std::array<std::uint8_t, runtime::kGuardBytes> bytes;
};

struct BindingSlot {
    snmp::VarBind binding;
    Guard after;
};

struct WorkArea {
    Guard beforeRecord;
    snmp::RequestRecord pdu;
    Guard afterRecord;
    std::array<BindingSlot, snmp::kMaxBindings> slots;
    std::array<std::uint8_t, kSnmpBufSize> snmpBuf;
    Guard afterMessage;
    std::array<std::uint8_t, kOutBufSize> outBuf;
    Guard afterRequestDatagram;
    std::array<std::uint8_t, kReplyDatagramSize> reply;
    Guard afterReplyDatagram;
    std::array<std::uint8_t, kSlipBufSize> slipBuf;
    Guard afterReplyFrame;
};

// Points the record at the area's bindings and sets every guard.
void prepareWorkArea(WorkArea& area);

// Reports each damaged guard with the part it follows and mends it, so that one overrun is told
// once and the next frame starts from intact guards; the number of damaged guards.
int checkGuards(WorkArea& area);

} // namespace farlink::link
