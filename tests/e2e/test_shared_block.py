"""The shared agent block as the suite's meeting point: it outlives either program's restart,
survives being cut under the agent, and is never taken from another user or when others may
write it."""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

CONTACTS = "." + h.ENTERPRISE + ".4.18.1"
NAME = CONTACTS + ".1.0"
OFFICE_PHONE = CONTACTS + ".2.0"
OFFICE_ADDRESS = CONTACTS + ".3.0"

INI = h.TESSEL_INI + "\n[manager.1]\nname=Ada Operator\nOfficePhone=555-0100\n"

# The agent looks at the block's name again at most once a second.
RECHECK_SECONDS = 1.5


def served(port, oid):
    code, out, err = h.snmp("snmpget", port, oid)
    if code != 0:
        raise AssertionError("snmpget %s: %s%s" % (oid, out, err))
    return out.split(" = ", 1)[1].strip()


def wait_until_ended(agent, seconds=30):
    deadline = time.monotonic() + seconds
    while agent.alive() and time.monotonic() < deadline:
        time.sleep(0.1)
    return agent.proc.poll()


class SuiteTest(unittest.TestCase):
    def setUp(self):
        self.bridge = h.Bridge()
        self.addCleanup(self.bridge.stop)

    def start_agent(self, **options):
        agent = h.Agent(self.bridge.agent_line, ini_text=INI, **options)
        self.addCleanup(agent.cleanup)
        self.addCleanup(agent.stop)
        return agent

    def refused_agent(self, block_name):
        """An agent without a stand-in of its own, on `block_name`; its exit code once ended."""
        agent = self.start_agent(inband=False, env={"FARLINK_SHM_NAME": block_name})
        return agent, wait_until_ended(agent)

    def assert_suite_shares_the_block(self, agent, inband):
        """A field the in-band side changes is served, and a manager's SET reaches it."""
        inband.set("name", "Changed In Band")
        self.assertEqual(served(self.bridge.port, NAME), 'STRING: "Changed In Band"')
        code, _, err = h.snmp("snmpset", self.bridge.port, OFFICE_PHONE, "s", "555-0177")
        self.assertEqual(code, 0, err)
        self.assertEqual(inband.show()["OfficePhone"], "555-0177")
        self.assertTrue(agent.alive(), agent.console())


class RestartTest(SuiteTest):
    def test_restarting_the_in_band_agent_keeps_the_suite_together(self):
        agent = self.start_agent()
        h.wait_until_answers(self.bridge.port, NAME, agent)
        self.assertEqual(agent.inband.stop(keep_block=True), 0)
        agent.inband = h.InBand(agent.windir, agent.block_name)
        self.assert_suite_shares_the_block(agent, agent.inband)

    def test_restarting_the_agent_keeps_the_suite_together(self):
        first = self.start_agent()
        h.wait_until_answers(self.bridge.port, NAME, first)
        inband = first.inband
        first.inband = None  # the second agent takes it over
        self.assertEqual(first.stop(), 0, first.console())
        second = self.start_agent(inband=inband)
        h.wait_until_answers(self.bridge.port, NAME, second)
        self.assert_suite_shares_the_block(second, inband)

    def test_a_block_made_anew_is_served_without_a_restart(self):
        agent = self.start_agent()
        h.wait_until_answers(self.bridge.port, NAME, agent)
        self.assertEqual(agent.inband.stop(keep_block=True), 0)
        h.remove_block(agent.block_name)
        agent.inband = h.InBand(agent.windir, agent.block_name)
        time.sleep(RECHECK_SECONDS)
        self.assert_suite_shares_the_block(agent, agent.inband)
        self.assertIn("info Shared agent block \"%s\" was made anew; serving the new one"
                      % agent.block_name, agent.events())

    def test_a_block_cut_short_under_the_agent_does_not_stop_it(self):
        agent = self.start_agent()
        h.wait_until_answers(self.bridge.port, NAME, agent)
        os.truncate("/dev/shm/" + agent.block_name, 100)
        self.assertEqual(served(self.bridge.port, NAME), 'STRING: "Ada Operator"')
        self.assertEqual(served(self.bridge.port, OFFICE_ADDRESS), '""')
        self.assertTrue(agent.alive(), agent.console())
        self.assertTrue(any("holds only 100 bytes, fewer than the agent's 816" in e
                            for e in agent.events()), agent.events())


class OwnershipTest(SuiteTest):
    def foreign_block(self, mode):
        name = h.unique_block_name()
        self.addCleanup(h.remove_block, name)
        fd = os.open("/dev/shm/" + name, os.O_CREAT | os.O_EXCL | os.O_RDWR, mode)
        os.ftruncate(fd, 4096)
        os.fchmod(fd, mode)
        os.close(fd)
        return name

    def assert_refused_by_both(self, name, reason):
        env = dict(os.environ, FARLINK_SHM_NAME=name, WINDIR="/nonexistent")
        done = subprocess.run([h.inband_binary()], env=env, capture_output=True, text=True,
                              timeout=30, stdin=subprocess.DEVNULL)
        self.assertEqual(done.returncode, 1)
        self.assertIn("koru-inband: cannot create the shared agent block \"%s\": %s"
                      % (name, reason), done.stderr)

        agent, code = self.refused_agent(name)
        self.assertEqual(code, 1, agent.console())
        text = "Shared agent block \"%s\" is not taken: %s" % (name, reason)
        self.assertIn(text, agent.console())
        self.assertIn("0x40060001 MapViewOf File Failure: " + text, agent.events())

    def test_a_block_every_user_may_write_is_refused(self):
        self.assert_refused_by_both(self.foreign_block(0o666), "every user may write it (mode 0666)")

    @unittest.skipUnless(os.geteuid() == 0, "running the in-band side as another user needs root")
    def test_a_block_of_another_user_is_refused_unless_their_group_is_configured(self):
        # A directory the other user may enter; it holds no TESSEL.INI, so the block starts empty.
        windir = tempfile.mkdtemp(prefix="farlink-e2e-block-")
        os.chmod(windir, 0o755)
        self.addCleanup(shutil.rmtree, windir, True)
        nobody = h.InBand(windir, user="nobody")
        self.addCleanup(nobody.stop)
        agent, code = self.refused_agent(nobody.block_name)
        self.assertEqual(code, 1, agent.console())
        self.assertIn("is not taken: it belongs to nobody, not to root", agent.console())

        # The two accounts share a group and both are told so: the suite runs across them.
        nobody.stop()
        group = {"FARLINK_SHM_GROUP": "nogroup"}
        shared = h.InBand(windir, env=dict(os.environ, **group), user="nobody")
        self.addCleanup(shared.stop)
        agent = self.start_agent(inband=False,
                                 env=dict(group, FARLINK_SHM_NAME=shared.block_name))
        h.wait_until_answers(self.bridge.port, NAME, agent)
        self.assertEqual(oct(os.stat("/dev/shm/" + shared.block_name).st_mode & 0o777), "0o660")
        self.assert_suite_shares_the_block(agent, shared)


if __name__ == "__main__":
    unittest.main()
