"""The MIB module mibs/FARLINK-MIB.txt in net-snmp's hands, against the sample machine.

Loaded with -M/-m, the tools take the module's names for input and print them for output. Every
group of the registry is walked with the module loaded: each object the agent answers must have
a name there, and a value of the type the module says (net-snmp prints "Wrong Type" otherwise)."""

import glob
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

MIBS = os.path.join(h.REPOSITORY, "mibs")


def base_modules():
    """Where SNMPv2-SMI, -TC and -CONF are: Debian ships them with Erlang's SNMP library."""
    dirs = [d for d in glob.glob("/usr/lib/erlang/lib/snmp-*/mibs")
            if os.path.exists(os.path.join(d, "SNMPv2-SMI.mib"))]
    if not dirs:
        raise RuntimeError("SNMPv2-SMI is missing: scripts/install-deps.sh installs erlang-snmp")
    return sorted(dirs)[-1]


MIB_OPTIONS = ["-M", "+%s:%s" % (MIBS, base_modules()), "-m", "FARLINK-MIB"]


def tool(name, *args):
    done = subprocess.run([name, *MIB_OPTIONS, *args], capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout, done.stderr


class MibModuleTest(h.StackTest):

    def walk(self, start):
        code, out, err = tool("snmpwalk", "-v1", "-c", "kestrl", "-r", "0", "-t", "5",
                              "127.0.0.1:%d" % self.port, start)
        self.assertEqual((code, err), (0, ""), start)
        return h.walk_lines(out)

    def test_walk_by_entry_name_prints_the_names(self):
        # A walk starts at a table's Entry: the Table node itself has the shape of a column of
        # the scalar group above it, which answers the walk's first step.
        lines = self.walk("farlinkDiskEntry")
        self.assertEqual(len(lines), 16 * 4, lines)
        self.assertIn("FARLINK-MIB::farlinkDiskProduct.0 = STRING: QD8400A IDE DISK", lines)
        # UNITS are printed after the value; 3 TiB does not fit the signed 32 bits.
        self.assertIn("FARLINK-MIB::farlinkDiskSizeKB.2 = INTEGER: -1073742016 KB", lines)
        self.assertIn("FARLINK-MIB::farlinkDiskBusType.0 = STRING: IDE", lines)

    def test_every_answered_object_has_a_name_and_the_type_the_module_gives(self):
        for suffix in h.registry_group_suffixes():
            oid = "." + h.ENTERPRISE + "".join(".%d" % s for s in suffix)
            for line in self.walk(oid):
                with self.subTest(oid=oid, line=line):
                    self.assertTrue(line.startswith("FARLINK-MIB::farlink"))
                    self.assertNotIn("Wrong Type", line)

    def test_names_translate_to_the_registry_oids(self):
        names = {"farlinkDiskSizeKB": "1.5.1.7", "farlinkContactEmail": "4.18.1.7",
                 "farlinkGenTxOkLimit": "2.5.2.1.1", "farlinkSystemUptime": "4.17",
                 "farlinkDmiProcCurrentSpeed": "4.55.52.1.10", "farlinkVoltageHigh": "5.4.13.1.4",
                 "farlinkEventActionInstance": "7.2.1.32766"}
        code, out, err = tool("snmptranslate", "-On", *("FARLINK-MIB::" + n for n in names))
        self.assertEqual((code, err), (0, ""))
        self.assertEqual(out.split(), ["." + h.ENTERPRISE + "." + o for o in names.values()])
        # Every group OID of the registry is a node of the module.
        groups = [h.ENTERPRISE + "".join(".%d" % s for s in g) for g in h.registry_group_suffixes()]
        code, out, err = tool("snmptranslate", "-Os", *groups)
        self.assertEqual((code, err), (0, ""))
        self.assertEqual(len(out.split()), len(groups))
        self.assertTrue(all(name.startswith("farlink") for name in out.split()), out)


if __name__ == "__main__":
    unittest.main()
