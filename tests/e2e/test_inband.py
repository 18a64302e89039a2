"""koru-inband, the in-band agent's stand-in: the block it makes from TESSEL.INI, its show and
set commands, its readiness report to systemd, and the block outliving it."""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

CONTACT_KEYS = ["name", "OfficePhone", "OfficeAddr", "HomePhone", "HomeAddr", "Pager", "EMail"]
NUMBER_KEYS = ["MEMORY", "I/O BUS", "Volume Usage"] + ["UsedVol%d" % k for k in range(1, 27)]

INI = """; the stand-in reads only these two sections
[manager.1]
name=Grace Hopper
OfficePhone=+1 555 0100
OfficeAddr="Building 7, Room 12"
EMail=%s

[Threshold]
memory=85
I/O BUS=-1
UsedVol3=70
UsedVol26=4294967295
""" % ("e" * 70)


class InBandTest(unittest.TestCase):
    def setUp(self):
        self.windir = tempfile.mkdtemp(prefix="farlink-inband-")
        with open(os.path.join(self.windir, "TESSEL.INI"), "w") as f:
            f.write(INI)
        self.inband = h.InBand(self.windir)

    def tearDown(self):
        code = self.inband.stop()
        shutil.rmtree(self.windir, ignore_errors=True)
        self.assertEqual(code, 0, self.inband.errors())

    def test_block_is_filled_from_the_configuration(self):
        fields = self.inband.show()
        self.assertEqual(list(fields), CONTACT_KEYS + ["description"] + NUMBER_KEYS)
        self.assertEqual(fields["name"], "Grace Hopper")
        self.assertEqual(fields["OfficePhone"], "+1 555 0100")
        self.assertEqual(fields["OfficeAddr"], "Building 7, Room 12")
        # The e-mail field is 60 bytes: 59 characters and the terminator.
        self.assertEqual(fields["EMail"], "e" * 59)
        for key in ("HomePhone", "HomeAddr", "Pager", "description"):
            self.assertEqual(fields[key], "", key)
        self.assertEqual(fields["MEMORY"], "85")
        self.assertEqual(fields["I/O BUS"], "-1")
        self.assertEqual(fields["Volume Usage"], "0")
        self.assertEqual(fields["UsedVol3"], "70")
        self.assertEqual(fields["UsedVol26"], "-1")
        self.assertEqual(fields["UsedVol1"], "0")

    def test_set_changes_one_field_of_the_running_block(self):
        before = self.inband.show()
        self.inband.set("pager", "555-0199")
        self.inband.set("i/o bus", "4294967295")
        self.inband.set("UsedVol12", "-7")
        self.inband.set("description", "tab\there \\ end")
        after = self.inband.show()
        self.assertEqual(after["Pager"], "555-0199")
        self.assertEqual(after["I/O BUS"], "-1")
        self.assertEqual(after["UsedVol12"], "-7")
        self.assertEqual(after["description"], "tab\\x09here \\\\ end")
        changed = {k for k in after if after[k] != before[k]}
        self.assertEqual(changed, {"Pager", "UsedVol12", "description"})

    def test_long_text_is_cut_to_its_field(self):
        code, _, err = self.inband.run("set", "HomePhone", "9" * 50)
        self.assertEqual(code, 0, err)
        self.assertIn("39 characters", err)
        self.assertEqual(self.inband.show()["HomePhone"], "9" * 39)

    def test_bad_set_commands_change_nothing(self):
        before = self.inband.show()
        for args in (("set", "Fax", "1"), ("set", "MEMORY", "ten"), ("set", "MEMORY", "4294967296"),
                     ("set", "MEMORY", "-2147483649"), ("set", "MEMORY", ""),
                     ("set", "MEMORY", "+5"), ("set", "name"), ("bogus",)):
            code, _, err = self.inband.run(*args)
            self.assertEqual(code, 2, args)
            self.assertTrue(err, args)
        self.assertEqual(self.inband.show(), before)

    def test_the_block_outlives_the_program_until_removed(self):
        self.inband.set("Pager", "555-0123")
        self.assertEqual(self.inband.stop(keep_block=True), 0)
        # Still there for the out-of-band agent, which keeps serving it meanwhile.
        self.assertEqual(self.inband.show()["Pager"], "555-0123")
        self.inband.set("name", "Between Runs")
        # A new start takes the same block and fills it from the configuration again.
        self.inband = h.InBand(self.windir, self.inband.block_name)
        fields = self.inband.show()
        self.assertEqual(fields["name"], "Grace Hopper")
        self.assertEqual(fields["Pager"], "555-0123", "a field the file does not hold is kept")
        code, _, err = self.inband.run("remove")
        self.assertEqual(code, 0, err)
        code, _, err = self.inband.run("show")
        self.assertEqual(code, 1)
        self.assertIn(self.inband.block_name, err)
        code, _, _ = self.inband.run("set", "name", "x")
        self.assertEqual(code, 1)
        code, _, err = self.inband.run("remove")
        self.assertEqual(code, 1)
        self.assertIn("No such file or directory", err)


class InBandStartTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="farlink-inband-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_without_configuration_file_the_block_starts_empty(self):
        inband = h.InBand(self.dir)
        try:
            fields = inband.show()
            self.assertTrue(all(fields[k] in ("", "0") for k in fields), fields)
        finally:
            self.assertEqual(inband.stop(), 0)

    def test_readiness_is_reported_to_systemd(self):
        path = os.path.join(self.dir, "notify")
        with socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM) as listener:
            listener.bind(path)
            listener.settimeout(h.READY_SECONDS)
            block = h.unique_block_name()
            self.addCleanup(h.remove_block, block)
            env = dict(os.environ, WINDIR=self.dir, FARLINK_SHM_NAME=block, NOTIFY_SOCKET=path)
            proc = subprocess.Popen([h.inband_binary()], env=env, stdout=subprocess.PIPE,
                                    stdin=subprocess.DEVNULL)
            try:
                self.assertEqual(proc.stdout.readline(), b"ready\n")
                self.assertIn("READY=1", listener.recv(4096).decode().splitlines())
                proc.terminate()
                self.assertEqual(proc.wait(timeout=h.AGENT_STOP_SECONDS), 0)
                self.assertIn("STOPPING=1", listener.recv(4096).decode().splitlines())
            finally:
                if proc.poll() is None:
                    proc.kill()
                    proc.wait()
                proc.stdout.close()

    def test_help_and_usage(self):
        done = subprocess.run([h.inband_binary(), "--help"], capture_output=True, text=True,
                              timeout=30)
        self.assertEqual(done.returncode, 0)
        self.assertIn("koru-inband set FIELD VALUE", done.stdout)
        done = subprocess.run([h.inband_binary(), "show", "extra"], capture_output=True,
                              text=True, timeout=30)
        self.assertEqual(done.returncode, 2)
        self.assertIn("Usage", done.stderr)


if __name__ == "__main__":
    unittest.main()
