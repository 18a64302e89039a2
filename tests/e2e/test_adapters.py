"""The network adapter groups through the bridge: the sample machine's Ethernet and Token Ring
cards (registry/40-network.reg, devices/E100B1 and devices/QTok161), and this host's own
interfaces from /sys/class/net, compared with what the test reads there itself.

The pollers take their first values a minute after the start, which these tests do not wait
for: the statistics read all ones until then."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

E = "." + h.ENTERPRISE
ALL_ONES = "INTEGER: -1"


def walk(testcase, oid):
    code, out, err = h.snmp("snmpwalk", testcase.port, E + "." + oid)
    testcase.assertEqual(code, 0, err)
    testcase.assertTrue(out.endswith("End of MIB\n"), out)
    return h.walk_lines(out)


def get(testcase, *oids):
    code, out, err = h.snmp("snmpget", testcase.port, *[E + "." + o for o in oids])
    testcase.assertEqual(code, 0, err)
    return out.splitlines()


class SampleAdaptersTest(h.StackTest):

    def test_count_and_defaults(self):
        self.assertEqual(get(self, "2.1.0", "2.6.0", "2.7.0", "2.8.0"), [
            E + ".2.1.0 = INTEGER: 2",
            E + ".2.6.0 = INTEGER: 12500000",
            E + ".2.7.0 = INTEGER: 250000",
            E + ".2.8.0 = INTEGER: -1",
        ])

    def test_adapter_table(self):
        rows = [
            # index, 0, port, DMA, IRQ, memory, vendor, title, "", media, address, code
            [0, 0, 0xEC00, 255, 11, 0xFEBFF000, "Tessel FastLink 10/100 PCI Adapter",
             "Tessel FastLink 10/100 PCI Adapter", "", "Ethernet", "00A0C9123456", 1],
            # The Token Ring driver keeps no resource list: its resources read 0.
            [1, 0, 0, 0, 0, 0, "Quarry 16/4 Token-Ring PCI Adapter",
             "Quarry 16/4 Token-Ring PCI Adapter", "", "Token Ring", "10005A4C2107", 2],
        ]

        def value(v):
            if isinstance(v, str):
                return 'STRING: "%s"' % v if v else '""'
            return "INTEGER: %d" % (v - (1 << 32) if v >= 1 << 31 else v)

        expected = ["%s.2.2.1.%d.%d = %s" % (E, c + 1, x, value(rows[x][c]))
                    for c in range(12) for x in range(2)]
        self.assertEqual(walk(self, "2.2.1"), expected)

    def test_statistics_before_the_first_poll_and_media_tables(self):
        general = walk(self, "2.5.1.1")
        self.assertEqual(len(general), 19 * 2)
        self.assertTrue(all(line.endswith(ALL_ONES) for line in general), general)
        # Each 802.x table answers -1 for the adapter of the other media as well.
        for table in ("2.5.3.1", "2.5.5.1"):
            lines = walk(self, table)
            self.assertEqual(len(lines), 10 * 2)
            self.assertTrue(all(line.endswith(ALL_ONES) for line in lines), lines)
        self.assertEqual(get(self, "2.5.4.1.10.1", "2.5.6.1.10.0"),
                         [E + ".2.5.4.1.10.1 = " + ALL_ONES, E + ".2.5.6.1.10.0 = " + ALL_ONES])

    def test_threshold_sets(self):
        code, out, err = h.snmp("snmpset", self.port, E + ".2.5.2.1.2.0", "i", "4000",
                                E + ".2.5.4.1.10.0", "i", "12")
        self.assertEqual(code, 0, err)
        self.assertEqual(get(self, "2.5.2.1.2.0", "2.5.4.1.10.0", "2.5.6.1.10.1"), [
            E + ".2.5.2.1.2.0 = INTEGER: 4000",
            E + ".2.5.4.1.10.0 = INTEGER: 12",
            E + ".2.5.6.1.10.1 = INTEGER: -1",  # the Faults default
        ])
        # A threshold of an adapter that does not exist: noSuchName at its binding.
        code, out, err = h.snmp("snmpset", self.port, E + ".2.5.2.1.3.2", "i", "5")
        self.assertNotEqual(code, 0)
        self.assertIn("noSuchName", err + out)

    def test_threshold_message_is_empty_before_any_report(self):
        self.assertEqual(get(self, "7.1.0"), [E + '.7.1.0 = ""'])


def host_interfaces():
    """The interfaces of this host that the agent counts: those with a device of their own, in
    the order of their interface indexes."""
    found = []
    net = "/sys/class/net"
    for name in os.listdir(net):
        if not os.path.exists(os.path.join(net, name, "device")):
            continue
        with open(os.path.join(net, name, "ifindex")) as f:
            found.append((int(f.read()), name))
    return [name for _, name in sorted(found)]


class HostAdaptersTest(h.StackTest):
    machine = None

    def test_adapters_are_the_interfaces_with_a_device(self):
        names = host_interfaces()[:8]
        self.assertEqual(get(self, "2.1.0"), [E + ".2.1.0 = INTEGER: %d" % len(names)])
        if not names:
            self.skipTest("this host has no interface with a device")
        lines = walk(self, "2.2.1")
        self.assertEqual(len(lines), 12 * len(names))
        for x, name in enumerate(names):
            with open("/sys/class/net/%s/address" % name) as f:
                address = f.read().strip().replace(":", "").upper()
            with open("/sys/class/net/%s/type" % name) as f:
                ethernet = f.read().strip() == "1"
            self.assertIn("%s.2.2.1.11.%d = STRING: \"%s\"" % (E, x, address), lines)
            self.assertIn("%s.2.2.1.12.%d = INTEGER: %d" % (E, x, 1 if ethernet else 0), lines)
            self.assertIn("%s.2.2.1.10.%d = STRING: \"%s\"" % (
                E, x, "Ethernet" if ethernet else "Not Supported by KORU"), lines)

    @unittest.skipUnless(os.environ.get("FARLINK_E2E_SLOW"), "waits for the first poll (60 s)")
    def test_counters_are_the_interfaces_own(self):
        import time
        names = host_interfaces()[:8]
        if not names:
            self.skipTest("this host has no interface with a device")
        # The first poll comes a minute after the start; the test reads the kernel's counts
        # before and after the agent's, which lies between them (modulo 2^32).
        path = "/sys/class/net/%s/statistics/rx_packets" % names[0]
        deadline_polls = 90
        for _ in range(deadline_polls):
            with open(path) as f:
                before = int(f.read()) & 0xFFFFFFFF
            line = get(self, "2.5.1.1.2.0")[0]
            with open(path) as f:
                after = int(f.read()) & 0xFFFFFFFF
            value = int(line.rsplit(" ", 1)[1]) & 0xFFFFFFFF
            if value != 0xFFFFFFFF:
                break
            time.sleep(1)
        self.assertNotEqual(value, 0xFFFFFFFF, "no poll in %d s" % deadline_polls)
        # Polled up to a second ago: at most what the kernel counts now.
        self.assertLessEqual(value, after)
        self.assertGreater(value, 0)
        self.assertLessEqual(before - value, 100000)


if __name__ == "__main__":
    unittest.main()
