// Which request a thread is answering. Groups that gather the same system facts (the mount
// table, the load snapshot) keep what they gathered for the rest of that request only, so a
// request whose bindings fall into several groups, or several runs of one group, reads each fact
// once, and the next request reads it afresh.
#pragma once

#include <cstdint>

namespace farlink::snmp {

// Starts a new request on this thread; the pipeline calls it for every datagram it answers, and
// ends it once the answer is built. A group routine called outside (a test, a tool) runs with no
// request and keeps nothing.
void beginRequest();

// Ends this thread's request: until the next begins, nothing gathered is kept.
void endRequest();

// The serial of the request this thread is answering, never the same for two requests; 0 when
// there is none (a group routine called on its own), so nothing is kept for it.
std::uint64_t currentRequestSerial();

} // namespace farlink::snmp
