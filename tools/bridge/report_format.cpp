// The report's two forms: text for a person (a section per subsystem, tables as tables, scalars
// as name = value lines, with units) and JSON for scripts, both with the MIB's names.
#include "report.h"

#include "mib/group_registry.h"
#include "mib/object_names.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace farlink::bridge {

namespace {

// Text lines are wrapped into blocks of columns no wider than this.
constexpr std::size_t kTextWidth = 120;

struct Rendered {
    std::string text; // for the text report
    std::string json; // a JSON value
};

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c >= 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

std::string hexText(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out = "0x";
    for (const std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

Rendered textValue(std::string text) {
    return Rendered{text, jsonString(text)};
}

Rendered numberValue(std::string digits) {
    return Rendered{digits, digits};
}

// A value as the column's type says to show it: numbers signed or unsigned, addresses dotted,
// texts as text when every byte is printable (trailing NULs dropped), else in hexadecimal.
Rendered render(const snmp::ColumnRecord& column, const ReportValue& value) {
    const std::vector<std::uint8_t>& c = value.content;
    switch (value.tag) {
    case snmp::kTagInteger:
    case snmp::kTagCounter:
    case snmp::kTagGauge:
    case 0x43: { // TimeTicks
        std::uint32_t word = 0;
        if (!snmp::integerContent(c.data(), static_cast<std::uint32_t>(c.size()), word))
            return textValue(hexText(c));
        // The agent answers every number as an INTEGER: counters and gauges are unsigned all
        // the same.
        const bool isUnsigned = value.tag != snmp::kTagInteger ||
                                column.valueTag == snmp::kTagCounter ||
                                column.valueTag == snmp::kTagGauge;
        return numberValue(isUnsigned ? std::to_string(word)
                                      : std::to_string(static_cast<std::int32_t>(word)));
    }
    case snmp::kTagIpAddress:
    case snmp::kTagOctetString: {
        if (c.size() == 4 &&
            (value.tag == snmp::kTagIpAddress || column.valueTag == snmp::kTagIpAddress))
            return textValue(std::to_string(c[0]) + "." + std::to_string(c[1]) + "." +
                             std::to_string(c[2]) + "." + std::to_string(c[3]));
        std::size_t length = c.size();
        while (length > 0 && c[length - 1] == 0)
            --length;
        const bool printable =
            std::all_of(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(length),
                        [](std::uint8_t b) { return b >= 0x20 && b < 0x7F; });
        if (printable)
            return textValue(
                std::string(c.begin(), c.begin() + static_cast<std::ptrdiff_t>(length)));
        return textValue(hexText(c));
    }
    case snmp::kTagNull:
        return Rendered{"null", "null"};
    default:
        return textValue(hexText(c));
    }
}

std::string dottedOid(const snmp::GroupDescriptor& group) {
    std::string out;
    for (std::uint32_t i = 0; i < group.oidLength; ++i)
        out += (i ? "." : "") + std::to_string(group.oid[i]);
    return out;
}

std::string columnLabel(std::size_t group, std::uint32_t column) {
    const mib::ColumnName* name = mib::columnName(group, column);
    return name != nullptr ? std::string(name->name) : std::to_string(column);
}

std::string_view columnUnits(std::size_t group, std::uint32_t column) {
    const mib::ColumnName* name = mib::columnName(group, column);
    return name != nullptr ? name->units : std::string_view();
}

std::vector<std::uint32_t> columnsOf(const snmp::GroupDescriptor& group) {
    std::vector<std::uint32_t> columns;
    for (std::uint32_t c = 1; c <= group.columnCount; ++c)
        if (group.column(c).flags != 0) columns.push_back(c);
    return columns;
}

const char* outcomeName(GroupOutcome outcome) {
    switch (outcome) {
    case GroupOutcome::Read:
        return "read";
    case GroupOutcome::Failed:
        return "failed";
    case GroupOutcome::NotRead:
        break;
    }
    return "not read";
}

std::size_t failedGroups(std::span<const GroupReport> groups) {
    return static_cast<std::size_t>(std::count_if(groups.begin(), groups.end(), [](const auto& g) {
        return g.outcome != GroupOutcome::Read;
    }));
}

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", seconds);
    return text;
}

std::string pad(std::string text, std::size_t width) {
    if (text.size() < width) text.append(width - text.size(), ' ');
    return text;
}

void textScalars(const GroupReport& g, const snmp::GroupDescriptor& d, std::string& out) {
    std::size_t width = 0;
    for (const auto& [column, value] : g.values)
        width = std::max(width, columnLabel(g.group, column).size());
    for (const auto& [column, value] : g.values) {
        out += "    " + pad(columnLabel(g.group, column), width) + " = " +
               render(d.column(column), value).text;
        const std::string_view units = columnUnits(g.group, column);
        if (!units.empty()) out += " " + std::string(units);
        out += "\n";
    }
    if (!g.absent.empty()) {
        out += "    not served:";
        for (const std::uint32_t column : g.absent)
            out += " " + columnLabel(g.group, column);
        out += "\n";
    }
}

void textTable(const GroupReport& g, const snmp::GroupDescriptor& d, std::string& out) {
    if (g.rows.empty()) {
        if (g.outcome == GroupOutcome::Read) out += "    (no rows)\n";
        return;
    }
    const mib::GroupName& names = mib::groupName(g.group);
    const std::vector<std::uint32_t> columns = columnsOf(d);
    // Cells: the instance first, then every column; a column a row lacks shows "-".
    std::vector<std::string> headers{names.instance.empty() ? "index"
                                                            : std::string(names.instance)};
    for (const std::uint32_t c : columns) {
        const std::string_view units = columnUnits(g.group, c);
        headers.push_back(columnLabel(g.group, c) +
                          (units.empty() ? "" : " [" + std::string(units) + "]"));
    }
    std::vector<std::vector<std::string>> cells;
    for (const ReportRow& row : g.rows) {
        std::vector<std::string> line{std::to_string(row.instance)};
        for (const std::uint32_t c : columns) {
            const auto it = row.cells.find(c);
            line.push_back(it == row.cells.end() ? "-" : render(d.column(c), it->second).text);
        }
        cells.push_back(std::move(line));
    }
    std::vector<std::size_t> widths(headers.size());
    for (std::size_t i = 0; i < headers.size(); ++i) {
        widths[i] = headers[i].size();
        for (const auto& line : cells)
            widths[i] = std::max(widths[i], line[i].size());
    }
    // Blocks of columns that fit the width, each led by the instance, as snmptable wraps.
    std::size_t next = 1;
    while (next < headers.size()) {
        if (next > 1) out += "\n";
        std::vector<std::size_t> block{0};
        std::size_t used = 4 + widths[0];
        while (next < headers.size() &&
               (block.size() == 1 || used + 2 + widths[next] <= kTextWidth)) {
            used += 2 + widths[next];
            block.push_back(next++);
        }
        auto emit = [&](const std::vector<std::string>& line) {
            std::string text = "    ";
            for (std::size_t k = 0; k < block.size(); ++k) {
                const bool last = k + 1 == block.size();
                text += last ? line[block[k]] : pad(line[block[k]], widths[block[k]]) + "  ";
            }
            out += text + "\n";
        };
        emit(headers);
        for (const auto& line : cells)
            emit(line);
    }
}

} // namespace

std::string formatTextReport(const ReportSummary& summary, std::span<const GroupReport> groups) {
    std::string out =
        "FARLINK agent report: " + summary.reachedBy + ", community " + summary.community + "\n";
    const std::size_t failed = failedGroups(groups);
    out +=
        std::to_string(groups.size()) + " groups, " + std::to_string(summary.requests) +
        (summary.requests == 1 ? " request in " : " requests in ") + secondsText(summary.seconds) +
        " s: " +
        (failed == 0 ? std::string("all read") : std::to_string(failed) + " not read completely") +
        "\n";

    // A section per subsystem, in the order the registry first names them.
    std::vector<std::string_view> subsystems;
    for (const GroupReport& g : groups) {
        const std::string_view s = mib::groupName(g.group).subsystem;
        if (std::find(subsystems.begin(), subsystems.end(), s) == subsystems.end())
            subsystems.push_back(s);
    }
    for (const std::string_view subsystem : subsystems) {
        out += "\n== " + std::string(subsystem) + " ==\n";
        for (const GroupReport& g : groups) {
            const mib::GroupName& names = mib::groupName(g.group);
            if (names.subsystem != subsystem) continue;
            const snmp::GroupDescriptor& d = *mib::groupRegistry[g.group];
            out += "\n" + std::string(names.title) + " (" +
                   std::string(names.table.empty() ? names.name : names.table) + ", ." +
                   dottedOid(d) + ")";
            // A failed walk's rows are only those it got before the failure.
            if (d.indexCount != 0 && (g.outcome == GroupOutcome::Read || !g.rows.empty()))
                out +=
                    ": " + std::to_string(g.rows.size()) + (g.rows.size() == 1 ? " row" : " rows");
            out += "\n";
            for (const std::string& e : g.errors)
                out += std::string(g.outcome == GroupOutcome::NotRead ? "    NOT READ: "
                                                                      : "    FAILED: ") +
                       e + "\n";
            if (g.outcome == GroupOutcome::NotRead) continue;
            if (d.indexCount == 0)
                textScalars(g, d, out);
            else
                textTable(g, d, out);
        }
    }
    return out;
}

std::string formatJsonReport(const ReportSummary& summary, std::span<const GroupReport> groups) {
    std::string out = "{\n  \"agent\": {\"transport\": " + jsonString(summary.transport) +
                      ", \"address\": " + jsonString(summary.address);
    if (summary.transport == "line") out += ", \"speed\": " + std::to_string(summary.speed);
    out += ", \"community\": " + jsonString(summary.community) +
           ", \"requests\": " + std::to_string(summary.requests) +
           ", \"seconds\": " + secondsText(summary.seconds) +
           ", \"complete\": " + (failedGroups(groups) == 0 ? "true" : "false") + "},\n";
    out += "  \"groups\": [";
    for (std::size_t k = 0; k < groups.size(); ++k) {
        const GroupReport& g = groups[k];
        const mib::GroupName& names = mib::groupName(g.group);
        const snmp::GroupDescriptor& d = *mib::groupRegistry[g.group];
        const bool table = d.indexCount != 0;
        out += k == 0 ? "\n" : ",\n";
        out +=
            "    {\"oid\": " + jsonString(dottedOid(d)) + ", \"name\": " + jsonString(names.name);
        if (table) out += ", \"table\": " + jsonString(names.table);
        out += ", \"title\": " + jsonString(names.title) +
               ", \"subsystem\": " + jsonString(names.subsystem) +
               ", \"kind\": " + jsonString(table ? "table" : "scalar") +
               ", \"status\": " + jsonString(outcomeName(g.outcome)) +
               ", \"requests\": " + std::to_string(g.requests) + ",\n";
        out += "     \"columns\": [";
        const std::vector<std::uint32_t> columns = columnsOf(d);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            out += (i ? ", " : "") + std::string("{\"column\": ") + std::to_string(columns[i]) +
                   ", \"name\": " + jsonString(columnLabel(g.group, columns[i])) +
                   ", \"units\": " + jsonString(columnUnits(g.group, columns[i])) + "}";
        }
        out += "],\n";
        if (table) {
            out += "     \"rows\": [";
            for (std::size_t r = 0; r < g.rows.size(); ++r) {
                const ReportRow& row = g.rows[r];
                out += (r ? ",\n       " : "\n       ") + std::string("{\"index\": ") +
                       std::to_string(row.instance);
                for (const auto& [column, value] : row.cells)
                    out += ", " + jsonString(columnLabel(g.group, column)) + ": " +
                           render(d.column(column), value).json;
                out += "}";
            }
            out += g.rows.empty() ? "],\n" : "\n     ],\n";
        } else {
            out += "     \"values\": {";
            bool first = true;
            for (const auto& [column, value] : g.values) {
                out += (first ? "" : ", ") + jsonString(columnLabel(g.group, column)) + ": " +
                       render(d.column(column), value).json;
                first = false;
            }
            out += "},\n     \"absent\": [";
            for (std::size_t i = 0; i < g.absent.size(); ++i)
                out += (i ? ", " : "") + jsonString(columnLabel(g.group, g.absent[i]));
            out += "],\n";
        }
        out += "     \"errors\": [";
        for (std::size_t i = 0; i < g.errors.size(); ++i)
            out += (i ? ", " : "") + jsonString(g.errors[i]);
        out += "]}";
    }
    out += "\n  ]\n}\n";
    return out;
}

} // namespace farlink::bridge
