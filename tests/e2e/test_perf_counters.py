"""The performance counter groups through the bridge: on the sample machine the exact values its
perf/data.bin gives (ten minutes of counts, compared with nothing by the start-up's snapshot),
on the host the account the agent runs under and counters that lie in their ranges."""

import os
import pwd
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

E = "." + h.ENTERPRISE


def integer(value):
    return "INTEGER: %d" % value


def answers(out):
    """name -> printed value of each line of a get or walk."""
    values = {}
    for line in h.walk_lines(out):
        name, _, value = line.partition(" = ")
        values[name] = value
    return values


class CounterCases:
    def get(self, *oids):
        code, out, err = self.run_tool("snmpget", *oids)
        self.assertEqual(code, 0, out + err)
        return answers(out)

    def refused(self, oid):
        code, out, err = self.run_tool("snmpget", oid)
        self.assertNotEqual(code, 0, out)
        self.assertIn("noSuchName", out + err)

    def test_no_data_table_has_nothing(self):
        self.refused(E + ".4.57.1.1.0")

    def test_account_name_ends_with_its_terminator(self):
        code, out, err = self.run_tool("snmpget", "-Ox", E + ".4.60.1.1.0", E + ".4.60.1.2.0")
        self.assertEqual(code, 0, out + err)
        values = answers(out)
        expected = (self.account + "\0").encode()
        self.assertEqual(values[E + ".4.60.1.1.0"],
                         "Hex-STRING: " + " ".join("%02X" % b for b in expected) + " ")
        self.assertEqual(values[E + ".4.60.1.2.0"], "Hex-STRING: 4E 2F 41 ")


class SampleCountersTest(CounterCases, h.StackTest):
    account = "Administrator"

    def test_system_counters(self):
        values = self.get(*[E + ".4.65.1.%d.0" % c for c in range(1, 16)])
        # Served as INTEGERs, whatever type the columns are declared with.
        expected = [integer(v) for v in (40, 10, 30, 2, 250, 1200, 2, 3000, 5, 1024, 55, 40, 15,
                                         163840, 61440)]
        self.assertEqual([values[E + ".4.65.1.%d.0" % c] for c in range(1, 16)], expected)

    def test_cache_counters_and_the_three_names_never_found(self):
        values = self.get(*[E + ".4.65.2.%d.0" % c for c in range(1, 9)])
        self.assertEqual([values[E + ".4.65.2.%d.0" % c] for c in range(1, 9)],
                         [integer(v) for v in (90, 20, 95, 30, 4, 0, 0, 0)])

    def test_memory_counters_and_paging(self):
        values = self.get(*[E + ".4.65.3.%d.0" % c for c in range(1, 11)])
        self.assertEqual([values[E + ".4.65.3.%d.0" % c] for c in range(1, 11)],
                         [integer(v) for v in (500, 120, 10, 6, 2, 12, 4, 16, 1048576, 2097152)])
        values = self.get(*[E + ".4.63.%d.0" % c for c in range(1, 8)])
        self.assertEqual([values[E + ".4.63.%d.0" % c] for c in range(1, 8)],
                         [integer(v) for v in (12, 12 * 512, 4, 4 * 512, 500, 90, 95)])

    def test_logical_disk_table_walk(self):
        code, out, err = self.run_tool("snmpwalk", E + ".4.65.6.1")
        self.assertEqual(code, 0, err)
        rows = [[4096, 4096, 4096, 0, 0, 0, 32768, 16384, 49152, 8, 4, 12],
                [8192, 8192, 8192, 0, 0, 0, 98304, 49152, 147456, 12, 6, 18]]
        expected = ["%s.4.65.6.1.1.%d = %s" % (E, x, integer(x)) for x in range(2)]
        expected += ["%s.4.65.6.1.%d.%d = %s" % (E, c, x, integer(rows[x][c - 2]))
                     for c in range(2, 14) for x in range(2)]
        self.assertEqual(h.walk_lines(out), expected)

    def test_physical_disk_counters_and_their_running_values(self):
        rates = {0: (40960, 40960, 81920, 10, 5, 15), 1: (163840, 40960, 204800, 20, 10, 30),
                 2: (65536, 65536, 131072, 1, 1, 2)}
        for x, expected in rates.items():
            oids = [E + ".4.65.5.1.%d.%d" % (c, x) for c in range(8, 14)]
            values = self.get(*oids)
            self.assertEqual([values[o] for o in oids], [integer(v) for v in expected])
        # Each counter read moved its running value once from 0: half the counter, less one.
        values = self.get(E + ".4.65.5.1.2.1", E + ".4.65.5.1.5.2")
        self.assertEqual(values[E + ".4.65.5.1.2.1"], integer(163840 // 2 - 1))
        # A rate of 1 leaves -1, which is served as 0.
        self.assertEqual(values[E + ".4.65.5.1.5.2"], integer(0))
        # Three hard disks sampled: the CD-ROM's row is none.
        self.refused(E + ".4.65.5.1.8.3")

    def test_driver_table(self):
        values = self.get(E + ".4.62.1.1.0", E + ".4.62.1.2.0", E + ".4.62.1.2.3")
        self.assertEqual(values[E + ".4.62.1.1.0"], 'STRING: "koru"')
        self.assertEqual(values[E + ".4.62.1.2.0"], 'STRING: "KORU Management Driver"')
        self.assertEqual(values[E + ".4.62.1.2.3"], 'STRING: "TCP/IP Protocol Driver"')


class HostCountersTest(CounterCases, h.StackTest):
    machine = None
    account = pwd.getpwuid(os.geteuid()).pw_name

    def test_processor_shares_are_percentages(self):
        values = self.get(*[E + ".4.65.1.%d.0" % c for c in range(1, 5)])
        for c in range(1, 5):
            kind, _, number = values[E + ".4.65.1.%d.0" % c].partition(": ")
            self.assertEqual(kind, "INTEGER")
            self.assertTrue(0 <= int(number) <= 100, values)

    def test_memory_counters_answer_once_processors_are_sampled(self):
        values = self.get(E + ".4.65.3.1.0")
        self.assertTrue(values[E + ".4.65.3.1.0"].startswith("INTEGER: "), values)


if __name__ == "__main__":
    unittest.main()
