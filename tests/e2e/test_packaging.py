"""`cmake --install` into a staging directory: the programs, the systemd units and the sample
configuration, which a second install must not overwrite; the units pass systemd-analyze."""

import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402

PROGRAMS = ["farlink", "farlink-bridge", "koru-inband"]
UNITS = ["farlink.service", "koru-inband.service"]


def build_directory():
    """The build tree of the programs under test (the agent lies at its top)."""
    return os.path.dirname(os.path.abspath(h.agent_binary()))


def cache_value(build, name):
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            match = re.match(r"%s:[A-Z]+=(.*)$" % re.escape(name), line.strip())
            if match:
                return match.group(1)
    raise KeyError(name)


def unit_settings(path):
    """{key: [values]} of a unit file, comments left out."""
    settings = {}
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith(("#", ";", "[")) and "=" in line:
                key, value = line.split("=", 1)
                settings.setdefault(key, []).append(value)
    return settings


class PackagingTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.build = build_directory()
        cls.prefix = cache_value(cls.build, "CMAKE_INSTALL_PREFIX")
        cls.confdir = cache_value(cls.build, "FARLINK_CONFDIR")
        unitdir = cache_value(cls.build, "FARLINK_SYSTEMD_UNITDIR")
        cls.unitdir = unitdir if os.path.isabs(unitdir) else os.path.join(cls.prefix, unitdir)
        cls.stage = tempfile.mkdtemp(prefix="farlink-install-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.stage, ignore_errors=True)

    def staged(self, path):
        return os.path.join(self.stage, path.lstrip("/"))

    def install(self):
        done = subprocess.run(["cmake", "--install", self.build], capture_output=True, text=True,
                              env=dict(os.environ, DESTDIR=self.stage), timeout=120)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        return done.stdout

    def analyzable_units(self):
        """systemd-analyze and the installed units, which name the staged programs: verify
        insists that ExecStart names an executable."""
        analyze = shutil.which("systemd-analyze")
        if analyze is None:
            self.skipTest("systemd-analyze is not installed")
        self.install()
        bindir = os.path.join(self.prefix, "bin")
        checked = tempfile.mkdtemp(prefix="farlink-units-", dir=self.stage)
        paths = []
        for unit in UNITS:
            with open(self.staged(os.path.join(self.unitdir, unit))) as f:
                text = f.read()
            with open(os.path.join(checked, unit), "w") as f:
                f.write(text.replace("ExecStart=" + bindir, "ExecStart=" + self.staged(bindir)))
            paths.append(os.path.join(checked, unit))
        return analyze, paths

    def test_install_then_reinstall_keeps_the_configuration(self):
        self.install()
        for program in PROGRAMS:
            path = self.staged(os.path.join(self.prefix, "bin", program))
            self.assertTrue(os.access(path, os.X_OK), path)

        ini = self.staged(os.path.join(self.confdir, "TESSEL.INI"))
        model = self.staged(os.path.join(self.confdir, "MODEL.KORU"))
        with open(ini) as installed, open(os.path.join(h.REPOSITORY, "packaging",
                                                       "TESSEL.INI")) as sample:
            self.assertEqual(installed.read(), sample.read())
        # The file holds the password and the SET keyword.
        self.assertEqual(stat.S_IMODE(os.stat(ini).st_mode), 0o600)
        sections = h.read_ini(ini)
        self.assertEqual(sections["environment"]["driver"], h.SAMPLE_PRODUCT)
        for section in ("serial port parameters.1", "threshold", "nic threshold", "event.1",
                        "manager.1"):
            self.assertIn(section, sections)
        self.assertIn(h.SAMPLE_PRODUCT.lower(), h.read_ini(model))

        # An administrator's changes survive the next install; a removed file comes back.
        with open(ini, "a") as f:
            f.write("; changed by the administrator\n")
        with open(ini) as f:
            changed = f.read()
        os.remove(model)
        out = self.install()
        with open(ini) as f:
            self.assertEqual(f.read(), changed)
        self.assertIn("Keeping: " + ini, out)
        self.assertTrue(os.path.exists(model))

    def test_units_name_the_installed_programs_and_pass_verification(self):
        self.install()
        bindir = os.path.join(self.prefix, "bin")
        for unit, program in zip(UNITS, ["farlink", "koru-inband"]):
            settings = unit_settings(self.staged(os.path.join(self.unitdir, unit)))
            self.assertEqual(settings["Type"], ["notify"], unit)
            self.assertEqual(settings["Environment"], ["WINDIR=" + self.confdir], unit)
            self.assertEqual(settings["ExecStart"], [os.path.join(bindir, program)], unit)
            self.assertEqual(settings["StandardOutput"], ["null"], unit)
            self.assertEqual(settings["Restart"], ["on-failure"], unit)
            # Restarts are bounded: the burst of failed starts fits well within the interval, so
            # a start that fails at once every time ends in the failed state.
            burst = int(settings["StartLimitBurst"][0])
            interval = int(settings["StartLimitIntervalSec"][0])
            restart_delay = int(settings["RestartSec"][0])
            self.assertGreater(burst, 1, unit)
            self.assertLess(burst * restart_delay, interval, unit)
            self.assertTrue(settings["Documentation"], unit)
        farlink = unit_settings(self.staged(os.path.join(self.unitdir, "farlink.service")))
        self.assertEqual(farlink["Wants"], ["koru-inband.service"])
        self.assertEqual(farlink["After"], ["koru-inband.service"])
        self.assertEqual(farlink["SupplementaryGroups"], ["dialout"])

        analyze, paths = self.analyzable_units()
        done = subprocess.run([analyze, "verify", "--man=no", *paths], capture_output=True,
                              text=True, timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr)
        # Unknown keys and bad values are only warnings: none may name our units.
        complaints = [line for line in done.stderr.splitlines()
                      if any(unit in line for unit in UNITS)]
        self.assertEqual(complaints, [])

    def test_units_are_sandboxed(self):
        # farlink keeps what the serial lines, the resource map and the write-back need, and
        # koru-inband needs next to nothing: a score above these means a setting was lost.
        limits = {"farlink.service": 4.0, "koru-inband.service": 2.0}
        analyze, paths = self.analyzable_units()
        # The file system is read-only to the agent but for the directory it rewrites
        # TESSEL.INI in (when that exists).
        farlink = unit_settings(paths[0])
        self.assertEqual(farlink["ProtectSystem"], ["strict"])
        self.assertEqual(farlink["ReadWritePaths"], ["-" + self.confdir])
        for path in paths:
            unit = os.path.basename(path)
            done = subprocess.run([analyze, "security", "--offline=true", "--no-pager", path],
                                  capture_output=True, text=True, timeout=120)
            if "offline" in done.stderr and done.returncode != 0:
                self.skipTest("systemd-analyze cannot judge a unit file offline: " + done.stderr)
            match = re.search(r"Overall exposure level for %s: (\d+\.\d+)" % re.escape(unit),
                              done.stdout)
            self.assertIsNotNone(match, done.stdout + done.stderr)
            self.assertLessEqual(float(match.group(1)), limits[unit], done.stdout)


if __name__ == "__main__":
    unittest.main()
