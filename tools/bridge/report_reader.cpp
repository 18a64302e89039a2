// Reading the agent's groups as a manager does: the objects of a scalar group by GET, a table
// row by row by GET-NEXT over all its columns at once, with as many bindings per request as
// their longest answers leave room for.
#include "bridge.h"
#include "report.h"

#include "mib/group_registry.h"
#include "mib/object_names.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace farlink::bridge {

namespace {

using snmp::GroupDescriptor;
using snmp::Oid;
using snmp::Response;

// More rows than any table of the agent can have: a walk that gets this far is going round.
constexpr std::size_t kMaxRows = 10000;

Oid objectName(const GroupDescriptor& group, std::uint32_t column, std::uint32_t instance,
               bool withInstance) {
    Oid name;
    for (std::uint32_t i = 0; i < group.oidLength; ++i)
        name.sub[i] = group.oid[i];
    name.sub[group.oidLength] = column;
    name.count = static_cast<std::uint16_t>(group.oidLength + 1);
    if (withInstance) name.sub[name.count++] = instance;
    return name;
}

bool sameName(const Oid& a, const Oid& b) {
    return a.count == b.count && std::equal(a.sub.begin(), a.sub.begin() + a.count, b.sub.begin());
}

bool nameBefore(const Oid& a, const Oid& b) {
    return std::lexicographical_compare(a.sub.begin(), a.sub.begin() + a.count, b.sub.begin(),
                                        b.sub.begin() + b.count);
}

// The value element at its longest: a number in up to five content bytes, a text as long as
// the column allows but no longer than the agent answers one.
std::uint32_t valueBound(const snmp::ColumnRecord& column) {
    if (column.valueTag == snmp::kTagOctetString || column.valueTag == snmp::kTagIpAddress) {
        std::uint32_t length = snmp::kValueBytes;
        if (column.maximum != 0 && column.maximum < length) length = column.maximum;
        return snmp::elementSize(length);
    }
    return snmp::elementSize(5);
}

std::uint32_t bindingBound(const Oid& answerName, const snmp::ColumnRecord& column) {
    return snmp::elementSize(snmp::oidFieldSize(answerName) + valueBound(column));
}

std::string statusName(std::uint32_t status) {
    switch (status) {
    case snmp::kTooBig:
        return "tooBig";
    case snmp::kNoSuchName:
        return "noSuchName";
    case snmp::kBadValue:
        return "badValue";
    case 4:
        return "readOnly";
    case snmp::kGenErr:
        return "genErr";
    default:
        return "error status " + std::to_string(status);
    }
}

// A column as the errors name it: by its MIB name where it has one.
std::string columnText(const GroupReport& report, std::uint32_t column) {
    const mib::ColumnName* name = mib::columnName(report.group, column);
    return name != nullptr ? std::string(name->name) : "column " + std::to_string(column);
}

ReportValue copyValue(const snmp::ResponseBinding& binding) {
    return ReportValue{binding.tag, {binding.content.begin(), binding.content.end()}};
}

std::vector<std::uint32_t> servedColumns(const GroupDescriptor& group) {
    std::vector<std::uint32_t> columns;
    for (std::uint32_t c = 1; c <= group.columnCount; ++c)
        if (group.column(c).flags != 0) columns.push_back(c);
    return columns;
}

// The answer was no answer: the group is not read, and the reason is kept.
void failExchange(GroupReport& report, Session::Result result, const std::string& error) {
    report.outcome = GroupOutcome::Failed;
    report.unreachable = result != Session::Result::Answered;
    report.errors.push_back(error);
}

void readScalars(Session& session, const GroupDescriptor& group, GroupReport& report) {
    std::vector<std::uint32_t> pending = servedColumns(group);
    const auto community = static_cast<std::uint32_t>(session.options().community.size());
    std::size_t cap = snmp::kMaxBindings;
    Response response;
    while (!pending.empty()) {
        std::vector<std::uint32_t> sizes;
        std::vector<Oid> names;
        for (std::uint32_t c : pending) {
            names.push_back(objectName(group, c, 0, true));
            sizes.push_back(bindingBound(names.back(), group.column(c)));
        }
        const std::size_t n = std::min(cap, snmp::bindingsThatFit(sizes, community));
        names.resize(n);
        std::string error;
        const Session::Result result = session.exchange(snmp::kGetRequest, names, response, error);
        if (result != Session::Result::Answered) return failExchange(report, result, error);

        const std::uint32_t status = response.errorStatus;
        const std::uint32_t at = response.errorIndex;
        if (status == snmp::kNoError) {
            if (response.bindingCount != n) {
                report.outcome = GroupOutcome::Failed;
                report.errors.push_back("the answer has " + std::to_string(response.bindingCount) +
                                        " bindings for " + std::to_string(n) + " objects");
                return;
            }
            for (std::size_t i = 0; i < n; ++i) {
                const snmp::ResponseBinding& b = response.bindings[i];
                if (!sameName(b.name, names[i])) {
                    report.outcome = GroupOutcome::Failed;
                    report.errors.push_back(columnText(report, pending[i]) +
                                            ": the answer names another object");
                    continue;
                }
                report.values[pending[i]] = copyValue(b);
            }
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
        } else if (status == snmp::kTooBig && n > 1) {
            cap = n / 2;
        } else if (at >= 1 && at <= n) {
            // Version 1 answers a whole request with the first fault: that object is set
            // aside, and the others are asked again.
            const std::uint32_t column = pending[at - 1];
            if (status == snmp::kNoSuchName) {
                report.absent.push_back(column);
            } else {
                report.outcome = GroupOutcome::Failed;
                report.errors.push_back(columnText(report, column) + ": " + statusName(status));
            }
            pending.erase(pending.begin() + (at - 1));
        } else {
            report.outcome = GroupOutcome::Failed;
            report.errors.push_back(statusName(status));
            return;
        }
    }
    std::sort(report.absent.begin(), report.absent.end());
}

struct ColumnWalk {
    std::uint32_t column = 0;
    Oid last; // the column's name, then the last instance it answered
    bool done = false;
};

void readTable(Session& session, const GroupDescriptor& group, GroupReport& report) {
    std::vector<ColumnWalk> walks;
    for (std::uint32_t c : servedColumns(group))
        walks.push_back(ColumnWalk{c, objectName(group, c, 0, false), false});
    const auto community = static_cast<std::uint32_t>(session.options().community.size());
    std::map<std::uint32_t, ReportRow> rows;
    std::size_t cap = snmp::kMaxBindings;
    Response response;
    for (;;) {
        std::vector<ColumnWalk*> active;
        std::vector<std::uint32_t> sizes;
        for (ColumnWalk& w : walks) {
            if (w.done) continue;
            active.push_back(&w);
            sizes.push_back(bindingBound(objectName(group, w.column, 0xFFFFFFFF, true),
                                         group.column(w.column)));
        }
        if (active.empty()) break;
        const std::size_t n = std::min(cap, snmp::bindingsThatFit(sizes, community));
        active.resize(n);
        std::vector<Oid> names;
        for (const ColumnWalk* w : active)
            names.push_back(w->last);
        std::string error;
        const Session::Result result =
            session.exchange(snmp::kGetNextRequest, names, response, error);
        if (result != Session::Result::Answered) return failExchange(report, result, error);

        const std::uint32_t status = response.errorStatus;
        const std::uint32_t at = response.errorIndex;
        if (status == snmp::kNoError && response.bindingCount == n) {
            for (std::size_t i = 0; i < n; ++i) {
                ColumnWalk& w = *active[i];
                const snmp::ResponseBinding& b = response.bindings[i];
                const Oid columnName = objectName(group, w.column, 0, false);
                const bool inColumn =
                    b.name.count == columnName.count + 1 &&
                    std::equal(columnName.sub.begin(), columnName.sub.begin() + columnName.count,
                               b.name.sub.begin());
                // An answer outside the column, or one that does not move on, ends its walk.
                if (!inColumn || !nameBefore(w.last, b.name)) {
                    w.done = true;
                    continue;
                }
                const std::uint32_t instance = b.name.sub[columnName.count];
                ReportRow& row = rows[instance];
                row.instance = instance;
                row.cells[w.column] = copyValue(b);
                w.last = b.name;
            }
            if (rows.size() > kMaxRows) {
                report.outcome = GroupOutcome::Failed;
                report.errors.push_back("more than " + std::to_string(kMaxRows) +
                                        " rows: the walk does not come to an end");
                break;
            }
        } else if (status == snmp::kTooBig && n > 1) {
            cap = n / 2;
        } else if (at >= 1 && at <= n) {
            ColumnWalk& w = *active[at - 1];
            w.done = true;
            if (status == snmp::kNoSuchName) {
                // Nothing follows this column's last name. Before any row has come, that is an
                // empty table: every column the request names after it is as empty.
                if (rows.empty())
                    for (std::size_t i = at; i < n; ++i)
                        active[i]->done = true;
            } else {
                report.outcome = GroupOutcome::Failed;
                report.errors.push_back(columnText(report, w.column) + ": " + statusName(status));
            }
        } else {
            report.outcome = GroupOutcome::Failed;
            report.errors.push_back(status == snmp::kNoError
                                        ? "the answer has " +
                                              std::to_string(response.bindingCount) +
                                              " bindings for " + std::to_string(n) + " objects"
                                        : statusName(status));
            break;
        }
    }
    for (auto& [instance, row] : rows)
        report.rows.push_back(std::move(row));
}

} // namespace

Session::Result Session::exchange(std::uint8_t pduType, std::span<const Oid> names,
                                  Response& response, std::string& error) {
    const std::uint32_t id = nextRequestId_;
    nextRequestId_ = nextRequestId_ == snmp::kLargestRequestId ? 1 : nextRequestId_ + 1;
    const std::vector<std::uint8_t> community(options_.community.begin(), options_.community.end());
    std::vector<std::uint8_t> request(snmp::kMaxMessageSize * 2);
    const std::size_t length = snmp::encodeRequest(pduType, id, community, names, request);
    if (length == 0) {
        error = "the request cannot be encoded";
        return Result::Failed;
    }
    request.resize(length);
    for (unsigned attempt = 0; attempt <= options_.retries; ++attempt) {
        ++requests_;
        if (onRequest_) onRequest_();
        if (!transport_.send(request, error)) return Result::Failed;
        const double deadline = monotonicSeconds() + options_.timeout;
        for (;;) {
            const double left = deadline - monotonicSeconds();
            if (left <= 0) break;
            if (!transport_.receive(left, received_, error)) {
                if (!error.empty()) return Result::Failed;
                break;
            }
            // Anything but the answer to this request (a late answer to an earlier one, a
            // message that is no answer) is passed by.
            if (snmp::decodeResponse(received_, response) != 0 || response.requestId != id)
                continue;
            ++answers_;
            return Result::Answered;
        }
    }
    char each[32];
    std::snprintf(each, sizeof each, "%g", options_.timeout);
    const unsigned tries = options_.retries + 1;
    error = "timeout: no answer to " + std::to_string(tries) + (tries == 1 ? " try" : " tries") +
            " of " + each + " s";
    return Result::TimedOut;
}

void readGroup(Session& session, std::size_t group, GroupReport& report) {
    const GroupDescriptor& descriptor = *mib::groupRegistry[group];
    report.group = group;
    report.outcome = GroupOutcome::Read;
    const unsigned before = session.requests();
    if (descriptor.indexCount == 0)
        readScalars(session, descriptor, report);
    else
        readTable(session, descriptor, report);
    report.requests = session.requests() - before;
}

} // namespace farlink::bridge
