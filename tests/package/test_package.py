"""The .deb built by CPack, unpacked into a scratch root: the programs and the desktop files
lie where a desktop looks for them, the desktop entry and the AppStream data pass their
validators, the declared dependencies cover every library the programs link, and the
installed programs run. `cmake --install` into a prefix installs the same files.

Environment: KOPIENSIEB_BUILD_DIR (a configured and built build folder), KOPIENSIEB_CPACK and
KOPIENSIEB_CMAKE (the cpack and cmake of that build)."""

import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

APP_ID = "de.kopiensieb.Kopiensieb"
ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
TOOLS = ["dpkg-deb", "dpkg", "desktop-file-validate", "appstreamcli", "readelf", "ldd"]


def run(*command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, text=True, **kwargs)


def png_size(path):
    with open(path, "rb") as png:
        header = png.read(24)
    if header[:8] != b"\x89PNG\r\n\x1a\n" or header[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", header[16:24])


def desktop_entry(path):
    entry = {}
    with open(path, encoding="utf-8") as desktop:
        for line in desktop:
            key, sep, value = line.rstrip("\n").partition("=")
            if sep:
                entry[key] = value
    return entry


def relative_files(root):
    found = set()
    for folder, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


def owning_packages(library):
    """The Debian packages that own a library file, by the path the loader found it at."""
    candidates = [library, os.path.realpath(library)]
    for path in list(candidates):
        # Debian 12 merged /lib into /usr/lib, but dpkg knows each file by one of the two.
        if path.startswith("/usr/lib/"):
            candidates.append(path[len("/usr"):])
        elif path.startswith("/lib/"):
            candidates.append("/usr" + path)
    for path in candidates:
        result = subprocess.run(["dpkg", "-S", path], capture_output=True, text=True)
        if result.returncode == 0:
            # "libqt6core6:amd64: /usr/lib/...", or several owners separated by commas.
            owners = result.stdout.splitlines()[0].split(": ", 1)[0]
            return {owner.split(":")[0].strip() for owner in owners.split(",")}
    return set()


def dependency_names(depends):
    """Package names of a Depends field, alternatives included."""
    names = set()
    for clause in depends.split(","):
        for alternative in clause.split("|"):
            name = re.match(r"\s*([a-z0-9][a-z0-9+.-]*)", alternative)
            if name:
                names.add(name.group(1))
    return names


class PackageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        missing = [tool for tool in TOOLS if shutil.which(tool) is None]
        if missing:
            raise RuntimeError("missing tools (scripts/install-deps.sh installs them): "
                               + " ".join(missing))
        cls.build = os.environ["KOPIENSIEB_BUILD_DIR"]
        cls.scratch = tempfile.mkdtemp(prefix="kopiensieb-package-")
        run(os.environ["KOPIENSIEB_CPACK"], "-G", "DEB", "-B",
            os.path.join(cls.scratch, "out"), "--config",
            os.path.join(cls.build, "CPackConfig.cmake"))
        debs = [name for name in os.listdir(os.path.join(cls.scratch, "out"))
                if name.endswith(".deb")]
        if len(debs) != 1:
            raise RuntimeError("cpack made %r, not one .deb" % debs)
        cls.deb = os.path.join(cls.scratch, "out", debs[0])
        cls.root = os.path.join(cls.scratch, "root")
        run("dpkg-deb", "-x", cls.deb, cls.root)
        cls.usr = os.path.join(cls.root, "usr")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def field(self, name):
        return run("dpkg-deb", "-f", self.deb, name).stdout.strip()

    def test_control_data(self):
        self.assertEqual(self.field("Package"), "kopiensieb")
        self.assertEqual(self.field("Architecture"),
                         run("dpkg", "--print-architecture").stdout.strip())
        self.assertTrue(self.field("Maintainer"))
        self.assertTrue(self.field("Description"))
        depends = dependency_names(self.field("Depends"))
        for package in ["libqt6widgets6", "libqt6gui6", "libqt6core6", "libc6", "libstdc++6",
                        "qt6-qpa-plugins", "qt6-translations-l10n"]:
            with self.subTest(package=package):
                self.assertIn(package, depends)

    def test_files_lie_where_the_desktop_looks(self):
        for program in ["kopiensieb", "kopiensieb-headless", "kopiensieb-find"]:
            with self.subTest(program=program):
                path = os.path.join(self.usr, "bin", program)
                self.assertTrue(os.path.isfile(path))
                self.assertTrue(os.access(path, os.X_OK))
        desktop = os.path.join(self.usr, "share/applications", APP_ID + ".desktop")
        entry = desktop_entry(desktop)
        self.assertEqual(entry["Exec"].split()[0], "kopiensieb")
        self.assertTrue(os.path.isfile(os.path.join(self.usr, "bin", entry["Exec"].split()[0])))
        icon = entry["Icon"]
        icons = os.path.join(self.usr, "share/icons/hicolor")
        with open(os.path.join(icons, "scalable/apps", icon + ".svg"), encoding="utf-8") as svg:
            self.assertIn("<svg", svg.read())
        for size in ICON_SIZES:
            with self.subTest(size=size):
                png = os.path.join(icons, "%dx%d/apps" % (size, size), icon + ".png")
                self.assertEqual(png_size(png), (size, size))
        metainfo = os.path.join(self.usr, "share/metainfo", APP_ID + ".metainfo.xml")
        with open(metainfo, encoding="utf-8") as xml:
            text = xml.read()
        self.assertIn("<id>%s</id>" % APP_ID, text)
        self.assertIn('<launchable type="desktop-id">%s.desktop</launchable>' % APP_ID, text)

    def test_desktop_entry_is_german_and_valid(self):
        desktop = os.path.join(self.usr, "share/applications", APP_ID + ".desktop")
        result = subprocess.run(["desktop-file-validate", desktop], capture_output=True,
                                text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        # Errors and warnings fail the entry; hints only suggest.
        self.assertNotRegex(result.stdout, r"(error|warning):")
        entry = desktop_entry(desktop)
        self.assertEqual(entry["Name"], "Kopiensieb")
        self.assertEqual(entry["Comment"],
                         "Doppelte Dateien finden und überzählige Kopien löschen")
        self.assertIn("Utility", entry["Categories"].split(";"))

    def test_metainfo_is_valid(self):
        metainfo = os.path.join(self.usr, "share/metainfo", APP_ID + ".metainfo.xml")
        result = subprocess.run(["appstreamcli", "validate", "--no-net", metainfo],
                                capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_dependencies_cover_every_linked_library(self):
        depends = dependency_names(self.field("Depends"))
        for program in ["kopiensieb", "kopiensieb-headless", "kopiensieb-find"]:
            path = os.path.join(self.usr, "bin", program)
            needed = re.findall(r"\(NEEDED\)\s+Shared library: \[([^\]]+)\]",
                                run("readelf", "-d", path).stdout)
            self.assertTrue(needed)
            found = dict(re.findall(r"^\s*(\S+) => (/\S+)", run("ldd", path).stdout, re.M))
            for library in needed:
                with self.subTest(program=program, library=library):
                    self.assertIn(library, found)
                    owners = owning_packages(found[library])
                    self.assertTrue(owners, "no package owns " + found[library])
                    self.assertTrue(owners & depends,
                                    "%s (%s) is not declared" % (library, sorted(owners)))

    def test_installed_headless_program_runs(self):
        program = os.path.join(self.usr, "bin", "kopiensieb-headless")
        result = subprocess.run([program], input="dump\n", capture_output=True, text=True,
                                timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stdout.strip().splitlines()
        self.assertEqual(len(lines), 2)
        self.assertIn('"title":"Kopiensieb"', lines[0].replace(" ", ""))
        self.assertIn('"ended":true', lines[-1].replace(" ", ""))

    @unittest.skipUnless(os.geteuid() == 0, "dpkg checks an installation only as root")
    def test_dependencies_are_met_on_this_system(self):
        # A dry run: dpkg checks the package and its dependencies without installing it.
        result = subprocess.run(["dpkg", "--dry-run", "-i", self.deb], capture_output=True,
                                text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_cmake_install_installs_the_same_files(self):
        prefix = os.path.join(self.scratch, "prefix")
        run(os.environ["KOPIENSIEB_CMAKE"], "--install", self.build, "--prefix", prefix)
        self.assertEqual(relative_files(prefix), relative_files(self.usr))


if __name__ == "__main__":
    unittest.main()
