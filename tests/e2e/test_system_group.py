"""The system information group .4 and the volume table .4.21.1 through the whole chain: on the
sample machine against its image, and on this host against what uname, /proc and statvfs tell
the test."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

SYSTEM = "." + h.ENTERPRISE + ".4"
VOLUMES = SYSTEM + ".21.1"

DISK_FILESYSTEMS = {"ext2", "ext3", "ext4", "xfs", "btrfs", "vfat", "msdos", "fat", "exfat",
                    "ntfs", "ntfs3", "f2fs", "jfs", "reiserfs", "hfs", "hfsplus", "nilfs2",
                    "bcachefs", "zfs", "ufs", "minix", "fuseblk"}


def host_fixed_mounts():
    """The mount points that take the first drive letters and are fixed disks, in mount order
    (the test's own reading of the mount table, each device once)."""
    seen, fixed = set(), []
    with open("/proc/self/mounts") as f:
        for line in f:
            device, point, kind = line.split()[:3]
            if kind not in DISK_FILESYSTEMS or device in seen:
                continue
            seen.add(device)
            base = os.path.basename(os.path.realpath(device))
            removable = False
            for path in ("/sys/class/block/%s/removable" % base,
                         "/sys/class/block/%s/../removable" % base):
                try:
                    with open(path) as r:
                        removable = r.read().strip() == "1"
                    break
                except OSError:
                    continue
            if not removable:
                fixed.append(point.replace("\\040", " "))
    return fixed


def integer(value):
    """A 32-bit word as net-snmp prints it: a signed INTEGER."""
    value = min(value, 0xFFFFFFFF)
    return "INTEGER: %d" % (value - (1 << 32) if value >= 1 << 31 else value)


class Reads:
    def get(self, oid):
        code, out, err = h.snmp("snmpget", self.port, oid)
        self.assertEqual(code, 0, err)
        return out.strip().split(" = ", 1)[1]


class SampleSystemGroupTest(Reads, h.StackTest):

    def test_machine_facts_come_from_the_image(self):
        self.assertEqual(self.get(SYSTEM + ".2.0"), 'STRING: "Windows NT 4.0"')
        self.assertEqual(self.get(SYSTEM + ".16.0"), 'STRING: "TESSEL-SV1"')
        # Past the 49.7 days a 32-bit count of milliseconds reaches.
        self.assertEqual(self.get(SYSTEM + ".17.0"), 'STRING: "57 days  20 : 53 : 20"')
        self.assertEqual(self.get(SYSTEM + ".20.0"), "INTEGER: 2")
        self.assertEqual(self.get(SYSTEM + ".56.0"), "INTEGER: 1")

    def test_volume_table_lists_the_fixed_volumes(self):
        code, out, err = h.snmp("snmpwalk", self.port, VOLUMES)
        self.assertEqual(code, 0, err)
        lines = h.walk_lines(out)
        self.assertEqual(len(lines), 14, out)
        self.assertIn(VOLUMES + '.2.0 = STRING: "C: SYSTEM"', lines)
        self.assertIn(VOLUMES + '.2.1 = STRING: "D: DATA"', lines)
        self.assertIn(VOLUMES + ".3.0 = INTEGER: 8384512", lines)
        self.assertIn(VOLUMES + ".4.1 = INTEGER: 7864320", lines)

    def test_volume_usage_set_is_written_back_for_every_volume(self):
        code, out, err = h.snmp("snmpset", self.port, SYSTEM + ".28.0", "i", "80")
        self.assertEqual(code, 0, err)
        self.assertEqual(self.get(VOLUMES + ".7.1"), "INTEGER: 80")
        code, out, err = h.snmp("snmpset", self.port, VOLUMES + ".7.1", "i", "90")
        self.assertEqual(code, 0, err)
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            threshold = self.agent.ini().get("threshold", {})
            if threshold.get("usedvol2") == "90":
                break
            time.sleep(0.05)
        self.assertEqual(threshold.get("volume usage"), "80")
        self.assertEqual(threshold.get("usedvol1"), "80")
        self.assertEqual(threshold.get("usedvol2"), "90")
        self.assertEqual(threshold.get("usedvol26"), "80")

    def test_usage_set_past_the_26_values_is_refused(self):
        code, out, err = h.snmp("snmpset", self.port, VOLUMES + ".7.26", "i", "5")
        self.assertNotEqual(code, 0)
        self.assertIn("noSuchName", out + err)

    def test_temperature_limit_reaches_the_driver(self):
        code, out, err = h.snmp("snmpset", self.port, SYSTEM + ".45.0", "i", "700")
        self.assertEqual(code, 0, err)
        self.assertEqual(self.get(SYSTEM + ".45.0"), "INTEGER: 700")
        self.assertIn("KORU 0x80002054 bc02", self.agent.requests())
        code, out, err = h.snmp("snmpset", self.port, SYSTEM + ".44.0", "i", "70000")
        self.assertNotEqual(code, 0)
        self.assertIn("badValue", out + err)


class HostSystemGroupTest(Reads, h.StackTest):
    machine = None

    def test_machine_facts_are_the_hosts(self):
        uname = os.uname()
        release = uname.release.split(".")
        self.assertEqual(self.get(SYSTEM + ".2.0"),
                         'STRING: "%s %s.%s"' % (uname.sysname, release[0],
                                                 "".join(c for c in release[1]
                                                         if c.isdigit())))
        self.assertEqual(self.get(SYSTEM + ".16.0"), 'STRING: "%s"' % uname.nodename[:48])
        with open("/proc/uptime") as f:
            seconds = float(f.read().split()[0])
        days = self.get(SYSTEM + ".17.0").split('"')[1].split()[0]
        self.assertLessEqual(abs(int(days) - int(seconds // 86400)), 1)
        self.assertEqual(self.get(SYSTEM + ".20.0"), "INTEGER: %d" % len(host_fixed_mounts()))

    @unittest.skipUnless(host_fixed_mounts(), "this host has no fixed disk volume")
    def test_first_volume_is_the_first_fixed_mount_with_its_statvfs_size(self):
        point = host_fixed_mounts()[0]
        self.assertEqual(self.get(VOLUMES + ".2.0"), 'STRING: "C: %s"' % point[:76])
        fs = os.statvfs(point)
        self.assertEqual(self.get(VOLUMES + ".3.0"), integer(fs.f_blocks * fs.f_frsize // 1024))
        self.assertEqual(self.get(VOLUMES + ".5.0"), integer(fs.f_blocks))


if __name__ == "__main__":
    unittest.main()
