"""Choosing files for deletion and deleting them: the marking commands and the ToDelete window,
checked on disk."""

import os
import unittest

from harness import (CREDITS, FAILURE, Session, TreeTestCase, control, make_tree, quote,
                     run_script, scan_and_search, shows_empty_state, snapshot, todelete_paths,
                     window)

LAST_COPY = "Die folgende Datei wurde nicht gelöscht, weil sonst keine Kopie übrig bliebe:\r"

# Three copies of one content, two of another, and files without a copy.
TREE = {
    "a.txt": "content A " * 50,
    "copy1/a.txt": "content A " * 50,
    "copy2/a.txt": "content A " * 50,
    "b.txt": "content B",
    "sub/b2.txt": "content B",
    "unique.txt": "only once",
    "sub/other.txt": "different",
}


def group_names(row):
    """The file names that a row of GroupsBox lists."""
    return row.split(": ", 1)[1].split(", ")


def group_row(state, name):
    """The row of GroupsBox whose group lists a file of this name (one such group here)."""
    rows = control(state, 4)["rows"]
    matching = [i for i, text in enumerate(rows) if name in group_names(text)]
    assert len(matching) == 1, (name, rows)
    return matching[0]


def member_row(state, path):
    rows = control(state, 6)["rows"]
    assert path in rows, (path, rows)
    return rows.index(path)


def todelete_row(state, path):
    paths = todelete_paths(state)
    assert path in paths, (path, paths)
    return paths.index(path)


class DeletingTestCase(TreeTestCase):
    def delete_all(self, session, change=None):
        """Opens the ToDelete window, lets `change` act on the disk, then "Alles markieren" and
        "Mark. löschen"; the dump afterwards."""
        session.send("click 15")
        session.dump()  # the window is open and filled before the disk changes
        if change:
            change()
        session.send("click 205")
        session.send("click 202")
        state = session.dump()
        session.finish()
        return state

    def assert_boxes(self, state, last_copy=(), failed=()):
        expected = [LAST_COPY + self.folder(p) for p in last_copy]
        expected += [FAILURE + self.folder(p) for p in failed]
        boxes = state["messageboxes"]
        self.assertEqual(sorted(box["text"] for box in boxes), sorted(expected))
        self.assertTrue(all(box["title"] == "ERROR" and box["icon"] == "error" for box in boxes))


class DeletionTest(DeletingTestCase):
    TREE = TREE

    def setUp(self):
        super().setUp()
        self.before = snapshot(self.root)

    def choose_group(self, session, name):
        state = session.dump()
        session.send(f"select 4 {group_row(state, name)}")
        return session.dump()

    def mark(self, session, relative, button=7):
        """Marks the member with this path in the group shown and presses a marking button."""
        state = session.dump()
        session.send(f"select 6 {member_row(state, self.folder(relative))}")
        session.send(f"click {button}")
        session.send("idle 0")  # availability follows the lists from the next pass on
        return session.dump()

    def assert_disk(self, gone):
        """Exactly the files in `gone` are missing; every other file is byte for byte intact."""
        expected = {path: data for path, data in self.before.items() if path not in gone}
        self.assertEqual(snapshot(self.root), expected)

    def test_marked_and_others_then_delete_only_the_selected_rows(self):
        with Session() as session:
            scan_and_search(session, self.root)
            self.choose_group(session, "a.txt")
            self.mark(session, "copy1/a.txt")
            self.choose_group(session, "b.txt")
            state = self.mark(session, "b.txt", button=10)  # keeps b.txt, takes sub/b2.txt
            # Group B is gone; group A keeps its line (and its old text) with two members left.
            self.assertEqual(control(state, 4)["rows"], ["3: a.txt, a.txt, a.txt"])
            self.assertEqual(len(control(state, 6)["rows"]), 2)

            session.send("click 15")
            state = session.dump()
            self.assertEqual(window(state, 1)["title"], "ToDelete-Liste")
            self.assertEqual(
                sorted(todelete_paths(state)),
                sorted([self.folder("copy1/a.txt"), self.folder("sub/b2.txt")]),
            )
            # While the window is open, a new entry shows at once.
            self.choose_group(session, "a.txt")
            self.mark(session, "copy2/a.txt")
            state = session.dump()
            paths = todelete_paths(state)
            self.assertEqual(len(paths), 3)
            self.assertEqual(paths[2], self.folder("copy2/a.txt"))

            chosen = [todelete_row(state, self.folder(p)) for p in ("copy1/a.txt", "copy2/a.txt")]
            session.send("select 201 " + " ".join(map(str, chosen)))
            session.send("click 202")
            state = session.dump()
            final = session.finish()

        self.assert_disk(gone={"copy1/a.txt", "copy2/a.txt"})
        self.assertEqual(todelete_paths(state), [self.folder("sub/b2.txt")])
        self.assertEqual(state["messageboxes"], [])
        files_view = [row[0] for row in control(state, 2)["rows"]]
        self.assertEqual(
            sorted(files_view), sorted(["a.txt", "b.txt", "b2.txt", "unique.txt", "other.txt"])
        )
        self.assertEqual(control(state, 1)["text"], "Alle Dateien (7)")
        self.assertEqual(final["exit_code"], 0)

    def test_a_folder_at_the_path_gets_the_error_box_and_keeps_its_entry(self):
        def folder_instead():
            os.remove(self.folder("sub/b2.txt"))
            os.mkdir(self.folder("sub/b2.txt"))

        with Session() as session:
            scan_and_search(session, self.root)
            self.choose_group(session, "b.txt")
            self.mark(session, "sub/b2.txt")
            state = self.delete_all(session, folder_instead)

        self.assert_boxes(state, failed=["sub/b2.txt"])
        self.assertEqual(todelete_paths(state), [self.folder("sub/b2.txt")])
        self.assertTrue(os.path.isdir(self.folder("sub/b2.txt")))

    def test_a_file_rewritten_after_the_scan_is_kept_with_the_error_box(self):
        def rewrite():
            # Other size for one copy; same size but another modification time for the other.
            with open(self.folder("copy1/a.txt"), "w") as stream:
                stream.write("precious new text")
            stat = os.stat(self.folder("copy2/a.txt"))
            os.utime(self.folder("copy2/a.txt"), ns=(stat.st_atime_ns, stat.st_mtime_ns - 10**10))

        with Session() as session:
            scan_and_search(session, self.root)
            self.choose_group(session, "a.txt")
            self.mark(session, "copy1/a.txt")
            self.mark(session, "copy2/a.txt")
            state = self.delete_all(session, rewrite)

        self.assert_boxes(state, failed=["copy1/a.txt", "copy2/a.txt"])
        with open(self.folder("copy1/a.txt")) as stream:
            self.assertEqual(stream.read(), "precious new text")
        with open(self.folder("copy2/a.txt")) as stream:
            self.assertEqual(stream.read(), TREE["copy2/a.txt"])
        self.assertEqual(len(todelete_paths(state)), 2)

    def test_delete_by_pattern_keeps_one_file_of_a_group_whose_names_all_match(self):
        make_tree(self.root, {"x.bak": "same", "y.bak": "same", "z.bak": "same"})
        self.before = snapshot(self.root)
        with Session() as session:
            scan_and_search(session, self.root)
            session.send('type 14 "*.BAK"')  # the field lower-cases what is typed
            session.send("click 11")
            session.send("idle 0")
            session.send("click 15")
            state = session.dump()
            taken = todelete_paths(state)
            self.assertEqual(len(taken), 2, taken)
            self.assertTrue(all(p.endswith(".bak") for p in taken), taken)
            # The untouched groups are shown again, the first one selected.
            groups = [sorted(group_names(row)) for row in control(state, 4)["rows"]]
            self.assertEqual(sorted(groups), [["a.txt"] * 3, ["b.txt", "b2.txt"]])
            self.assertEqual(control(state, 4)["selected"], 0)
            session.send("click 205")
            session.send("click 202")
            state = session.dump()
            session.finish()

        left = [name for name in ("x.bak", "y.bak", "z.bak") if os.path.exists(self.folder(name))]
        self.assertEqual(len(left), 1)
        self.assert_disk(gone={"x.bak", "y.bak", "z.bak"} - set(left))
        self.assertTrue(shows_empty_state(state), control(state, 201)["rows"])

    def test_discard_touches_nothing(self):
        with Session() as session:
            scan_and_search(session, self.root)
            self.choose_group(session, "a.txt")
            self.mark(session, "a.txt", button=10)
            session.send("click 15")
            session.send("click 205")
            session.send("click 203")
            session.send("idle 1")
            state = session.dump()
            session.finish()

        self.assert_disk(gone=set())
        self.assertTrue(shows_empty_state(state), control(state, 201)["rows"])
        self.assertEqual(state["messageboxes"], [])
        for number in (201, 202, 203):
            self.assertFalse(control(state, number)["enabled"], number)
        self.assertEqual(len(control(state, 2)["rows"]), 7)

    def test_closing_and_reopening_keeps_the_entries(self):
        with Session() as session:
            scan_and_search(session, self.root)
            self.choose_group(session, "a.txt")
            self.mark(session, "copy2/a.txt")
            session.send("click 15")
            session.send("idle 1")
            opened = session.dump()
            self.assertFalse(control(opened, 15)["enabled"])
            session.send("click 204")
            session.send("idle 0")
            closed = session.dump()
            session.send("click 15")
            reopened = session.dump()
            session.finish()

        self.assertIsNone(window(closed, 1))
        self.assertTrue(control(closed, 15)["enabled"])
        self.assertEqual(todelete_paths(reopened), [self.folder("copy2/a.txt")])
        self.assertEqual(todelete_paths(opened), todelete_paths(reopened))
        self.assert_disk(gone=set())

    def test_reset_empties_the_todelete_list(self):
        with Session() as session:
            scan_and_search(session, self.root)
            self.choose_group(session, "b.txt")
            self.mark(session, "b.txt")
            session.send("click 15")
            session.send("click 8")
            session.send("idle 0")
            state = session.dump()
            session.finish()

        self.assertTrue(shows_empty_state(state), control(state, 201)["rows"])
        self.assertFalse(control(state, 15)["enabled"])
        self.assert_disk(gone=set())

    def test_a_close_request_for_the_todelete_window_ends_the_program(self):
        states = run_script(
            [
                f"chooser {quote(self.root)}",
                "click 0",
                "idle 0",
                "click 9",
                "idle 0",
                "select 4 0",
                "select 6 0",
                "click 7",
                "idle 0",
                "click 15",
                "dump",
                "close 1",
                "dump",
            ]
        )
        final = states[-1]
        self.assertTrue(final["ended"])
        self.assertEqual(final["exit_code"], 0)
        self.assertEqual(final["windows"], [])
        self.assertEqual(final["messageboxes"][-1], CREDITS)
        self.assertEqual(len(states), 2, "nothing runs after the close request")
        self.assertEqual(window(states[0], 1)["title"], "ToDelete-Liste")
        self.assert_disk(gone=set())


class LastCopyTest(DeletingTestCase):
    """"Mark. löschen" never takes the last copy, however the files came onto the list."""

    CONTENT = "the one content " * 100

    def scan(self, session):
        session.send(f"chooser {quote(self.root)}")
        session.send("click 0")
        session.send("idle 0")

    def search_and_mark(self, session, relative, search_button=9):
        """A new search, the group of the file chosen, the file marked with "Lösche markierte
        Datei"."""
        session.send(f"click {search_button}")
        session.send("idle 0")
        session.send(f"select 4 {group_row(session.dump(), os.path.basename(relative))}")
        session.send(f"select 6 {member_row(session.dump(), self.folder(relative))}")
        session.send("click 7")
        session.send("idle 0")

    def test_two_equal_files_marked_after_two_searches_keep_one(self):
        make_tree(self.root, {"a.txt": self.CONTENT, "b.txt": self.CONTENT})
        with Session() as session:
            self.scan(session)
            self.search_and_mark(session, "a.txt")
            self.search_and_mark(session, "b.txt")  # a.txt is still on disk: the group is back
            state = self.delete_all(session)

        self.assertFalse(os.path.exists(self.folder("a.txt")))
        with open(self.folder("b.txt")) as stream:
            self.assertEqual(stream.read(), self.CONTENT)
        self.assert_boxes(state, last_copy=["b.txt"])
        self.assertEqual(todelete_paths(state), [self.folder("b.txt")])
        self.assertEqual([row[0] for row in control(state, 2)["rows"]], ["b.txt"])

    def test_three_copies_marked_over_three_searches_keep_one(self):
        copies = ("a.txt", "b/a.txt", "c/a.txt")
        make_tree(self.root, {name: self.CONTENT for name in copies})
        with Session() as session:
            self.scan(session)
            for relative in copies:
                self.search_and_mark(session, relative)
            state = self.delete_all(session)

        left = [p for p in copies if os.path.exists(self.folder(p))]
        self.assertEqual(left, ["c/a.txt"], "the list's order decides: the last one is kept")
        self.assert_boxes(state, last_copy=["c/a.txt"])

    def test_a_group_of_equal_names_keeps_one_file_of_the_name(self):
        make_tree(self.root, {"x/Bericht.txt": "first text", "y/bericht.TXT": "another text"})
        with Session() as session:
            self.scan(session)
            self.search_and_mark(session, "x/Bericht.txt", search_button=13)
            self.search_and_mark(session, "y/bericht.TXT", search_button=13)
            state = self.delete_all(session)

        self.assertFalse(os.path.exists(self.folder("x/Bericht.txt")))
        self.assertTrue(os.path.exists(self.folder("y/bericht.TXT")))
        self.assert_boxes(state, last_copy=["y/bericht.TXT"])

    def test_a_survivor_changed_after_the_marking_keeps_the_file(self):
        def rewrite():
            with open(self.folder("b.txt"), "a") as stream:
                stream.write("more")

        def remove():
            os.remove(self.folder("b.txt"))

        def touch():
            info = os.stat(self.folder("b.txt"))
            os.utime(self.folder("b.txt"), ns=(info.st_atime_ns, info.st_mtime_ns - 10**10))

        def change_bytes_keep_size_and_time():
            info = os.stat(self.folder("b.txt"))
            with open(self.folder("b.txt"), "r+b") as stream:
                stream.seek(1200)
                stream.write(b"X")
            os.utime(self.folder("b.txt"), ns=(info.st_atime_ns, info.st_mtime_ns))

        for change in (rewrite, remove, touch, change_bytes_keep_size_and_time):
            with self.subTest(change.__name__):
                make_tree(self.root, {"a.txt": self.CONTENT, "b.txt": self.CONTENT})
                with Session() as session:
                    self.scan(session)
                    self.search_and_mark(session, "a.txt")
                    state = self.delete_all(session, change)

                with open(self.folder("a.txt")) as stream:
                    self.assertEqual(stream.read(), self.CONTENT)
                self.assert_boxes(state, last_copy=["a.txt"])
                self.assertEqual(todelete_paths(state), [self.folder("a.txt")])
                for name in ("a.txt", "b.txt"):
                    if os.path.exists(self.folder(name)):
                        os.remove(self.folder(name))


if __name__ == "__main__":
    unittest.main()
