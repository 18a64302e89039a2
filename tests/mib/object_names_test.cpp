#include "mib/object_names.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace farlink::mib {
namespace {

// The module is written from these names: a registry column without one would be missing from
// it, a name without a column would describe an object the agent does not have, and a name used
// twice would not load.
TEST(ObjectNames, NameExactlyTheRegistryColumnsOnceEach) {
    std::set<std::string_view> seen;
    auto unique = [&seen](std::string_view name) {
        EXPECT_TRUE(name.starts_with("farlink")) << name;
        EXPECT_TRUE(seen.insert(name).second) << name << " is used twice";
    };
    for (const SubtreeName& s : subtreeNames())
        unique(s.name);
    for (std::size_t g = 0; g < kGroupCount; ++g) {
        const snmp::GroupDescriptor& group = *groupRegistry[g];
        const GroupName& names = groupName(g);
        SCOPED_TRACE(std::string(names.name));
        unique(names.name);
        EXPECT_FALSE(names.title.empty());
        EXPECT_FALSE(names.subsystem.empty());
        EXPECT_EQ(names.table.empty(), group.indexCount == 0);
        if (!names.table.empty()) unique(names.table);

        std::uint32_t previous = 0;
        for (const ColumnName& c : names.columns) {
            EXPECT_GT(c.column, previous) << c.name << ": columns out of order";
            previous = c.column;
            EXPECT_EQ(group.column(c.column).column, c.column) << c.name << " has no column";
            EXPECT_FALSE(c.description.empty()) << c.name;
            unique(c.name);
        }
        for (std::uint32_t col = 1; col <= group.columnCount; ++col)
            EXPECT_EQ(columnName(g, col) != nullptr, group.column(col).column == col)
                << "column " << col;
        EXPECT_EQ(columnName(g, group.columnCount + 1), nullptr);

        // A table whose instance number is none of its columns needs an object of its own.
        EXPECT_EQ(names.instance.empty(), group.indexCount == 0 || instanceIsColumn(group));
        if (!names.instance.empty()) unique(names.instance);
    }
}

} // namespace
} // namespace farlink::mib
