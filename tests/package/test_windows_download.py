"""The Windows downloads built by CPack. The zip, unpacked: it holds the two programs and the
German read-me at its top and nothing else, the programs import no DLL beyond Windows' own
(the C++ runtime is linked in), and the unpacked kopiensieb-headless.exe runs a script. The
installer (NSIS), unpacked with 7-Zip: it carries the same files and an uninstaller, and its
script makes the start-menu entries and takes them away again. (Its stub is a 32-bit program,
which the 64-bit Wine here does not run, so it is not run.)

Environment: KOPIENSIEB_BUILD_DIR (a configured and built Windows build folder),
KOPIENSIEB_CPACK (its cpack), KOPIENSIEB_OBJDUMP (the cross toolchain's objdump),
KOPIENSIEB_EMULATOR (what runs a Windows program here: Wine)."""

import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest
import zipfile

PROGRAMS = ["kopiensieb.exe", "kopiensieb-headless.exe"]
README = "LIESMICH.txt"
# DLLs every Windows 10 has in its system folder.
WINDOWS_DLLS = {
    "advapi32.dll", "bcrypt.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll",
    "msvcrt.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "uxtheme.dll", "version.dll", "ws2_32.dll",
}


def build_package(generator, out):
    """Runs cpack for one generator into out; the path of the one package it made."""
    build = os.environ["KOPIENSIEB_BUILD_DIR"]
    subprocess.run([os.environ["KOPIENSIEB_CPACK"], "-G", generator, "-B", out, "--config",
                    os.path.join(build, "CPackConfig.cmake")],
                   check=True, capture_output=True, text=True)
    suffix = ".zip" if generator == "ZIP" else ".exe"
    made = [name for name in os.listdir(out) if name.endswith(suffix)]
    if len(made) != 1:
        raise RuntimeError(f"cpack made {made!r}, not one {suffix} package")
    return os.path.join(out, made[0])


def imported_dlls(objdump, program):
    dump = subprocess.run([objdump, "-p", program], check=True, capture_output=True, text=True)
    return {name.lower() for name in re.findall(r"^\s*DLL Name: (\S+)$", dump.stdout, re.M)}


class WindowsZipTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls._scratch = tempfile.TemporaryDirectory(prefix="kopiensieb-zip-")
        scratch = cls._scratch.name
        package = build_package("ZIP", os.path.join(scratch, "out"))
        with zipfile.ZipFile(package) as archive:
            cls.names = archive.namelist()
            cls.root = os.path.join(scratch, "root")
            archive.extractall(cls.root)

    @classmethod
    def tearDownClass(cls):
        cls._scratch.cleanup()

    def top(self):
        """The archive's one top folder, named after the package and its version."""
        folders = {name.split("/", 1)[0] for name in self.names}
        self.assertEqual(len(folders), 1, self.names)
        return folders.pop()

    def test_holds_the_programs_and_the_readme_and_nothing_else(self):
        top = self.top()
        self.assertRegex(top, r"^kopiensieb-\d+\.\d+(\.\d+)*-win64$")
        files = sorted(name.split("/", 1)[1] for name in self.names if not name.endswith("/"))
        self.assertEqual(files, sorted(PROGRAMS + [README]))

    def test_the_readme_is_german_and_names_the_programs(self):
        with open(os.path.join(self.root, self.top(), README), "rb") as readme:
            text = readme.read()
        # Every line ends in CR LF, as Windows editors expect.
        self.assertNotIn(b"\n", text.replace(b"\r\n", b""))
        body = text.decode("utf-8")
        for words in PROGRAMS + ["Pfad hinzufügen", "Doppelte Dateien suchen", "ToDelete-Liste"]:
            self.assertIn(words, body)
        self.assertNotIn("@", body, "a placeholder was left unfilled")

    def test_programs_need_no_dll_beyond_windows_own(self):
        for program in PROGRAMS:
            path = os.path.join(self.root, self.top(), program)
            dlls = imported_dlls(os.environ["KOPIENSIEB_OBJDUMP"], path)
            self.assertIn("kernel32.dll", dlls, program)
            self.assertEqual(dlls - WINDOWS_DLLS, set(), program)

    def test_unpacked_headless_program_runs_a_script(self):
        program = os.path.join(self.root, self.top(), "kopiensieb-headless.exe")
        done = subprocess.run([os.environ["KOPIENSIEB_EMULATOR"], program],
                              input=b"dump\n", capture_output=True, timeout=120, check=False)
        self.assertEqual(done.returncode, 0, done.stderr.decode("utf-8", "replace"))
        lines = [json.loads(line) for line in done.stdout.decode("utf-8").splitlines() if line]
        self.assertEqual(len(lines), 2)
        self.assertEqual(lines[0]["windows"][0]["title"], "Kopiensieb")
        self.assertTrue(lines[-1]["ended"])


class WindowsInstallerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        missing = [tool for tool in ("makensis", "7z") if shutil.which(tool) is None]
        if missing:
            raise RuntimeError(f"missing tools (scripts/install-deps.sh installs them): {missing}")
        cls._scratch = tempfile.TemporaryDirectory(prefix="kopiensieb-nsis-")
        out = os.path.join(cls._scratch.name, "out")
        cls.installer = build_package("NSIS", out)
        cls.root = os.path.join(cls._scratch.name, "root")
        subprocess.run(["7z", "x", f"-o{cls.root}", cls.installer],
                       check=True, capture_output=True, text=True)
        scripts = []
        for folder, _, names in os.walk(os.path.join(out, "_CPack_Packages")):
            scripts += [os.path.join(folder, name) for name in names if name == "project.nsi"]
        if len(scripts) != 1:
            raise RuntimeError(f"no single installer script: {scripts!r}")
        with open(scripts[0], encoding="utf-8", errors="replace") as script:
            cls.script = script.read()

    @classmethod
    def tearDownClass(cls):
        cls._scratch.cleanup()

    def test_is_a_windows_program_carrying_the_files_and_an_uninstaller(self):
        with open(self.installer, "rb") as installer:
            self.assertEqual(installer.read(2), b"MZ")
        files = sorted(name for name in os.listdir(self.root) if not name.startswith("$"))
        self.assertEqual(files, sorted(PROGRAMS + [README, "Uninstall.exe"]))
        for program in PROGRAMS:
            self.assertEqual(imported_dlls(os.environ["KOPIENSIEB_OBJDUMP"],
                                           os.path.join(self.root, program)) - WINDOWS_DLLS,
                             set(), program)

    def test_installs_into_the_programs_folder_with_start_menu_entries(self):
        self.assertIn('InstallDir "$PROGRAMFILES64\\Kopiensieb"', self.script)
        self.assertIn('WriteUninstaller "$INSTDIR\\Uninstall.exe"', self.script)
        for link, target in (("Kopiensieb", "kopiensieb.exe"), ("Liesmich", "LIESMICH.txt")):
            made = re.search(r'CreateShortCut "\$SMPROGRAMS\\\$STARTMENU_FOLDER\\'
                             + link + r'\.lnk" "\$INSTDIR\\(\.\\)?' + re.escape(target) + '"',
                             self.script)
            self.assertIsNotNone(made, link)
            # The uninstaller takes the entry away again.
            self.assertIn(f'Delete "$SMPROGRAMS\\$MUI_TEMP\\{link}.lnk"', self.script)


if __name__ == "__main__":
    unittest.main()
