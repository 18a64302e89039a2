// How a run of bindings reaches a group, and the table-index odometer of get-next.
#pragma once

#include "snmp/group.h"

namespace farlink::snmp {

// The odometer: 0 when the name now names the next instance, 2 when it ran past the last.
std::uint32_t stepInstance(VarBind& binding, const GroupDescriptor& group);

// The position in `groups` of the group that owns the binding, or -1. For GetNextRequest a name
// that sorts before a group is rewritten to the group OID followed by column 1.
int findGroup(GroupTable groups, VarBind& binding, std::uint8_t pduType);

// Calls the routine of the group's handler entry that fits the PDU type for bindings
// first .. end - 1. A manager is never told that something happened when nothing did: a get or
// get-next that reaches a group without the routine for it, and a set of a column that is not
// writable (or of a group without a set routine), answer noSuchName at that binding, and such a
// set stores nothing for it.
void dispatchRun(GroupTable groups, RequestRecord& request, int groupIndex, std::uint16_t first,
                 std::uint16_t end);

// Records an error status with its 1-based position unless one is recorded already.
void recordError(RequestRecord& request, std::uint32_t status, std::uint16_t position);

// A set-test routine that accepts everything.
std::uint32_t acceptSet(RequestRecord& request, const GroupDescriptor& group, std::uint16_t first,
                        std::uint16_t end);
// The routine of a group that serves nothing: noSuchName at the run's first binding.
std::uint32_t answerNothing(RequestRecord& request, const GroupDescriptor& group,
                            std::uint16_t first, std::uint16_t end);

// The common get/get-next form. For each binding: step the instance on get-next (an end of the
// odometer answers noSuchName and ends the run); on get-next an instance at or past rowCount
// moves to the next column's instance 0; an instance at or past rowCount answers noSuchName and
// ends the run; otherwise fill(binding, column, instance) answers it, and a false result (a
// column the group does not serve) records noSuchName unless an error stands. Returns the
// error-status.
template <class Fill>
std::uint32_t serveColumns(RequestRecord& request, const GroupDescriptor& group,
                           std::uint16_t first, std::uint16_t end, std::uint32_t rowCount,
                           Fill&& fill) {
    const std::uint32_t n = group.oidLength;
    for (std::uint16_t i = first; i < end; ++i) {
        VarBind& b = *request.bindings[i];
        const std::uint16_t position = static_cast<std::uint16_t>(i + 1);
        if (request.pduType == kGetNextRequest) {
            const std::uint32_t r = stepInstance(b, group);
            if (r != 0) {
                request.errorStatus = r;
                request.errorIndex = position;
                return r;
            }
        }
        std::uint32_t column = b.name.sub[n];
        std::uint32_t instance = group.indexCount == 0 ? 0 : b.name.sub[n + 1];
        if (request.pduType == kGetNextRequest && instance >= rowCount) {
            column += 1;
            b.name.sub[n] = column;
            if (group.indexCount != 0) b.name.sub[n + 1] = 0;
            instance = 0;
        }
        if (instance >= rowCount) {
            request.errorStatus = kNoSuchName;
            request.errorIndex = position;
            return kNoSuchName;
        }
        if (!fill(b, column, instance)) recordError(request, kNoSuchName, position);
    }
    return request.errorStatus;
}

} // namespace farlink::snmp
