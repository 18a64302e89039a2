"""The system resource groups (.3 and its tables) on the sample machine, through the bridge:
the resource map of its registry/10-resourcemap.reg, its EISA slots and its memory modules."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

E = "." + h.ENTERPRISE

# What the sample's resource map holds in walk order: the HAL's and the firmware's keys are passed
# by, the video card's window above 4 GiB is not served, translated lists are not read.
PORTS = [
    (0x40, 0x43, "Timer"), (0x70, 0x71, "Real Time Clock"), (0x00, 0x0F, "DMA Controller"),
    (0x80, 0x8F, "DMA Controller"), (0xC0, 0xDF, "DMA Controller"), (0x60, 0x60, "i8042prt"),
    (0x64, 0x64, "i8042prt"), (0x3F8, 0x3FF, "Serial"), (0x2F8, 0x2FF, "Serial"),
    (0x3F0, 0x3F5, "Floppy"), (0x3F7, 0x3F7, "Floppy"), (0x378, 0x37A, "Parport"),
    (0xEC00, 0xEC1F, "E100B"), (0x1F0, 0x1F7, "atapi"), (0x3F6, 0x3F6, "atapi"),
    (0x170, 0x177, "atapi"), (0x376, 0x376, "atapi"), (0xE800, 0xE8FF, "aic78xx"),
    (0x3B0, 0x3BB, "mga64"), (0x3C0, 0x3DF, "mga64"),
]
MEMORY = [
    (0xFEBFF000, 0x1000, "E100B"), (0xFEBFE000, 0x1000, "aic78xx"), (0xA0000, 0x20000, "mga64"),
    (0xF4000000, 0x1000000, "mga64"), (0xF8000000, 0x4000, "mga64"),
]
INTERRUPTS = {0: "Timer", 1: "i8042prt", 3: "Serial", 4: "Serial", 6: "Floppy", 7: "Parport",
              8: "Real Time Clock", 10: "aic78xx", 11: "E100B", 12: "i8042prt", 14: "atapi",
              15: "atapi"}
DMA = {2: "Floppy", 4: "DMA Controller"}
# Levels and channels nobody holds answer a text with its terminator, which net-snmp shows in hex.
RESERVED = "Hex-STRING: 52 65 73 65 72 76 65 64 00 "
NONE = "Hex-STRING: 4E 6F 6E 65 00 "


def integer(value):
    """An unsigned 32-bit number as it goes over the wire: a signed INTEGER."""
    return "INTEGER: %d" % (value - (1 << 32) if value >= 1 << 31 else value)


def string(text):
    return 'STRING: "%s"' % text


def table(oid, columns):
    """The lines of a walk of a table: columns is a list of {instance: value text}."""
    return ["%s.%s.%d.%d = %s" % (E, oid, c, x, v)
            for c, cells in enumerate(columns, 1) for x, v in cells.items()]



class SystemResourcesTest(h.StackTest):

    def walk(self, oid):
        code, out, err = h.snmp("snmpwalk", self.port, E + "." + oid)
        self.assertEqual(code, 0, err)
        self.assertTrue(out.endswith("End of MIB\n"), out)
        return h.walk_lines(out)

    def test_scalars(self):
        code, out, err = h.snmp("snmpget", self.port,
                                *["%s.3.%d.0" % (E, c) for c in (3, 6, 8, 9, 10, 11, 14)])
        self.assertEqual(code, 0, err)
        self.assertEqual(out.splitlines(), [
            E + ".3.3.0 = INTEGER: %d" % len(PORTS),
            E + ".3.6.0 = INTEGER: 4",
            E + ".3.8.0 = INTEGER: 0",
            E + '.3.9.0 = STRING: "1.0"',
            E + '.3.10.0 = STRING: "N/A"',
            E + '.3.11.0 = ""',
            E + ".3.14.0 = INTEGER: %d" % len(MEMORY),
        ])

    def test_range_tables(self):
        for oid, rows in (("3.4.1", PORTS), ("3.15.1", MEMORY)):
            with self.subTest(table=oid):
                self.assertEqual(self.walk(oid), table(oid, [
                    {x: integer(x) for x in range(len(rows))},
                    {x: integer(r[0]) for x, r in enumerate(rows)},
                    {x: integer(r[1]) for x, r in enumerate(rows)},
                    {x: string(r[2]) for x, r in enumerate(rows)},
                ]))

    def test_owner_tables_walk_both_columns(self):
        for oid, owners, count, nobody in (("3.1.1", INTERRUPTS, 16, RESERVED),
                                           ("3.2.1", DMA, 8, NONE)):
            with self.subTest(table=oid):
                self.assertEqual(self.walk(oid), table(oid, [
                    {x: integer(x) for x in range(count)},
                    {x: string(owners[x]) if x in owners else nobody for x in range(count)},
                ]))

    def test_eisa_slots_and_memory_modules(self):
        self.assertEqual(self.walk("3.5.1"), table("3.5.1", [
            {x: integer(x + 1 if x < 2 else 0) for x in range(8)},
            {x: integer({0: 1, 1: 5}.get(x, 0)) for x in range(8)},
            {x: string("N/A") for x in range(8)},
        ]))
        self.assertEqual(self.walk("3.7.1"), table("3.7.1", [
            {x: integer(x) for x in range(1, 5)},
            {x: string(" 64M") for x in range(1, 5)},
        ]))


if __name__ == "__main__":
    unittest.main()
