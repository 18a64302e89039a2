#include "snmp/dispatch.h"

#include <algorithm>

namespace farlink::snmp {

namespace {

// Leading positions where the name equals the group OID, counted up to and including `limit`;
// the group OID's closing 0 and the end of the name stop the count.
std::uint32_t matchingPrefix(const Oid& name, const GroupDescriptor& group, int limit) {
    std::uint32_t m = 0;
    while (static_cast<int>(m) <= limit && m < group.oidLength && m < name.count &&
           name.sub[m] == group.oid[m])
        ++m;
    return m;
}

void rewriteToFirstColumn(Oid& name, const GroupDescriptor& group) {
    std::fill(name.sub.begin(), name.sub.end(), 0u);
    std::copy_n(group.oid.begin(), group.oidLength, name.sub.begin());
    name.sub[group.oidLength] = 1;
    name.count = static_cast<std::uint16_t>(group.oidLength + 1);
}

// noSuchName at binding position i (0-based), unless an error stands already.
void refuse(RequestRecord& request, std::uint16_t i) {
    recordError(request, kNoSuchName, static_cast<std::uint16_t>(i + 1));
}

// A binding may be set only through a group's set routine and only in a column marked writable.
bool settable(const GroupDescriptor& group, const VarBind& binding) {
    if (group.handler.set == nullptr) return false;
    const std::uint32_t column = binding.name.sub[group.oidLength];
    return (group.column(column).flags & kFlagWritable) != 0;
}

} // namespace

std::uint32_t stepInstance(VarBind& binding, const GroupDescriptor& group) {
    Oid& name = binding.name;
    const std::uint32_t n = group.oidLength;
    const std::uint32_t k = group.indexCount;
    if (name.count == n + 1) {
        // Group OID and column only: the first instance follows.
        if (k == 0) {
            name.sub[n + 1] = 0;
            name.count = static_cast<std::uint16_t>(n + 2);
        } else {
            for (std::uint32_t j = 0; j < k; ++j)
                name.sub[n + 1 + j] = group.indexRecords[j].minimum;
            name.count = static_cast<std::uint16_t>(n + 1 + k);
        }
        return 0;
    }
    // The instance sub-identifiers as an odometer, the last one turning first.
    for (std::uint32_t j = k; j-- > 0;) {
        const ColumnRecord& r = group.indexRecords[j];
        std::uint32_t& value = name.sub[n + 1 + j];
        const bool bounded = (r.flags & kFlagBounded) != 0;
        if (!bounded || static_cast<std::int32_t>(r.maximum) > static_cast<std::int32_t>(value)) {
            ++value;
            return 0;
        }
        value = r.minimum;
    }
    return kNoSuchName;
}

int findGroup(GroupTable groups, VarBind& binding, std::uint8_t pduType) {
    Oid& name = binding.name;
    const int length = name.count;
    if (length == 0) return -1;
    // A trailing 0 instance does not count towards the shape.
    const int e = name.sub[length - 1] == 0 ? length - 2 : length - 1;

    for (int index = 0; static_cast<std::size_t>(index) < groups.size() && groups[index] != nullptr;
         ++index) {
        const GroupDescriptor& group = *groups[index];
        const int n = static_cast<int>(group.oidLength);
        const int k = static_cast<int>(group.indexCount);
        if (e == n || e == n + k) {
            // The shape of an object of this group: it is the group's when the prefix is.
            if (matchingPrefix(name, group, e) == group.oidLength) return index;
            continue;
        }
        if (pduType != kGetNextRequest) continue;
        // Get-next: a name that is a prefix of the group OID, or sorts before it at the first
        // difference, moves to the group's first column.
        const std::uint32_t m = matchingPrefix(name, group, e + 1);
        const bool prefix = static_cast<int>(m) == e + 1;
        const bool sortsAfter =
            m < group.oidLength && static_cast<int>(m) < length && group.oid[m] > name.sub[m];
        if (prefix || sortsAfter) {
            rewriteToFirstColumn(name, group);
            return index;
        }
    }
    return -1;
}

void dispatchRun(GroupTable groups, RequestRecord& request, int groupIndex, std::uint16_t first,
                 std::uint16_t end) {
    if (groupIndex < 0 || static_cast<std::size_t>(groupIndex) >= groups.size() || first >= end)
        return;
    const GroupDescriptor& group = *groups[groupIndex];
    const HandlerEntry& handler = group.handler;
    switch (request.pduType) {
    case kGetRequest:
    case kGetNextRequest: {
        const GroupRoutine routine = request.pduType == kGetRequest ? handler.get : handler.getNext;
        if (routine != nullptr)
            routine(request, group, first, end);
        else
            refuse(request, first);
        break;
    }
    case kSetRequest:
        // The writable bindings go to the group in runs of their own, so that each one the
        // group stores is one that may be stored; every other binding is refused where it stands.
        for (std::uint16_t i = first; i < end;) {
            if (!settable(group, *request.bindings[i])) {
                refuse(request, i);
                ++i;
                continue;
            }
            std::uint16_t runEnd = static_cast<std::uint16_t>(i + 1);
            while (runEnd < end && settable(group, *request.bindings[runEnd]))
                ++runEnd;
            if (handler.setTest == nullptr || handler.setTest(request, group, i, runEnd) == 0)
                handler.set(request, group, i, runEnd);
            i = runEnd;
        }
        break;
    default:
        break;
    }
}

void recordError(RequestRecord& request, std::uint32_t status, std::uint16_t position) {
    if (request.errorStatus != kNoError) return;
    request.errorStatus = status;
    request.errorIndex = position;
}

std::uint32_t acceptSet(RequestRecord&, const GroupDescriptor&, std::uint16_t, std::uint16_t) {
    return 0;
}

std::uint32_t answerNothing(RequestRecord& request, const GroupDescriptor&, std::uint16_t first,
                            std::uint16_t) {
    refuse(request, first);
    return request.errorStatus;
}

} // namespace farlink::snmp
