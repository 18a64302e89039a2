"""Walks every group of the registry with snmpwalk, on the sample machine and on the host.

A manager walks a group by get-next until the agent says noSuchName or hands back a name past
the group. Each walk must end that way: names strictly increasing, all of them below the
walked OID, and no timeout on the way. One agent per backend serves all the walks."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

ENTERPRISE = h.oid_tuple(h.ENTERPRISE)
GROUPS = h.registry_group_suffixes()

# The groups that serve objects today on every backend: the adapter count, the administrator
# contact table (filled from the in-band block), the threshold message and the event actions.
SERVING_EVERYWHERE = [(2,), (4, 18, 1), (7,), (7, 2, 1)]
# The account the agent runs under and the counter scalars, from the performance data that
# every backend has (a host's own, a machine's perf/data.bin). The paging scalars .4.63 are not
# among them for the same reason as the DMI scalars below: .4.63 is column 63 of group .4.
SERVING_EVERYWHERE += [(4, 60, 1), (4, 65, 1), (4, 65, 2), (4, 65, 3)]
# The system group answers from any backend: its walk gives its first column.
SERVING_EVERYWHERE += [(4,)]
# The sample machine's KORU driver fills the DMI tables as well; the host has no such driver.
# The DMI scalars are not among them: a walk from .4.55 has the shape of column 55 of the scalar
# group .4, which answers it.
SERVING_ON_SAMPLE = SERVING_EVERYWHERE + [(4, 55, t, 1) for t in range(52, 59)]
# Its resource map and storage serve the inventory tables.
SERVING_ON_SAMPLE += [(1, 1, 1), (1, 3, 1), (1, 5, 1)]
SERVING_ON_SAMPLE += [(3, t, 1) for t in (1, 2, 4, 5, 7, 15)]
# Its two network cards serve the adapter table and every statistics and threshold table (the
# 802.x tables answer -1 for the card of the other media).
ADAPTER_TABLES = [(2, 2, 1)] + [(2, 5, t, 1) for t in range(1, 7)]
SERVING_ON_SAMPLE += ADAPTER_TABLES
# A host serves them when it has an interface with a device of its own.
HOST_HAS_ADAPTER = any(os.path.exists(os.path.join("/sys/class/net", name, "device"))
                       for name in os.listdir("/sys/class/net"))
# Its driver list, and the disk tables of its performance data.
SERVING_ON_SAMPLE += [(4, 62, 1), (4, 65, 5, 1), (4, 65, 6, 1)]
# Its two fixed volumes, C: and D:.
SERVING_ON_SAMPLE += [(4, 21, 1)]
# A host has a volume table when a disk filesystem is mounted (a container on overlay has none).
with open("/proc/self/mounts") as mounts:
    HOST_HAS_FIXED_VOLUME = any(line.split()[2] in ("ext2", "ext3", "ext4", "xfs", "btrfs", "vfat")
                                for line in mounts)
# Its KORU driver's readings: the processor table, the driver scalars and the four item tables.
# The item counts .5.4 are read by name: a walk from .5.4 is one of column 4 of the scalars .5.
SERVING_ON_SAMPLE += [(4, 30, 1), (5,)] + [(5, 4, t, 1) for t in range(11, 15)]

# snmpwalk prints "End of MIB" when a v1 get-next meets noSuchName. A name past the subtree ends
# the walk without a word; a name before the last one is printed and reported on stderr as
# "OID not increasing", wherever it lies.
END_OF_MIB = "End of MIB"
NAME_LINE = re.compile(r"^(\.\d+(?:\.\d+)+) = ")

# Each walk gets one try and plenty of time: the line loses nothing, so a reply that does not
# come is a fault, not something to retry past.
WALK_OPTIONS = {"retries": 0, "timeout": 5}


def dotted(oid):
    return "." + ".".join(str(s) for s in oid)


class Walk:
    """What one snmpwalk printed, cut into names; `problems` lists every unclean thing."""

    def __init__(self, root, code, out, err):
        self.root, self.code, self.out, self.err = root, code, out, err
        self.names = []
        self.ended_with_no_such_name = False
        self.problems = []
        if code != 0:
            self.problems.append("exit status %d" % code)
        if err.strip():
            self.problems.append("stderr %r" % err.strip())
        lines = out.splitlines()
        for number, line in enumerate(lines):
            if self.ended_with_no_such_name:
                # After an empty walk snmpwalk gets the walked OID itself and prints it when
                # that succeeds, but a group's OID names no object.
                self.problems.append("line after %r: %r" % (END_OF_MIB, line))
                continue
            if line == END_OF_MIB:
                self.ended_with_no_such_name = True
                continue
            match = NAME_LINE.match(line)
            if match:
                self.names.append(h.oid_tuple(match.group(1)))
            elif not self.names:
                self.problems.append("line %d is no object: %r" % (number + 1, line))
            # Otherwise the line continues the value before it (a long Hex-STRING).

        previous = root
        for name in self.names:
            if name[:len(root)] != root or len(name) <= len(root):
                self.problems.append("%s is not below %s" % (dotted(name), dotted(root)))
            if name <= previous:
                self.problems.append("%s does not follow %s" % (dotted(name), dotted(previous)))
            previous = name
        if "OID not increasing" in err:
            self.problems.append("snmpwalk: OID not increasing")
        if "Timeout" in err:
            self.problems.append("snmpwalk timed out")


class RegistryWalkCases:
    """The walk checks; a subclass names the machine image (None for the host) and the groups
    that must serve objects there."""

    machine = None
    serving = []

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.walks = {}

    def walk(self, suffix):
        """The walk of one group, run once per agent."""
        if suffix not in self.walks:
            root = ENTERPRISE + suffix
            code, out, err = h.snmp("snmpwalk", self.port, dotted(root), **WALK_OPTIONS)
            self.walks[suffix] = Walk(root, code, out, err)
        return self.walks[suffix]

    def test_every_group_walk_ends_cleanly(self):
        self.assertEqual(len(GROUPS), 49)
        for suffix in GROUPS:
            with self.subTest(group=dotted(ENTERPRISE + suffix)):
                walk = self.walk(suffix)
                self.assertEqual(walk.problems, [], "\n" + walk.out + walk.err)

    def test_groups_with_data_return_objects(self):
        for suffix in self.serving:
            self.assertIn(suffix, GROUPS)
            with self.subTest(group=dotted(ENTERPRISE + suffix)):
                walk = self.walk(suffix)
                self.assertEqual(walk.problems, [], "\n" + walk.out + walk.err)
                self.assertGreater(len(walk.names), 0, walk.out)


class SampleMachineWalkTest(RegistryWalkCases, h.StackTest):
    machine = h.SAMPLE_MACHINE
    serving = SERVING_ON_SAMPLE


class HostWalkTest(RegistryWalkCases, h.StackTest):
    machine = None
    serving = (SERVING_EVERYWHERE + (ADAPTER_TABLES if HOST_HAS_ADAPTER else [])
               + ([(4, 21, 1)] if HOST_HAS_FIXED_VOLUME else []))


if __name__ == "__main__":
    unittest.main()
