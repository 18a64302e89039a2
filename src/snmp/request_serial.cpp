#include "snmp/request_serial.h"

namespace farlink::snmp {

namespace {

// Each port thread decodes and answers its own requests, one after another; the count goes on
// through endRequest, so a serial is never given twice.
thread_local std::uint64_t begun = 0;
thread_local std::uint64_t serial = 0;

} // namespace

void beginRequest() {
    serial = ++begun;
}

void endRequest() {
    serial = 0;
}

std::uint64_t currentRequestSerial() {
    return serial;
}

} // namespace farlink::snmp
