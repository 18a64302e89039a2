// farlink-mibgen FILE: writes the SMIv2 module FARLINK-MIB from the group registry and the names
// table, so the module a manager loads describes exactly the objects the agent serves: a group
// or column added to the registry without a name, or a name that collides, stops the build here.
#include "mib/group_registry.h"
#include "mib/object_names.h"
#include "snmp/ber.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace farlink;
using Suffix = std::vector<std::uint32_t>; // below 1.3.6.1.4.1.32473.25

constexpr std::string_view kModule = "FARLINK-MIB";
constexpr std::string_view kRoot = "farlinkMIB";
constexpr std::string_view kEnterpriseNode = "farlinkEnterprise";
constexpr std::uint32_t kEnterprise = 32473;
constexpr std::uint32_t kSubtree = 25;
constexpr std::array<std::uint32_t, 8> kEnterpriseOid = {1, 3, 6, 1, 4, 1, kEnterprise, kSubtree};
constexpr std::size_t kEnterpriseLength = kEnterpriseOid.size();
// The module's revision: changed whenever what it describes changes.
constexpr std::string_view kRevision = "202612070000Z";
// Conformance lies beside the groups, on a number no group uses.
constexpr std::uint32_t kConformance = 100;
// A table whose instance number is no column gets an index object the agent never serves: the
// number the registry gives such an index, far above any column.
constexpr std::uint32_t kInstanceSubId = 32766;
constexpr std::uint32_t kInteger32Max = 2147483647;

struct Failure {
    std::string what;
};

class Module {
  public:
    std::string text() const { return out_.str(); }

    void build() {
        for (std::size_t g = 0; g < mib::kGroupCount; ++g)
            group(g);
        conformance();
        finish();
    }

  private:
    std::ostringstream body_;
    std::ostringstream out_;
    std::map<Suffix, std::string> nodes_{{{}, std::string(kRoot)}};
    std::set<std::string, std::less<>> descriptors_{std::string(kRoot),
                                                    std::string(kEnterpriseNode)};
    std::set<std::string, std::less<>> imports_;
    std::vector<std::pair<std::string, std::vector<std::string>>> objectGroups_;

    static std::string quoted(std::string_view text, std::string_view indent) {
        if (text.find('"') != std::string_view::npos)
            throw Failure{"a text holds a double quote: " + std::string(text)};
        // Lines of at most 72 characters, broken between words.
        std::string result = std::string(indent) + "\"";
        std::size_t lineStart = 0;
        std::size_t pos = 0;
        while (pos < text.size()) {
            std::size_t end = text.find(' ', pos);
            if (end == std::string_view::npos) end = text.size();
            const std::string_view word = text.substr(pos, end - pos);
            const std::size_t lineLength = result.size() - lineStart;
            if (pos != 0 && lineLength + 1 + word.size() > 72) {
                result += "\n" + std::string(indent) + " ";
                lineStart = result.size() - indent.size() - 1;
            } else if (pos != 0) {
                result += ' ';
            }
            result += word;
            pos = end + 1;
        }
        return result + "\"";
    }

    void claim(std::string_view name) {
        if (name.empty() || name.size() > 64) throw Failure{"bad descriptor: " + std::string(name)};
        if (!descriptors_.insert(std::string(name)).second)
            throw Failure{"descriptor used twice: " + std::string(name)};
    }

    // Records `name` at `oid` and gives its { parent sub } value.
    std::string place(const Suffix& oid, std::string_view name) {
        claim(name);
        const Suffix parent(oid.begin(), oid.end() - 1);
        const auto found = nodes_.find(parent);
        if (found == nodes_.end())
            throw Failure{"no named node above " + std::string(name) + " (" + dotted(oid) + ")"};
        if (!nodes_.emplace(oid, std::string(name)).second)
            throw Failure{std::string(name) + " lands on " + nodes_[oid] + " at " + dotted(oid)};
        return "{ " + found->second + " " + std::to_string(oid.back()) + " }";
    }

    static std::string dotted(const Suffix& oid) {
        std::string text =
            "1.3.6.1.4.1." + std::to_string(kEnterprise) + "." + std::to_string(kSubtree);
        for (std::uint32_t s : oid)
            text += "." + std::to_string(s);
        return text;
    }

    static std::string range(std::uint32_t minimum, std::uint32_t maximum) {
        if (minimum > maximum || maximum > kInteger32Max)
            throw Failure{"bad range " + std::to_string(minimum) + ".." + std::to_string(maximum)};
        return minimum == maximum ? std::to_string(minimum)
                                  : std::to_string(minimum) + ".." + std::to_string(maximum);
    }

    // The SMI syntax of a column: its override, else what its record says.
    std::string syntax(const snmp::ColumnRecord& record, std::string_view override,
                       bool answersInteger) {
        std::string result;
        if (!override.empty()) {
            result = std::string(override);
        } else if (answersInteger && record.valueTag != snmp::kTagOctetString) {
            result = "Integer32";
        } else {
            const bool bounded = (record.flags & snmp::kFlagBounded) != 0;
            switch (record.valueTag) {
            case snmp::kTagInteger:
                result = "Integer32";
                if (bounded) result += " (" + range(record.minimum, record.maximum) + ")";
                break;
            case snmp::kTagCounter:
                result = "Counter32";
                break;
            case snmp::kTagGauge:
                result = "Gauge32";
                break;
            case snmp::kTagIpAddress:
                result = "IpAddress";
                break;
            case snmp::kTagOctetString:
                // Variable-size columns carry text; fixed-size ones carry bytes.
                if (record.minimum != record.maximum)
                    result = "DisplayString (SIZE (" + range(record.minimum, record.maximum) + "))";
                else
                    result = "OCTET STRING (SIZE (" + std::to_string(record.minimum) + "))";
                break;
            default:
                throw Failure{"column " + std::to_string(record.column) + " has value tag " +
                              std::to_string(record.valueTag)};
            }
        }
        const std::string base = baseType(result);
        if (base != "INTEGER" && base != "OCTET STRING") imports_.insert(base);
        return result;
    }

    // The type named in a SEQUENCE: the syntax without its constraint.
    static std::string baseType(std::string_view syntax) {
        const std::size_t paren = syntax.find(" (");
        return std::string(syntax.substr(0, paren));
    }

    void objectType(std::string_view name, const std::string& syntax, std::string_view units,
                    std::string_view access, std::string_view description, std::string_view index,
                    const std::string& oidValue) {
        body_ << name << " OBJECT-TYPE\n    SYNTAX      " << syntax << "\n";
        if (!units.empty()) body_ << "    UNITS       " << quoted(units, "") << "\n";
        body_ << "    MAX-ACCESS  " << access << "\n    STATUS      current\n    DESCRIPTION\n"
              << quoted(description, "        ") << "\n";
        if (!index.empty()) body_ << "    INDEX       { " << index << " }\n";
        body_ << "    ::= " << oidValue << "\n\n";
    }

    void group(std::size_t g) {
        const snmp::GroupDescriptor& group = *mib::groupRegistry[g];
        const mib::GroupName& names = mib::groupName(g);
        if (group.oidLength <= kEnterpriseLength ||
            !std::equal(kEnterpriseOid.begin(), kEnterpriseOid.end(), group.oid.begin()))
            throw Failure{std::string(names.name) + " lies outside the agent's subtree"};
        const Suffix oid(group.oid.begin() + kEnterpriseLength,
                         group.oid.begin() + group.oidLength);
        for (const mib::SubtreeName& s : mib::subtreeNames()) {
            const Suffix subtree(s.suffix.begin(), s.suffix.end());
            if (nodes_.count(subtree) == 0 && oid.size() > subtree.size() &&
                std::equal(subtree.begin(), subtree.end(), oid.begin())) {
                body_ << "-- " << s.title << "\n\n"
                      << s.name << " OBJECT IDENTIFIER ::= " << place(subtree, s.name) << "\n\n";
            }
        }
        body_ << "-- " << names.title << "\n\n";

        std::string objectGroup(names.name);
        if (objectGroup.ends_with("Entry")) objectGroup.resize(objectGroup.size() - 5);
        objectGroup += "Group";
        std::vector<std::string> members;

        Suffix columnsAt = oid;
        std::string indexName;
        const snmp::ColumnRecord* index = nullptr;
        if (group.indexCount == 0) {
            body_ << names.name << " OBJECT IDENTIFIER ::= " << place(oid, names.name) << "\n\n";
        } else {
            if (oid.back() != 1 || names.table.empty())
                throw Failure{std::string(names.name) + ": a table's entry must be its node 1"};
            index = &group.indexRecords[0];
            const bool indexIsColumn = mib::instanceIsColumn(group);
            if (indexIsColumn == !names.instance.empty())
                throw Failure{std::string(names.name) + ": instance object named wrongly"};
            indexName = indexIsColumn ? std::string(mib::columnName(g, index->column)->name)
                                      : std::string(names.instance);
            const std::string type = "Farlink" + std::string(names.name.substr(7));
            const Suffix tableOid(oid.begin(), oid.end() - 1);
            objectType(names.table, "SEQUENCE OF " + type, "", "not-accessible",
                       std::string(names.title) + ".", "", place(tableOid, names.table));
            objectType(names.name, type, "", "not-accessible",
                       "A row of " + std::string(names.table) + ".", indexName,
                       place(oid, names.name));
            claim(type);
            body_ << type << " ::= SEQUENCE {\n";
            std::string separator;
            for (const mib::ColumnName& c : names.columns) {
                body_ << separator << "    " << c.name << " "
                      << baseType(syntax(group.column(c.column), c.syntax, names.answersInteger));
                separator = ",\n";
            }
            if (!indexIsColumn) body_ << separator << "    " << indexName << " Integer32";
            body_ << "\n}\n\n";
        }

        for (const mib::ColumnName& c : names.columns) {
            const snmp::ColumnRecord& record = group.column(c.column);
            if (record.column != c.column)
                throw Failure{std::string(c.name) + " names a column the group does not have"};
            Suffix at = columnsAt;
            at.push_back(c.column);
            const bool isIndex = index != nullptr && c.name == indexName;
            // An index object is not-accessible whether or not the agent serves it as a column.
            std::string description(c.description);
            if (isIndex) description += " The index of the table; the agent serves it as well.";
            const std::string access = isIndex ? "not-accessible"
                                       : (record.flags & snmp::kFlagWritable) != 0 ? "read-write"
                                                                                   : "read-only";
            std::string type = syntax(record, c.syntax, names.answersInteger);
            if (isIndex && c.syntax.empty() && (record.flags & snmp::kFlagBounded) == 0)
                type += " (" + range(record.minimum, kInteger32Max) + ")";
            objectType(c.name, type, c.units, access, description, "", place(at, c.name));
            if (!isIndex) members.push_back(std::string(c.name));
        }
        for (std::uint32_t col = 1; col <= group.columnCount; ++col)
            if (group.column(col).column == col && mib::columnName(g, col) == nullptr)
                throw Failure{std::string(names.name) + ": column " + std::to_string(col) +
                              " has no name"};

        if (index != nullptr && !names.instance.empty()) {
            Suffix at = columnsAt;
            at.push_back(kInstanceSubId);
            const std::uint32_t last =
                (index->flags & snmp::kFlagBounded) != 0 ? index->maximum : kInteger32Max;
            objectType(names.instance, "Integer32 (" + range(index->minimum, last) + ")", "",
                       "not-accessible",
                       "The row's instance number, starting at " + std::to_string(index->minimum) +
                           ". It is not served: it only numbers the rows.",
                       "", place(at, names.instance));
        }
        if (members.empty()) throw Failure{std::string(names.name) + " serves nothing"};
        objectGroups_.emplace_back(objectGroup, members);
    }

    void conformance() {
        const Suffix conformanceOid{kConformance};
        const Suffix compliancesOid{kConformance, 1};
        const Suffix groupsOid{kConformance, 2};
        body_ << "-- Conformance\n\n"
              << "farlinkConformance OBJECT IDENTIFIER ::= "
              << place(conformanceOid, "farlinkConformance") << "\n"
              << "farlinkCompliances OBJECT IDENTIFIER ::= "
              << place(compliancesOid, "farlinkCompliances") << "\n"
              << "farlinkGroups OBJECT IDENTIFIER ::= " << place(groupsOid, "farlinkGroups")
              << "\n\n";
        std::string all;
        for (std::size_t k = 0; k < objectGroups_.size(); ++k) {
            const auto& [name, members] = objectGroups_[k];
            Suffix at = groupsOid;
            at.push_back(static_cast<std::uint32_t>(k + 1));
            const std::string oidValue = place(at, name);
            body_ << name << " OBJECT-GROUP\n    OBJECTS {\n";
            for (std::size_t m = 0; m < members.size(); ++m)
                body_ << "        " << members[m] << (m + 1 < members.size() ? ",\n" : "\n");
            body_ << "    }\n    STATUS      current\n    DESCRIPTION\n"
                  << quoted(std::string(mib::groupName(k).title) + ".", "        ") << "\n"
                  << "    ::= " << oidValue << "\n\n";
            all += (k == 0 ? "" : ",\n") + std::string("            ") + name;
        }
        const Suffix complianceOid{kConformance, 1, 1};
        body_ << "farlinkCompliance MODULE-COMPLIANCE\n    STATUS      current\n    DESCRIPTION\n"
              << quoted("An agent that serves every group of this module.", "        ") << "\n"
              << "    MODULE -- this module\n        MANDATORY-GROUPS {\n"
              << all << "\n        }\n    ::= " << place(complianceOid, "farlinkCompliance")
              << "\n\n";
    }

    // The objects are written first: only then is it known which types they import.
    void finish() {
        out_ << "-- " << kModule
             << ": the private MIB of the FARLINK out-of-band SNMP agent.\n"
                "-- Written by farlink-mibgen from the agent's group registry: do not edit.\n\n"
             << kModule << " DEFINITIONS ::= BEGIN\n\n";
        std::string smi = "MODULE-IDENTITY, OBJECT-TYPE";
        for (const std::string& type : imports_)
            if (type != "DisplayString") smi += ", " + type;
        smi += ", enterprises";
        out_ << "IMPORTS\n    " << smi << "\n        FROM SNMPv2-SMI\n";
        if (imports_.count("DisplayString") != 0)
            out_ << "    DisplayString\n        FROM SNMPv2-TC\n";
        out_ << "    MODULE-COMPLIANCE, OBJECT-GROUP\n        FROM SNMPv2-CONF;\n\n"
             << kRoot << " MODULE-IDENTITY\n"
             << "    LAST-UPDATED \"" << kRevision << "\"\n"
             << "    ORGANIZATION \"FARLINK\"\n"
             << "    CONTACT-INFO\n"
             << quoted("The FARLINK developers; see the README installed with the agent.",
                       "        ")
             << "\n    DESCRIPTION\n"
             << quoted("The objects the FARLINK agent serves over its serial lines with SNMPv1: "
                       "storage, network adapters, system resources, the system with its "
                       "firmware, performance counters and administrator contact, the KORU "
                       "driver's readings, and events.",
                       "        ")
             << "\n    REVISION \"" << kRevision << "\"\n    DESCRIPTION\n"
             << quoted("The module as the agent's group registry gives it.", "        ")
             << "\n    ::= { " << kEnterpriseNode << " " << kSubtree << " }\n\n"
             << kEnterpriseNode << " OBJECT IDENTIFIER ::= { enterprises " << kEnterprise
             << " }\n\n"
             << body_.str() << "END\n";
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: farlink-mibgen FILE\n";
        return 2;
    }
    Module module;
    try {
        module.build();
    } catch (const Failure& failure) {
        std::cerr << "farlink-mibgen: " << failure.what << "\n";
        return 1;
    }
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file << module.text();
    file.close();
    if (!file) {
        std::cerr << "farlink-mibgen: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
