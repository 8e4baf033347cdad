"""The Windows download built by CPack, unpacked: it holds the two programs and the German
read-me at its top and nothing else, the programs import no DLL beyond Windows' own (the C++
runtime is linked in), and the unpacked kopiensieb-headless.exe runs a script.

Environment: KOPIENSIEB_BUILD_DIR (a configured and built Windows build folder),
KOPIENSIEB_CPACK (its cpack), KOPIENSIEB_OBJDUMP (the cross toolchain's objdump),
KOPIENSIEB_EMULATOR (what runs a Windows program here: Wine)."""

import json
import os
import re
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


def imported_dlls(objdump, program):
    dump = subprocess.run([objdump, "-p", program], check=True, capture_output=True, text=True)
    return {name.lower() for name in re.findall(r"^\s*DLL Name: (\S+)$", dump.stdout, re.M)}


class WindowsZipTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls._scratch = tempfile.TemporaryDirectory(prefix="kopiensieb-zip-")
        scratch = cls._scratch.name
        build = os.environ["KOPIENSIEB_BUILD_DIR"]
        out = os.path.join(scratch, "out")
        subprocess.run([os.environ["KOPIENSIEB_CPACK"], "-G", "ZIP", "-B", out, "--config",
                        os.path.join(build, "CPackConfig.cmake")],
                       check=True, capture_output=True, text=True)
        zips = [name for name in os.listdir(out) if name.endswith(".zip")]
        if len(zips) != 1:
            raise RuntimeError(f"cpack made {zips!r}, not one .zip")
        cls.zip_name = zips[0]
        with zipfile.ZipFile(os.path.join(out, cls.zip_name)) as archive:
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


if __name__ == "__main__":
    unittest.main()
