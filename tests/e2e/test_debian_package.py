"""scripts/package.sh on the tree under test: the .deb's files, modes, conffiles and control
data, its manual pages rendered without a warning, lintian without an error, and an install and
purge with dpkg into a scratch root that leaves nothing of the package behind."""

import glob
import gzip
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness as h  # noqa: E402
from test_packaging import build_directory, cache_value, unit_settings  # noqa: E402

PACKAGE_SCRIPT = os.path.join(h.REPOSITORY, "scripts", "package.sh")
CONFFILES = ["/etc/farlink/MODEL.KORU", "/etc/farlink/TESSEL.INI"]
UNITS = ["farlink.service", "koru-inband.service"]


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, text=True, timeout=300, **kwargs)


def files_under(top):
    """Every file and link below top, as paths relative to it."""
    found = set()
    for directory, _, names in os.walk(top):
        for name in names:
            found.add(os.path.relpath(os.path.join(directory, name), top))
    return found


class DebianPackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if shutil.which("dpkg-deb") is None or shutil.which("dpkg-shlibdeps") is None:
            raise unittest.SkipTest("dpkg-deb and dpkg-shlibdeps (dpkg-dev) are not installed")
        cls.build = build_directory()
        if cache_value(cls.build, "FARLINK_SANITIZE"):
            raise unittest.SkipTest("a sanitizer build is no package to ship")
        cls.scratch = tempfile.mkdtemp(prefix="farlink-deb-test-")
        # The tree is built already: the package is made from what it holds.
        done = run([PACKAGE_SCRIPT, "--no-build", cls.build])
        if done.returncode != 0:
            shutil.rmtree(cls.scratch, ignore_errors=True)
            raise AssertionError("package.sh failed:\n" + done.stdout + done.stderr)
        cls.deb = done.stdout.strip().splitlines()[-1]
        cls.root = os.path.join(cls.scratch, "extracted")
        cls.control = os.path.join(cls.scratch, "control")
        for command in (["dpkg-deb", "-x", cls.deb, cls.root],
                        ["dpkg-deb", "-e", cls.deb, cls.control]):
            done = run(command)
            if done.returncode != 0:
                shutil.rmtree(cls.scratch, ignore_errors=True)
                raise AssertionError(" ".join(command) + " failed:\n" + done.stderr)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)
        if os.path.exists(cls.deb):
            os.remove(cls.deb)

    def packaged(self, path):
        return os.path.join(self.root, path.lstrip("/"))

    def control_fields(self):
        fields = {}
        with open(os.path.join(self.control, "control")) as f:
            for line in f:
                if line[:1] not in (" ", "\t") and ":" in line:
                    key, value = line.split(":", 1)
                    fields[key] = value.strip()
        return fields

    def test_programs_units_configuration_and_control_data(self):
        for program in ("farlink", "farlink-bridge", "koru-inband"):
            path = self.packaged("/usr/bin/" + program)
            self.assertEqual(stat.S_IMODE(os.lstat(path).st_mode), 0o755, program)
        for unit, program in zip(UNITS, ("farlink", "koru-inband")):
            settings = unit_settings(self.packaged("/lib/systemd/system/" + unit))
            self.assertEqual(settings["ExecStart"], ["/usr/bin/" + program], unit)
            self.assertEqual(settings["Environment"], ["WINDIR=/etc/farlink"], unit)
            for link in settings["Documentation"]:
                self.assertTrue(link.startswith("file://"), link)
                self.assertTrue(os.path.isfile(self.packaged(link[len("file://"):])), link)

        # The configuration: the samples as conffiles, the one with the password for root only.
        with open(os.path.join(self.control, "conffiles")) as f:
            self.assertEqual(sorted(f.read().split()), CONFFILES)
        ini = self.packaged("/etc/farlink/TESSEL.INI")
        self.assertEqual(stat.S_IMODE(os.stat(ini).st_mode), 0o600)
        with open(ini) as packaged, open(os.path.join(h.REPOSITORY, "packaging",
                                                      "TESSEL.INI")) as sample:
            self.assertEqual(packaged.read(), sample.read())
        self.assertIn(h.SAMPLE_PRODUCT.lower(), h.read_ini(self.packaged("/etc/farlink/MODEL.KORU")))

        # Whatever MIB modules the source holds go where net-snmp's tools look for them.
        for mib in glob.glob(os.path.join(h.REPOSITORY, "mibs", "*.txt")):
            self.assertTrue(os.path.isfile(
                self.packaged("/usr/share/snmp/mibs/" + os.path.basename(mib))), mib)

        doc = "/usr/share/doc/farlink/"
        self.assertTrue(os.path.isfile(self.packaged(doc + "copyright")))
        with gzip.open(self.packaged(doc + "changelog.Debian.gz"), "rt") as f:
            first = f.readline()
        fields = self.control_fields()
        self.assertEqual(first.split()[1], "(%s)" % fields["Version"])
        self.assertEqual(fields["Package"], "farlink")
        self.assertTrue(os.path.basename(self.deb).startswith(
            "farlink_%s_%s" % (fields["Version"], fields["Architecture"])))
        self.assertIn("libc6", fields["Depends"])

        for script in ("postinst", "prerm", "postrm"):
            path = os.path.join(self.control, script)
            self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o755, script)
            done = run(["sh", "-n", path])
            self.assertEqual(done.returncode, 0, script + ": " + done.stderr)

    def test_every_manual_page_renders_without_a_warning(self):
        sources = sorted(glob.glob(os.path.join(h.REPOSITORY, "man", "*.scd")))
        self.assertTrue(sources)
        if cache_value(self.build, "SCDOC").endswith("NOTFOUND"):
            self.skipTest("scdoc is not installed: the build made no manual pages")
        if shutil.which("man") is None:
            self.skipTest("man (man-db) is not installed")
        for source in sources:
            page = os.path.basename(source)[:-len(".scd")]
            section = page.rsplit(".", 1)[1]
            path = self.packaged("/usr/share/man/man%s/%s.gz" % (section, page))
            with gzip.open(path) as f:
                f.read()  # compressed whole, or this raises
            env = dict(os.environ, MANWIDTH="80")
            env.pop("MAN_KEEP_FORMATTING", None)  # plain text, whatever the caller prefers
            done = run(["man", "--warnings=all", "-l", path], env=env)
            self.assertEqual(done.returncode, 0, page + ": " + done.stderr)
            self.assertEqual(done.stderr, "", page)
            self.assertIn("NAME", done.stdout, page)
            self.assertIn("SEE ALSO", done.stdout, page)

    def test_lintian_finds_no_error(self):
        if shutil.which("lintian") is None:
            self.skipTest("lintian is not installed")
        done = run(["lintian", "--tag-display-limit", "0", self.deb])
        errors = [line for line in done.stdout.splitlines() if line.startswith("E:")]
        self.assertEqual(errors, [], done.stdout + done.stderr)

    def test_install_then_purge_into_a_scratch_root(self):
        if os.geteuid() != 0:
            self.skipTest("dpkg installs as root only")
        target = os.path.join(self.scratch, "target")
        admin = os.path.join(target, "var", "lib", "dpkg")
        for sub in ("info", "updates"):
            os.makedirs(os.path.join(admin, sub))
        for name in ("status", "available"):
            open(os.path.join(admin, name), "w").close()
        # The root has no libraries in its database; the maintainer scripts run here, with
        # DPKG_ROOT naming the root, so nothing is started on this machine.
        dpkg = ["dpkg", "--root=" + target, "--force-script-chrootless", "--force-depends",
                "--force-not-root"]
        done = run(dpkg + ["--install", self.deb])
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        for unit in UNITS:
            self.assertTrue(os.path.islink(os.path.join(
                target, "etc/systemd/system/multi-user.target.wants", unit)), unit)
        ini = os.path.join(target, "etc/farlink/TESSEL.INI")
        self.assertEqual(stat.S_IMODE(os.stat(ini).st_mode), 0o600)

        # What the agent leaves behind goes with the purge; an administrator's own file stays.
        with open(os.path.join(target, "etc/farlink/.TESSEL.INI.a1B2c3"), "w") as f:
            f.write("password=left by a rewrite cut short\n")
        with open(ini, "a") as f:
            f.write("; changed by the administrator\n")
        with open(os.path.join(target, "etc/farlink/NOTES"), "w") as f:
            f.write("not the package's\n")
        done = run(dpkg + ["--purge", "farlink"])
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        left = {path for path in files_under(target) if not path.startswith("var/lib/dpkg/")}
        self.assertEqual(left, {"etc/farlink/NOTES"})


if __name__ == "__main__":
    unittest.main()
