"""The whole suite as it runs on a server: koru-inband owning the shared agent block, farlink
with the sample machine's KORU driver, farlink-bridge on the line and net-snmp as the manager.
The DMI inventory the firmware describes, a manager's contact change travelling to TESSEL.INI,
the SET keyword, the in-band agent's own changes, stopping and the start-up failures."""

import binascii
import os
import shutil
import socket
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

E = "." + h.ENTERPRISE
DMI = E + ".4.55"
PROCESSORS = DMI + ".52.1"
CONTACTS = E + ".4.18.1"
OFFICE_PHONE = CONTACTS + ".2.0"

# A change starts to reach the file a few milliseconds after the SET, one key after the other;
# the bound only keeps a broken write-back from hanging the test.
WRITE_BACK_SECONDS = 10.0

CONTACT_KEYS = ["name", "OfficePhone", "OfficeAddr", "HomePhone", "HomeAddr", "Pager", "EMail"]
THRESHOLD_KEYS = ["I/O BUS", "MEMORY", "Volume Usage"] + ["UsedVol%d" % k for k in range(1, 27)]

SUITE_INI = h.TESSEL_INI + """
; kept as it is by every write-back
[threshold]
temp1=530
MEMORY=90
I/O BUS=80
Volume Usage=85
UsedVol2=60

[manager.1]
name=Ada Operator
OfficePhone=555-0100
OfficeAddr=Server room 2
EMail=ada@example.net
"""

KEYWORD = "s3cret"
KEYWORD_INI = SUITE_INI.replace("[environment]\n", "[environment]\nkeyword=%s\n" % KEYWORD)

# The sample firmware's values, in the order of the scalar group's 31 columns.
DMI_SCALARS = [
    'STRING: "Northgate Firmware"', 'STRING: "4.51 PG"', "INTEGER: 57344", 'STRING: "04/15/99"',
    "INTEGER: 3", "INTEGER: 106128", "INTEGER: 0",
    'STRING: "Tessel Systems"', 'STRING: "ServerView 440BX"', 'STRING: "1.0"',
    'STRING: "TS-0471123"',
    'STRING: "Tessel Systems"', 'STRING: "SV-440BX"', 'STRING: "Rev. C"', 'STRING: "BB-77321"',
    # memory controller
    "INTEGER: 6", "INTEGER: 8", "INTEGER: 3", "INTEGER: 3", "INTEGER: 7", "INTEGER: 8",
    "INTEGER: 1280", "INTEGER: 2", "INTEGER: 4",
    # rows: processors, memory modules, caches, port connectors, slots, devices, OEM strings
    "INTEGER: 2", "INTEGER: 4", "INTEGER: 2", "INTEGER: 5", "INTEGER: 3", "INTEGER: 3",
    "INTEGER: 2",
]

# Each processor row by column; column 5 (the processor ID) is always an empty string.
PROCESSOR_ROWS = [
    ['STRING: "CPU %d"' % n, "INTEGER: 3", "INTEGER: 11", 'STRING: "GenuineIntel"', '""',
     'STRING: "Pentium II"', "INTEGER: 148", "INTEGER: 100", "INTEGER: 500", "INTEGER: 450",
     "INTEGER: 65", "INTEGER: 8"]
    for n in (1, 2)
]



def keyword_value(text, keyword):
    """A text as a SET carries it when a keyword is configured: text, zero, keyword padded."""
    raw = text.encode() + b"\0" + keyword.encode().ljust(16, b"\0")
    return binascii.hexlify(raw).decode()


class Stack(h.StackTest):
    ini_text = SUITE_INI

    def get(self, oid):
        code, out, err = self.run_tool("snmpget", oid)
        self.assertEqual(code, 0, err)
        return out.strip()

    def written_back(self):
        """TESSEL.INI once it holds every contact text and threshold of the shared block, that
        is once the write-back of the last SET has written its last key."""
        block = self.agent.inband.show()
        wanted = [("manager.1", k, block[k]) for k in CONTACT_KEYS]
        wanted += [("threshold", k, block[k]) for k in THRESHOLD_KEYS]
        deadline = time.monotonic() + WRITE_BACK_SECONDS
        while True:
            ini = self.agent.ini()
            missing = [(s, k, v) for s, k, v in wanted if ini.get(s, {}).get(k.lower()) != v]
            if not missing:
                return ini
            if time.monotonic() > deadline:
                self.fail("the file never took the block's values: %r" % missing)
            time.sleep(0.02)


class SuiteTest(Stack):
    def test_dmi_scalar_group(self):
        # A get-next from each column name steps to its one instance; eight bindings a request
        # keep every answer within one response.
        names = ["%s.%d" % (DMI, k) for k in range(1, len(DMI_SCALARS) + 1)]
        lines = []
        for i in range(0, len(names), 8):
            code, out, err = self.run_tool("snmpgetnext", *names[i:i + 8])
            self.assertEqual(code, 0, err)
            lines += out.splitlines()
        expected = ["%s.%d.0 = %s" % (DMI, k, v) for k, v in enumerate(DMI_SCALARS, start=1)]
        self.assertEqual(lines, expected)

        # A walk never leaves its group: a scalar's walk ends at its one object.
        code, out, err = self.run_tool("snmpwalk", DMI + ".9")
        self.assertEqual(code, 0, err)
        self.assertEqual(h.walk_lines(out), [DMI + '.9.0 = STRING: "ServerView 440BX"'])
        code, out, err = self.run_tool("snmpget", DMI + ".32.0")
        self.assertNotEqual(code, 0)
        self.assertIn("noSuchName", out + err)

    def test_processor_table_walk(self):
        code, out, err = self.run_tool("snmpwalk", PROCESSORS)
        self.assertEqual(code, 0, err)
        expected = ["%s.%d.%d = %s" % (PROCESSORS, column, row, PROCESSOR_ROWS[row][column - 1])
                    for column in range(1, 13) for row in range(2)]
        self.assertEqual(h.walk_lines(out), expected)

    def test_contact_set_is_written_to_the_configuration_file(self):
        with open(self.agent.ini_path) as f:
            before = f.read()
        code, out, err = self.run_tool("snmpset", OFFICE_PHONE, "s", "555-0142")
        self.assertEqual(code, 0, err)
        self.assertEqual(out.strip(), OFFICE_PHONE + ' = STRING: "555-0142"')
        self.assertEqual(self.agent.inband.show()["OfficePhone"], "555-0142")

        # One write-back writes every contact text and every threshold of the shared block.
        ini = self.written_back()
        self.assertEqual(ini["manager.1"]["officephone"], "555-0142")
        self.assertEqual(ini["manager.1"]["name"], "Ada Operator")
        self.assertEqual(ini["threshold"]["usedvol2"], "60")
        # Lines the write-back does not own stay as they were.
        with open(self.agent.ini_path) as f:
            after = f.read()
        for line in before.splitlines():
            if not line.startswith(tuple(k + "=" for k in CONTACT_KEYS + THRESHOLD_KEYS)):
                self.assertIn(line, after.splitlines())
        self.assertEqual(ini["threshold"]["temp1"], "530")
        self.assertEqual(self.get(OFFICE_PHONE), OFFICE_PHONE + ' = STRING: "555-0142"')

    def test_in_band_changes_are_served_and_written_with_the_next_set(self):
        self.agent.inband.set("EMail", "night-desk@example.net")
        email = CONTACTS + ".7.0"
        self.assertEqual(self.get(email), email + ' = STRING: "night-desk@example.net"')

        # A change of the in-band agent alone is not written...
        with open(self.agent.ini_path) as f:
            before = f.read()
        self.agent.inband.set("MEMORY", "77")
        time.sleep(0.2)
        with open(self.agent.ini_path) as f:
            self.assertEqual(f.read(), before)
        # ...the next SET of this agent takes it along.
        code, _, err = self.run_tool("snmpset", CONTACTS + ".6.0", "s", "555-0177")
        self.assertEqual(code, 0, err)
        ini = self.written_back()
        self.assertEqual(ini["manager.1"]["pager"], "555-0177")
        self.assertEqual(ini["threshold"]["memory"], "77")
        self.assertEqual(ini["manager.1"]["email"], "night-desk@example.net")


class KeywordTest(Stack):
    ini_text = KEYWORD_INI

    def test_set_carrying_the_keyword_is_accepted(self):
        code, out, err = self.run_tool("snmpset", OFFICE_PHONE, "x",
                                       keyword_value("555-0199", KEYWORD))
        self.assertEqual(code, 0, err)
        self.assertEqual(self.get(OFFICE_PHONE), OFFICE_PHONE + ' = STRING: "555-0199"')
        self.assertEqual(self.agent.inband.show()["OfficePhone"], "555-0199")
        self.assertEqual(self.written_back()["manager.1"]["officephone"], "555-0199")

    def test_wrong_or_missing_keyword_is_bad_value_and_changes_nothing(self):
        pager = CONTACTS + ".6.0"
        before_value = self.get(pager)
        before_block = self.agent.inband.show()
        with open(self.agent.ini_path) as f:
            before_file = f.read()
        for kind, value in (("x", keyword_value("555-0666", "s3creT")),
                            ("x", keyword_value("555-0666", KEYWORD + "x")),
                            ("s", "555-0666")):
            code, out, err = self.run_tool("snmpset", pager, kind, value)
            self.assertNotEqual(code, 0, value)
            self.assertIn("badValue", out + err)
        self.assertEqual(self.get(pager), before_value)
        self.assertEqual(self.agent.inband.show(), before_block)
        time.sleep(0.2)
        with open(self.agent.ini_path) as f:
            self.assertEqual(f.read(), before_file)


class StopTest(unittest.TestCase):
    def test_sigterm_ends_the_agent_and_leaves_the_block_to_the_in_band_agent(self):
        h.start_stack(self, ini_text=SUITE_INI)
        agent = self.agent
        try:
            self.assertEqual(agent.stop(), 0, agent.console())
            self.assertEqual(agent.inband.show()["name"], "Ada Operator")
            self.assertTrue(agent.inband.alive())
        finally:
            self.bridge.stop()
            agent.cleanup()


class StopAfterSetTest(unittest.TestCase):
    def test_a_set_answered_just_before_sigterm_reaches_the_file(self):
        h.start_stack(self, ini_text=SUITE_INI)
        agent = self.agent
        try:
            code, _, err = h.snmp("snmpset", self.port, OFFICE_PHONE, "s", "555-0177")
            self.assertEqual(code, 0, err)
            # At once: the write-back waits a few milliseconds to gather a burst of SETs.
            self.assertEqual(agent.stop(), 0, agent.console())
            self.assertEqual(agent.ini()["manager.1"]["officephone"], "555-0177")
        finally:
            self.bridge.stop()
            agent.cleanup()


class HostWithoutDriverTest(unittest.TestCase):
    def test_agent_starts_without_driver_data(self):
        # No machine image: the host has no KORU driver, so the configured driver name is never
        # compared and the DMI tables stay empty.
        h.start_stack(self, ini_text=h.PORT_SECTION + "[environment]\ndriver=SV-999\n",
                      machine=None)
        try:
            code, out, err = h.snmp("snmpget", self.port, DMI + ".25.0", DMI + ".13.0")
            self.assertEqual(code, 0, err)
            self.assertEqual(out.splitlines(), [DMI + ".25.0 = INTEGER: 0", DMI + '.13.0 = ""'])
            code, out, err = h.snmp("snmpgetnext", self.port, PROCESSORS + ".1")
            self.assertNotEqual(code, 0)
            self.assertIn("noSuchName", out + err)
        finally:
            h.stop_stack(self)


class StartFailureTest(unittest.TestCase):
    def start(self, **options):
        master, slave = os.openpty()
        self.addCleanup(os.close, master)
        self.addCleanup(os.close, slave)
        agent = h.Agent(os.ttyname(slave), **options)
        self.addCleanup(agent.cleanup)
        return agent

    def ended(self, agent):
        """The agent's exit code once it has ended on its own."""
        try:
            return agent.proc.wait(timeout=h.READY_SECONDS)
        finally:
            agent.stop()

    def test_ready_only_when_serving_and_every_port_says_how_it_went(self):
        directory = tempfile.mkdtemp(prefix="farlink-notify-")
        self.addCleanup(shutil.rmtree, directory, ignore_errors=True)
        notify = os.path.join(directory, "notify")
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.addCleanup(listener.close)
        listener.bind(notify)
        listener.settimeout(h.READY_SECONDS)
        bad = h.PORT_SECTION.replace(".1]", ".2]").replace("COM1", "COM9")
        agent = self.start(ini_text=h.TESSEL_INI + bad, notify_socket=notify)
        self.addCleanup(agent.stop)
        messages = []
        while "READY=1" not in messages or not any(m.startswith("STATUS=Serving")
                                                   for m in messages):
            messages += listener.recv(4096).decode().splitlines()
        # Running is reported before the start-up's checks; ready only once they have passed.
        self.assertLess(messages.index("STATUS=Running"), messages.index("READY=1"), messages)
        serving = [m for m in messages if m.startswith("STATUS=Serving")][0]
        self.assertRegex(serving, r"^STATUS=Serving COM1 on /dev/\S+, 9600 8N1, no modem lines$")
        events = agent.events()
        self.assertIn("info Serial Port Parameters.2: PortNumber=COM9 is not a port; use COM1 to "
                      "COM4", events)
        self.assertIn("0x40060001  Failed to configure COM PORT 2", events)
        self.assertIn("info " + serving[len("STATUS="):], events)

    def test_missing_configuration_file(self):
        agent = self.start(ini_text=None)
        self.assertEqual(self.ended(agent), 1, agent.console())
        # The event names the path it looked for and why it could not use it.
        expected = "0x40060004 Configuration file does not exist: 2 (%s: No such file or directory)"
        self.assertIn(expected % os.path.join(agent.windir, "TESSEL.INI"), agent.events())

    def test_driver_that_does_not_match_the_configuration(self):
        agent = self.start(ini_text=h.PORT_SECTION + "[environment]\ndriver=SV-999\n")
        self.assertEqual(self.ended(agent), 1, agent.console())
        self.assertIn("The driver of the KORU-Agent is uncompatible !!", agent.console())
        self.assertTrue(any(e.startswith("0x40060004 Configuration driver does mistake: ")
                            for e in agent.events()), agent.events())

    @unittest.skipUnless(os.environ.get("FARLINK_E2E_SLOW"),
                         "waits the agent's whole minute of retries; set FARLINK_E2E_SLOW=1")
    def test_without_the_shared_block_the_agent_gives_up(self):
        agent = self.start(inband=False)
        code = agent.proc.wait(timeout=120)
        agent.stop()
        self.assertEqual(code, 1, agent.console())
        self.assertIn("Before start FARLINK you must start SNMP service", agent.console())
        self.assertEqual(agent.requests(), ["start SNMP"] * 11 + ["stop FARLINK"])


if __name__ == "__main__":
    unittest.main()
