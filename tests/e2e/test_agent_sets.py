"""SetRequests through the whole chain, checked by reading the values back."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

TABLE = "." + h.ENTERPRISE + ".7.2.1"


class AgentSetsTest(h.StackTest):

    def get(self, oid):
        code, out, err = h.snmp("snmpget", self.port, oid)
        self.assertEqual(code, 0, err)
        return out.strip()

    def test_action_set_is_read_back(self):
        oid = TABLE + ".2.3"
        code, out, err = h.snmp("snmpset", self.port, oid, "i", "12345")
        self.assertEqual(code, 0, err)
        self.assertEqual(out.strip(), oid + " = INTEGER: 12345")
        self.assertEqual(self.get(oid), oid + " = INTEGER: 12345")

    def test_program_set_is_read_back_and_cut_to_what_a_binding_carries(self):
        oid = TABLE + ".3.0"
        code, out, err = h.snmp("snmpset", self.port, oid, "s", "run.cmd")
        self.assertEqual(code, 0, err)
        self.assertEqual(out.strip(), oid + ' = STRING: "run.cmd"')
        self.assertEqual(self.get(oid), oid + ' = STRING: "run.cmd"')

        # A binding carries at most 80 value bytes: a longer text keeps its first 80, which fit
        # the 119-character Program field.
        code, out, err = h.snmp("snmpset", self.port, oid, "s", "p" * 130)
        self.assertEqual(code, 0, err)
        self.assertEqual(self.get(oid), oid + ' = STRING: "' + "p" * 80 + '"')

    def test_pager_longer_than_its_field_is_refused_and_kept(self):
        oid = TABLE + ".4.5"
        code, out, err = h.snmp("snmpset", self.port, oid, "s", "555-0100")
        self.assertEqual(code, 0, err)
        code, out, err = h.snmp("snmpset", self.port, oid, "s", "9" * 40)
        self.assertNotEqual(code, 0)
        self.assertIn("badValue", out + err)
        self.assertEqual(self.get(oid), oid + ' = STRING: "555-0100"')

if __name__ == "__main__":
    unittest.main()
