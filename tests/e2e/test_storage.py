"""The storage groups of the sample machine through the bridge: the table sizes, the drive types
of its DMI summary, the adapters its resource map and SCSI device map name, and its disks with
the sizes their physical drives give (one of them past 2 TiB)."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

E = "." + h.ENTERPRISE


def integer(value):
    """An INTEGER as snmpwalk prints it: the 32-bit word as a signed number."""
    return "INTEGER: %d" % (value - (1 << 32) if value >= 1 << 31 else value)


def string(text):
    return 'STRING: "%s"' % text if text else '""'


def table(oid, columns):
    """Walk lines of a table given column by column, each a list of printed values by row."""
    return ["%s.%d.%d = %s" % (oid, c, row, value)
            for c, values in enumerate(columns, start=1) for row, value in enumerate(values)]


# The atapi miniport's two IDE channels, then the SCSI adapter.
ADAPTERS = [
    [integer(i) for i in range(3)],                               # index
    [integer(0)] * 3,                                             # reserved
    [integer(1)] * 3,                                             # buses
    [integer(2), integer(2), integer(1)],                         # kind: IDE, IDE, SCSI
    [string("atapi"), string("atapi"), string("aic78xx")],        # driver
    [integer(0x1F0), integer(0x170), integer(0xE800)],            # largest port range
    [integer(14), integer(15), integer(10)],                      # interrupt
    [integer(0), integer(0), integer(0xFEBFE000)],                # memory
    [integer(0)] * 3,                                             # DMA
    [string("N/A")] * 3,                                          # reserved text
    # Both channels name the first port that atapi drives.
    [string("ScsiPort0"), string("ScsiPort0"), string("ScsiPort2")],
    [integer(0)] * 3,                                             # reserved word
    [integer(0xFFFFFFFF), integer(0xFFFFFFFF), integer(7)],       # initiator
]

SECTORS = 255 * 63  # per cylinder: 255 tracks of 63 sectors of 512 bytes, half a KB each
DISKS = [
    [integer(i) for i in range(4)],
    # The IDE disk belongs to the first primary disk driver; the SCSI units to the adapter
    # whose driver their port names.
    [integer(0), integer(2), integer(2), integer(2)],
    [integer(0)] * 4,
    [integer(0)] * 4,                                             # bus
    [integer(0), integer(0), integer(1), integer(4)],             # target
    # Identifiers are kept to 20 characters; an IDE identifier's first 8 are its maker.
    [string("QUARRY  "), string("QUARRY  QD9100LW ULT"), string("QUARRY  QX3000LW ULT"),
     string("TESSEL  CDR-3200S SC")],
    # 8 GB, 9 GB and 3 TiB (past what 32-bit sector counts hold), the CD-ROM unmeasured.
    [integer(c * SECTORS // 2) for c in (1024, 1106, 401024)] + [integer(0)],
    [string("QD8400A IDE DISK"), string("QUARRY  QD9100LW ULTRA2 0142"),
     string("QUARRY  QX3000LW ULTRA3 0210"), string("TESSEL  CDR-3200S SCSI  1.10")],
    [string("QA7731-0042"), string(""), string(""), string("")],
    [string("IDE"), string("SCSI"), string("SCSI"), string("SCSI")],
    [string("")] * 4,
] + [[integer(0)] * 4] * 4 + [
    [integer(1), integer(1), integer(1), integer(2)],
]


class StorageTest(h.StackTest):

    def walk(self, suffix):
        code, out, err = h.snmp("snmpwalk", self.port, E + suffix)
        self.assertEqual(code, 0, err)
        lines = out.splitlines()
        self.assertEqual(lines[-1:], ["End of MIB"], out)
        return lines[:-1]

    def test_scalars_count_adapters_and_disks(self):
        code, out, err = h.snmp("snmpget", self.port, E + ".1.2.0", E + ".1.4.0", E + ".1.6.0")
        self.assertEqual(code, 0, err)
        self.assertEqual(out.splitlines(), [E + ".1.2.0 = INTEGER: 3", E + ".1.4.0 = INTEGER: 4",
                                            E + ".1.6.0 = INTEGER: 4"])

    def test_drive_types_walk_two_instances_of_the_summary_byte(self):
        # 0x40: a 1.44 MB drive first, none second; a walk goes 1.1, then column 2 from 0.
        t = E + ".1.1.1"
        self.assertEqual(self.walk(".1.1.1"), [t + ".1.1 = INTEGER: 1", t + ".2.0 = INTEGER: 0",
                                               t + ".2.1 = INTEGER: 4"])

    def test_adapter_table(self):
        self.assertEqual(self.walk(".1.3.1"), table(E + ".1.3.1", ADAPTERS))

    def test_disk_table(self):
        self.assertEqual(self.walk(".1.5.1"), table(E + ".1.5.1", DISKS))

    def test_get_past_the_last_disk_is_no_such_name(self):
        code, out, err = h.snmp("snmpget", self.port, E + ".1.5.1.1.4")
        self.assertNotEqual(code, 0)
        self.assertIn("noSuchName", out + err)


if __name__ == "__main__":
    unittest.main()
