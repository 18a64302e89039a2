"""Reads through the whole chain: net-snmp tools -> bridge -> pseudo-terminal -> agent."""

import os
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

E = "." + h.ENTERPRISE
# The built-in event actions of entries 0 to 10, served while the configuration names none.
BUILT_IN_ACTIONS = [65542, 196614, 65542, 327686, 65542, 65542, 6, 6, 6, 65542, 6]



class AgentReadsTest(h.StackTest):
    def test_nic_count_is_the_sample_machines_two_cards(self):
        code, out, err = self.run_tool("snmpget", E + ".2.1.0")
        self.assertEqual(code, 0, err)
        self.assertEqual(out.strip(), E + ".2.1.0 = INTEGER: 2")

    def test_twenty_five_bindings_are_answered_whatever_escapes_their_frame_needs(self):
        # The most bindings a request may carry, behind a community whose twenty C0 bytes (the
        # agent takes any community that starts with its own) each need an escape on the line:
        # a message of about 500 bytes in a frame of about 550.
        community = "kestrl" + "\udcc0" * 20  # passed to the tool as raw C0 bytes
        code, out, err = self.run_tool("snmpget", *[E + ".2.1.0"] * 25, community=community)
        self.assertEqual(code, 0, err)
        self.assertEqual(out.splitlines(), [E + ".2.1.0 = INTEGER: 2"] * 25)

    def test_get_next_walk_never_leaves_the_threshold_message_group(self):
        code, out, err = self.run_tool("snmpwalk", E + ".7")
        self.assertEqual(code, 0, err)
        self.assertEqual(h.walk_lines(out), [E + '.7.1.0 = ""'])

    def test_walk_of_event_action_table(self):
        code, out, err = self.run_tool("snmpwalk", E + ".7.2.1")
        self.assertEqual(code, 0, err)
        table = E + ".7.2.1"
        expected = ["%s.1.%d = INTEGER: %d" % (table, i, i + 1) for i in range(11)]
        expected += ["%s.2.%d = INTEGER: %d" % (table, i, a)
                     for i, a in enumerate(BUILT_IN_ACTIONS)]
        expected += ['%s.%d.%d = ""' % (table, c, i) for c in (3, 4) for i in range(11)]
        self.assertEqual(h.walk_lines(out), expected)

    def test_get_of_a_column_the_group_lacks_is_no_such_name(self):
        code, out, err = self.run_tool("snmpget", E + ".2.3.0")
        text = out + err
        self.assertNotEqual(code, 0)
        self.assertIn("Error in packet", text)
        self.assertIn("noSuchName", text)
        self.assertIn("Failed object: " + E + ".2.3.0", text)

    def test_get_next_after_a_last_row_moves_to_the_next_column(self):
        code, out, err = self.run_tool("snmpgetnext", E + ".7.2.1.1.10")
        self.assertEqual(code, 0, err)
        self.assertEqual(out.strip(), E + ".7.2.1.2.0 = INTEGER: %d" % BUILT_IN_ACTIONS[0])

    def test_wrong_community_gets_no_answer_and_one_event(self):
        def decode_failures():
            return [e for e in self.agent.events() if "Failed to decode: " in e]

        before = len(decode_failures())
        code, out, err = self.run_tool("snmpget", E + ".2.1.0", community="public", retries=0)
        self.assertNotEqual(code, 0)
        self.assertIn("Timeout", out + err)
        # Frames are answered in order, so once a later request is answered the refused one has
        # been dealt with completely.
        code, out, err = self.run_tool("snmpget", E + ".2.1.0")
        self.assertEqual(code, 0, err)
        failures = decode_failures()
        self.assertEqual(len(failures) - before, 1, failures)
        self.assertEqual(failures[-1], "0x40060004 Failed to decode: wrong community")

    def test_two_managers_at_once_each_get_their_own_answers(self):
        table = E + ".7.2.1"
        plans = [
            [("%s.1.%d" % (table, i % 11), "INTEGER: %d" % (i % 11 + 1)) for i in range(20)],
            [("%s.2.%d" % (table, i % 11), "INTEGER: %d" % BUILT_IN_ACTIONS[i % 11])
             for i in range(20)],
        ]
        problems = []

        def manager(plan):
            for oid, value in plan:
                code, out, err = self.run_tool("snmpget", oid)
                if code != 0 or out.strip() != "%s = %s" % (oid, value):
                    problems.append((oid, code, out, err))

        threads = [threading.Thread(target=manager, args=(p,)) for p in plans]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(problems, [])


if __name__ == "__main__":
    unittest.main()
