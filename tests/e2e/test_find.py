"""kopiensieb-find: the engine without windows finds the groups the program shows."""

import json
import os
import subprocess
import unittest

from harness import Session, TreeTestCase, control, quote, snapshot

NO_GROUPS = "(keine doppelten Dateien)"

TREE = {
    "Fotos/urlaub.jpg": b"\xff\xd8" + b"sun" * 900,
    "Fotos/alt/urlaub-kopie.jpg": b"\xff\xd8" + b"sun" * 900,
    "Fotos/alt/README": "notes",
    "Fotos/Notes.txt": "notes",
    "Fotos/leer.txt": b"",
    "Fotos/tief/tiefer/c.txt": "x" * 2048,
    "Fotos/tief/d.txt": "x" * 2047 + "y",  # differs from c.txt in its last byte only
    "Archiv/urlaub.JPG": b"\xff\xd8" + b"sun" * 900,
    "Archiv/notes.TXT": "other",
    "Archiv/c.txt": "x" * 2048,
    "Archiv/leer.txt": b"",
    "Archiv/b.doc": "notes",
}


def find_binary():
    path = os.environ.get("KOPIENSIEB_FIND")
    if not path:
        raise RuntimeError("KOPIENSIEB_FIND is not set (run the tests through ctest)")
    return path


def run_find(*args):
    return subprocess.run([find_binary(), *args], capture_output=True, timeout=120, check=False)


def plain_groups(stdout):
    """Groups of the plain output: paths one per line, a blank line between groups."""
    text = stdout.decode("utf-8")
    if not text:
        return []
    return [block.split("\n") for block in text.rstrip("\n").split("\n\n")]


def program_groups(folders, pattern, button):
    """The groups kopiensieb-headless shows for the same folders: each row of the groups box
    selected in turn, its members read from the members box."""
    with Session() as session:
        session.send(f"type 12 {quote(pattern)}")
        for folder in folders:
            session.send(f"chooser {quote(folder)}")
            session.send("click 0")
        session.send(f"click {button}")
        session.send("idle 0")  # the pass after the search enables the groups box
        rows = control(session.dump(), 4)["rows"]
        groups = []
        if rows != [NO_GROUPS]:
            for row in range(len(rows)):
                session.send(f"select 4 {row}")
                groups.append(control(session.dump(), 6)["rows"])
        session.finish()
    return groups


class FindTest(TreeTestCase):
    TREE = TREE

    def test_groups_equal_the_programs(self):
        # The third folder lies inside the first: both refuse it.
        folders = [self.folder("Fotos"), self.folder("Archiv"), self.folder("Fotos/tief")]
        for by_name, button in ((False, 9), (True, 13)):
            for pattern in ("", "*.txt;*.JPG"):
                with self.subTest(by_name=by_name, pattern=pattern):
                    args = (["--by-name"] if by_name else []) + (
                        ["--pattern", pattern] if pattern else []
                    )
                    done = run_find(*args, *folders)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    found = plain_groups(done.stdout)
                    self.assertTrue(found, "the tree holds groups in both modes")
                    self.assertEqual(found, program_groups(folders, pattern, button))

    def test_json_holds_the_same_groups_with_their_sizes(self):
        folders = [self.folder("Fotos"), self.folder("Archiv")]
        plain = run_find(*folders)
        shown = run_find("--json", *folders)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        groups = json.loads(shown.stdout)["groups"]
        self.assertEqual([group["files"] for group in groups], plain_groups(plain.stdout))
        for group in groups:
            self.assertEqual(group["size"], os.path.getsize(group["files"][0]))

    def test_unreadable_folder_exits_2_and_the_others_are_searched(self):
        missing = self.folder("gibt-es-nicht")
        done = run_find(missing, self.folder("Fotos"), self.folder("Archiv"))
        self.assertEqual(done.returncode, 2)
        self.assertIn(missing, done.stderr.decode("utf-8"))
        self.assertEqual(
            plain_groups(done.stdout),
            plain_groups(run_find(self.folder("Fotos"), self.folder("Archiv")).stdout),
        )

    def test_deletes_nothing(self):
        before = snapshot(self.root)
        self.assertEqual(run_find(self.root).returncode, 0)
        self.assertEqual(snapshot(self.root), before)

    def test_usage_errors_exit_2(self):
        for args in ([], ["--no-such-option", self.root], ["--pattern"]):
            with self.subTest(args=args):
                done = run_find(*args)
                self.assertEqual(done.returncode, 2)
                self.assertIn(b"usage: kopiensieb-find", done.stderr)
                self.assertEqual(done.stdout, b"")


if __name__ == "__main__":
    unittest.main()
