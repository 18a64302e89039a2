"""farlink-bridge report against the sample machine: through a bridge's UDP port, straight on a
serial line without a bridge, and against a port where nothing answers."""

import json
import os
import re
import select
import socket
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

GROUPS = h.registry_group_suffixes()
REPORT_SECONDS = 120


def report(*args):
    """Runs `farlink-bridge report ARGS`; (exit code, stdout, stderr, seconds)."""
    start = time.monotonic()
    done = subprocess.run([h.bridge_binary(), "report", *args], capture_output=True, text=True,
                          timeout=REPORT_SECONDS)
    return done.returncode, done.stdout, done.stderr, time.monotonic() - start


def group_oid(suffix):
    return h.ENTERPRISE + "." + ".".join(str(s) for s in suffix)


def by_oid(document):
    return {g["oid"]: g for g in document["groups"]}


def column_name(group, number):
    return next(c["name"] for c in group["columns"] if c["column"] == number)


def value(group, number):
    return group["values"][column_name(group, number)]


def cells(group, number):
    """A table column's values by row index."""
    name = column_name(group, number)
    return {row["index"]: row[name] for row in group["rows"] if name in row}


class CheckDocument:
    """Checks on the JSON report of the sample machine, whichever way it was reached."""

    def check_sample(self, document):
        groups = by_oid(document)
        self.assertEqual([g["oid"] for g in document["groups"]],
                         [group_oid(s) for s in GROUPS])
        for g in document["groups"]:
            self.assertEqual(g["status"], "read", g)
            self.assertEqual(g["errors"], [], g["oid"])
            self.assertTrue(g["name"] and g["title"] and g["subsystem"], g["oid"])
        self.assertTrue(document["agent"]["complete"])
        # Every group has its data but the two tables the agent keeps empty on every machine.
        empty = {g["oid"] for g in document["groups"] if not (g.get("rows") or g.get("values"))}
        self.assertEqual(empty, {group_oid((4, 23, 1)), group_oid((4, 57, 1))})
        # The system facts of the sample image: its name, and the account the agent runs under
        # (served with its terminating NUL, which the report drops).
        self.assertEqual(value(groups[group_oid((4,))], 16), "TESSEL-SV1")
        self.assertEqual(cells(groups[group_oid((4, 60, 1))], 1), {0: "Administrator"})
        volumes = groups[group_oid((4, 21, 1))]
        self.assertEqual(cells(volumes, 2), {0: "C: SYSTEM", 1: "D: DATA"})
        self.assertEqual(cells(volumes, 3), {0: 8384512, 1: 9437184})
        # Two 450 MHz processors in the DMI processor table.
        self.assertEqual(len(groups[group_oid((4, 55, 52, 1))]["rows"]), 2)


class ReportThroughBridgeTest(h.StackTest, CheckDocument):

    def test_json_report_holds_every_group_with_the_sample_data(self):
        code, out, err, _ = report("--udp", "127.0.0.1:%d" % self.port, "--json")
        self.assertEqual(code, 0, err)
        document = json.loads(out)
        self.assertEqual(document["agent"]["transport"], "udp")
        self.check_sample(document)
        # Progress: one line per group when standard error is no terminal.
        self.assertEqual(len(re.findall(r"^reading \d+/49 ", err, re.M)), 49, err)

        # Every value of these tables is the one snmpwalk reads, signed INTEGERs included (the
        # 3 TiB disk's size in KB reads negative).
        groups = by_oid(document)
        for suffix in [(1, 5, 1), (3, 1, 1), (3, 4, 1), (2, 2, 1)]:
            with self.subTest(table=suffix):
                walk = self.walk(group_oid(suffix))
                self.assertTrue(walk)
                table = groups[group_oid(suffix)]
                names = {c["column"]: c["name"] for c in table["columns"]}
                rows = {row["index"]: row for row in table["rows"]}
                for (column, index), seen in walk.items():
                    self.assertEqual(rows[index][names[column]], seen, (column, index))
        disk_sizes = cells(groups[group_oid((1, 5, 1))], 7)
        self.assertTrue(any(size < 0 for size in disk_sizes.values()), disk_sizes)

    def walk(self, oid):
        """{(column, index): value} of snmpwalk's INTEGER and STRING lines."""
        code, out, err = self.run_tool("snmpwalk", "-Oe", "." + oid, retries=0, timeout=5)
        self.assertEqual(code, 0, err)
        found = {}
        for line in h.walk_lines(out):
            m = re.match(r"^\.%s\.(\d+)\.(\d+) = (INTEGER|STRING): (.*)$" % re.escape(oid), line)
            if m:
                raw = m.group(4)
                found[(int(m.group(1)), int(m.group(2)))] = (
                    int(raw) if m.group(3) == "INTEGER" else raw.strip('"'))
        return found

    def test_text_report_has_sections_tables_and_units(self):
        code, out, err, _ = report("--udp", "127.0.0.1:%d" % self.port, "--quiet")
        self.assertEqual(code, 0, err)
        self.assertEqual(err, "")
        self.assertIn("all read", out.splitlines()[1])
        self.assertEqual(len(re.findall(r"^== .+ ==$", out, re.M)),
                         len({g["subsystem"] for g in self.json_groups()}))
        # A scalar with its units, and the volume table under its column headers.
        self.assertRegex(out, r"farlinkSystemComputerName\s+= TESSEL-SV1\n")
        header = next(line for line in out.splitlines() if "farlinkVolumeLabel" in line)
        self.assertIn("farlinkVolumeSizeKB [KB]", header)
        self.assertRegex(out, r"\n\s+0\s+0\s+C: SYSTEM\s+8384512\s")

    def json_groups(self):
        code, out, err, _ = report("--udp", "127.0.0.1:%d" % self.port, "--json", "--quiet")
        self.assertEqual(code, 0, err)
        return json.loads(out)["groups"]


class NullModem:
    """Two pseudo-terminals joined back to back, as a cable joins two serial ports: what one
    side's program writes, the other side's reads."""

    def __init__(self):
        self.masters, self.slaves, self.paths = [], [], []
        for _ in range(2):
            master, slave = os.openpty()
            h.make_raw(slave)
            self.masters.append(master)
            self.slaves.append(slave)  # held open so that the pair outlives each program
            self.paths.append(os.ttyname(slave))
        self.running = True
        self.thread = threading.Thread(target=self.relay, daemon=True)
        self.thread.start()

    def relay(self):
        a, b = self.masters
        while self.running:
            ready, _, _ = select.select([a, b], [], [], 0.1)
            for fd in ready:
                try:
                    data = os.read(fd, 4096)
                except OSError:
                    continue
                os.write(b if fd == a else a, data)

    def close(self):
        self.running = False
        self.thread.join()
        for fd in self.masters + self.slaves:
            os.close(fd)


class ReportOnTheLineTest(unittest.TestCase, CheckDocument):

    def test_report_straight_on_the_line(self):
        cable = NullModem()
        agent = h.Agent(cable.paths[0])
        try:
            # The report's first request must not reach a line the agent has yet to open.
            deadline = time.monotonic() + h.READY_SECONDS
            while not any(e.startswith("info Serving COM1") for e in agent.events()):
                self.assertLess(time.monotonic(), deadline, agent.console())
                time.sleep(0.05)
            code, out, err, _ = report("--device", cable.paths[1], "--speed", "9600",
                                       "--timeout", "2", "--json", "--quiet")
            self.assertEqual(code, 0, err + agent.console())
            document = json.loads(out)
            self.assertEqual(document["agent"]["transport"], "line")
            self.assertEqual(document["agent"]["speed"], 9600)
            self.check_sample(document)
        finally:
            self.assertEqual(agent.stop(), 0)
            agent.cleanup()
            cable.close()


class ReportWithoutAnswerTest(unittest.TestCase):

    def test_silent_port_ends_with_an_error(self):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as silent:
            silent.bind(("127.0.0.1", 0))
            port = silent.getsockname()[1]
            code, out, err, seconds = report("--udp", "127.0.0.1:%d" % port, "--timeout",
                                             "0.5", "--retries", "1", "--json", "--quiet")
        self.assertEqual(code, 1)
        self.assertIn("no answer from the agent at udp 127.0.0.1:%d" % port, err)
        self.assertIn("timeout", err)
        # Two tries of half a second, and no further group waits out its own.
        self.assertLess(seconds, 5)
        document = json.loads(out)
        self.assertFalse(document["agent"]["complete"])
        self.assertEqual({g["status"] for g in document["groups"]}, {"failed", "not read"})

    def test_bad_command_line(self):
        code, _, err, _ = report("--udp", "nowhere")
        self.assertEqual(code, 2)
        self.assertIn("HOST:PORT", err)


if __name__ == "__main__":
    unittest.main()
