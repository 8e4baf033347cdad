"""Adding folders: the scan, its patterns, folder coverage, the chooser, the reset."""

import os
import tempfile
import unittest

from harness import (WELCOME, WINDOWS, Session, TreeTestCase, control, enabled_numbers, make_tree,
                     quote, run_script)

EVERY_CONTROL = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 100, 101}
ON_WITH_FILES_ONLY = EVERY_CONTROL - {4, 6, 7, 10, 11, 14, 15}
ON_WITHOUT_FILES = EVERY_CONTROL - {4, 6, 7, 8, 9, 10, 11, 13, 14, 15}

TREE = {
    "Daten/a.txt": "0123456789",
    "Daten/README": "abc",
    "Daten/sub/b.doc": b"",
    "Daten/sub/deeper/c.txt": b"\x01" * 1536,
    "Daten/sub/deeper/d.bak": "x" * 7,
    "Daten2/e.txt": "hello",
    "Leer/": None,
}

A = ["a.txt", "10 Bytes"]
README = ["README", "3 Bytes"]
B = ["b.doc", "0 Bytes"]
C = ["c.txt", "1536 Bytes"]
D = ["d.bak", "7 Bytes"]
E = ["e.txt", "5 Bytes"]


def rows(state):
    """The rows of the all-files view, sorted (the scan keeps the file system's order)."""
    return sorted(control(state, 2)["rows"])


def caption(state):
    return control(state, 1)["text"]


class ScanTestCase(TreeTestCase):
    TREE = TREE

    def add(self, relative):
        """Script lines that add a folder (given without its trailing "/")."""
        return [f"chooser {quote(self.folder(relative))}", "click 0"]


class PatternTest(ScanTestCase):
    def scan_daten_with(self, pattern_lines):
        return run_script(pattern_lines + self.add("Daten") + ["dump", "idle 0", "dump"])

    def test_default_pattern_skips_names_without_a_dot(self):
        after_scan, after_idle, _ = self.scan_daten_with([])
        self.assertEqual(rows(after_scan), [A, B, C, D])
        self.assertEqual(caption(after_scan), "Alle Dateien (4)")
        # The command's own texts stay until the next message.
        self.assertEqual(after_scan["status"]["texts"], ["Update Liste", "4 Dateien"])
        self.assertEqual(after_scan["passes"], 1)
        self.assertEqual(after_scan["choosers"], [{"title": "Pfad hinzufügen...", "start": ""}])
        self.assertEqual(control(after_scan, 2)["selected"], [])
        self.assertEqual(after_idle["status"]["texts"], WELCOME)
        self.assertEqual(enabled_numbers(after_idle), ON_WITH_FILES_ONLY)
        self.assertEqual(control(after_idle, 3)["text"], "Dateien mit gleichem Inhalt:")
        self.assertEqual(control(after_idle, 4)["rows"], [])

    def test_empty_pattern_takes_every_file(self):
        after_scan, _, _ = self.scan_daten_with(['type 12 ""'])
        self.assertEqual(rows(after_scan), sorted([A, README, B, C, D]))
        self.assertEqual(caption(after_scan), "Alle Dateien (5)")
        self.assertEqual(after_scan["status"]["texts"][1], "5 Dateien")

    def test_several_patterns_and_letter_case(self):
        for text, expected in (
            ("*.txt;*.doc", [A, B, C]),
            ("*.TXT", [A, C]),
            ("*.bak,README", sorted([README, D])),
            ("?.doc *.b?k", [B, D]),
        ):
            with self.subTest(pattern=text):
                after_scan, _, _ = self.scan_daten_with([f"type 12 {quote(text)}"])
                self.assertEqual(rows(after_scan), expected)
                self.assertEqual(caption(after_scan), f"Alle Dateien ({len(expected)})")
                self.assertEqual(control(after_scan, 12)["text"], text)

    def test_empty_folder_adds_nothing_but_shows_the_count(self):
        states = run_script(
            self.add("Leer") + ["dump"] + self.add("Daten") + self.add("Daten2") + ["dump"]
        )
        empty, both, _ = states
        self.assertEqual(rows(empty), [])
        self.assertEqual(caption(empty), "Alle Dateien (0)")
        self.assertEqual(empty["status"]["texts"], ["Update Liste", "0 Dateien"])
        # The count covers every scan so far.
        self.assertEqual(both["status"]["texts"][1], "5 Dateien")
        self.assertEqual(rows(both), sorted([A, B, C, D, E]))


class FolderCoverageTest(ScanTestCase):
    def test_covered_folders_are_refused_and_others_accepted(self):
        states = run_script(
            self.add("Daten/sub")
            + ["dump"]
            + self.add("Daten/sub")  # the same folder again
            + ["dump"]
            + self.add("Daten/sub/deeper")  # inside it
            + ["dump"]
            + self.add("Daten")  # around it
            + ["dump"]
            + self.add("Daten2")  # a sibling whose name extends "Daten"
            + ["dump", "chooser-cancel", "click 0", "dump", "idle 0", "dump"]
        )
        sub, again, inside, parent, sibling, cancelled, idle, _ = states

        self.assertEqual(rows(sub), [B, C, D])
        for refused in (again, inside):
            self.assertEqual(rows(refused), [B, C, D])
            self.assertEqual(caption(refused), "Alle Dateien (3)")
            # Nothing is shown: the pass's welcome texts stay.
            self.assertEqual(refused["status"]["texts"], WELCOME)
        self.assertEqual(rows(parent), sorted([A, B, B, C, C, D, D]))
        self.assertEqual(caption(parent), "Alle Dateien (7)")
        self.assertEqual(rows(sibling), sorted([A, B, B, C, C, D, D, E]))
        self.assertEqual(caption(sibling), "Alle Dateien (8)")
        self.assertEqual(rows(cancelled), rows(sibling))
        self.assertEqual(cancelled["status"]["texts"], WELCOME)
        self.assertEqual(enabled_numbers(idle), ON_WITH_FILES_ONLY)

        # Each chooser opens on the folder accepted last; refusals and cancels keep it.
        sub_folder = self.folder("Daten/sub") + "/"
        starts = [shown["start"] for shown in cancelled["choosers"]]
        self.assertEqual(
            starts,
            ["", sub_folder, sub_folder, sub_folder, self.folder("Daten") + "/",
             self.folder("Daten2") + "/"],
        )
        self.assertTrue(all(c["title"] == "Pfad hinzufügen..." for c in cancelled["choosers"]))
        self.assertEqual([s["passes"] for s in states[:6]], [1, 2, 3, 4, 5, 6])

    def test_cancelled_chooser_changes_nothing(self):
        before, after, _ = run_script(
            ["chooser-cancel", "click 0", "dump", "click 0", "idle 0", "dump"]
        )
        for state in (before, after):
            self.assertEqual(rows(state), [])
            self.assertEqual(caption(state), "Alle Dateien:")
        self.assertEqual(enabled_numbers(after), ON_WITHOUT_FILES)
        # A chooser without a queued answer counts as cancelled too.
        self.assertEqual([c["start"] for c in after["choosers"]], ["", ""])
        self.assertEqual(after["status"]["writes"], [1, 1])

    def test_files_changed_between_actions_show_in_the_next_scan_only(self):
        with Session() as session:
            for line in self.add("Daten2"):
                session.send(line)
            first = session.dump()
            make_tree(self.root, {"Daten2/late.txt": "12", "Neu/new.txt": "1234"})
            for line in self.add("Neu"):
                session.send(line)
            second = session.dump()
            final = session.finish()
        self.assertEqual(rows(first), [E])
        self.assertEqual(rows(second), sorted([E, ["new.txt", "4 Bytes"]]))
        self.assertEqual(second["passes"], 2)
        self.assertTrue(final["ended"])
        self.assertEqual(final["exit_code"], 0)
        self.assertEqual(final["passes"], 3)


class ResetTest(ScanTestCase):
    def test_reset_empties_the_lists_and_keeps_the_last_folder(self):
        daten = self.folder("Daten") + "/"
        states = run_script(
            self.add("Daten")
            + ["idle 0", "dump", "click 8", "dump", "idle 0", "dump"]
            + ["chooser-cancel", "click 0", "dump"]
            + self.add("Daten")
            + ["idle 0", "dump"]
        )
        scanned, reset, after_reset, cancelled, again = states[:5]

        self.assertEqual(enabled_numbers(scanned), ON_WITH_FILES_ONLY)
        self.assertEqual(rows(reset), [])
        self.assertEqual(control(reset, 4)["rows"], [])
        self.assertEqual(control(reset, 6)["rows"], [])
        self.assertEqual(caption(reset), "Alle Dateien")
        self.assertEqual(control(reset, 3)["text"], "Dateien mit gleichem Inhalt")
        self.assertEqual(reset["status"]["texts"][0], "Update Liste")
        self.assertEqual(control(reset, 12)["text"], "*.*")
        self.assertEqual(control(reset, 14)["text"], "*.bak *.tmp")
        self.assertEqual(enabled_numbers(after_reset), ON_WITHOUT_FILES)

        self.assertEqual(cancelled["choosers"][-1]["start"], daten)
        self.assertEqual(rows(cancelled), [])
        # The folder list was emptied, so the same folder is accepted again.
        self.assertEqual(rows(again), [A, B, C, D])
        self.assertEqual(caption(again), "Alle Dateien (4)")
        self.assertEqual(again["choosers"][-1]["start"], daten)
        self.assertEqual(enabled_numbers(again), ON_WITH_FILES_ONLY)


# Windows has no FIFOs or POSIX permissions, and under Wine deleting a Unix link deletes its
# target: the Windows build is never shown a link.
@unittest.skipIf(WINDOWS, "links, FIFOs and permission bits are POSIX matters")
class SpecialEntriesTest(unittest.TestCase):
    def test_links_fifos_unreadable_folders_and_odd_names(self):
        with tempfile.TemporaryDirectory() as root:
            make_tree(
                root,
                {
                    "real.txt": "data",
                    b"caf\xe9.txt": "12345",
                    "sub/inner.txt": "1",
                    "locked/hidden.txt": "22",
                },
            )
            os.symlink("real.txt", os.path.join(root, "link.txt"))
            os.symlink("nowhere.txt", os.path.join(root, "dangling.txt"))
            os.symlink(".", os.path.join(root, "loop"))
            os.symlink("..", os.path.join(root, "sub", "up"))
            os.mkfifo(os.path.join(root, "fifo.txt"))
            locked = os.path.join(root, "locked")
            os.chmod(locked, 0)
            try:
                states = run_script(
                    [f"chooser {quote(root)}", "click 0", "dump", "idle 0", "dump"], timeout=60
                )
            finally:
                os.chmod(locked, 0o755)
        scanned, idle, final = states
        shown = rows(scanned)
        expected = [["caf\ufffd.txt", "5 Bytes"], ["inner.txt", "1 Bytes"], ["real.txt", "4 Bytes"]]
        if os.geteuid() == 0:
            # Root reads every folder; only the rest of the tree is checked then.
            shown = [row for row in shown if row[0] != "hidden.txt"]
        self.assertEqual(shown, expected)
        self.assertEqual(caption(scanned), f"Alle Dateien ({len(rows(scanned))})")
        self.assertEqual(enabled_numbers(idle), ON_WITH_FILES_ONLY)
        self.assertEqual(final["exit_code"], 0)


if __name__ == "__main__":
    unittest.main()
