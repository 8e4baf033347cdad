"""Every command that removes rows from a list, checked row by row: the rows that stay keep
their texts and their order, wherever the removed rows stood (first, middle, last). The parity
run repeats these scripts on the real widgets, where a removal once blanked the rows above it."""

import os
import unittest

from harness import (FAILURE, Session, TreeTestCase, control, make_tree, scan_and_search,
                     todelete_paths)

# Four groups of five copies each, every file under a name of its own, so that FilesView rows
# can be told apart by name. Marking three files never takes every copy of a content.
GROUPS = 4
COPIES = 5
TREE = {
    f"d{copy}/g{group}c{copy}.dat": f"content of group {group} " * (group + 1)
    for group in range(GROUPS)
    for copy in range(COPIES)
}


def rows(state, number):
    return control(state, number)["rows"]


def without(items, removed):
    """items without the entries at the given positions, in their order."""
    return [item for index, item in enumerate(items) if index not in set(removed)]


class RowChangesTest(TreeTestCase):
    TREE = TREE

    def choose_group(self, session, row):
        session.send(f"select 4 {row}")
        return session.dump()

    def mark_member(self, session, row, button=7):
        session.send(f"select 6 {row}")
        session.send(f"click {button}")
        session.send("idle 0")
        return session.dump()

    def group_of(self, state, path):
        """The GroupsBox row whose group holds this file, found by choosing each in turn."""
        name = os.path.basename(path)
        return next(i for i, text in enumerate(rows(state, 4)) if name in text.split(": ")[1])

    def test_a_double_click_chooses_a_row_as_a_click_does(self):
        with Session() as session:
            scan_and_search(session, self.root)
            session.send("doubleclick 4 2")
            state = session.dump()
            self.assertEqual(control(state, 4)["selected"], 2)
            members = rows(state, 6)
            self.assertEqual(len(members), COPIES)
            names = rows(state, 4)[2].split(": ")[1]
            self.assertTrue(all(os.path.basename(member) in names for member in members))
            session.send("doubleclick 6 3")
            self.assertEqual(control(session.dump(), 6)["selected"], 3)
            session.send("select 2 4")
            self.assertEqual(control(session.dump(), 2)["selected"], [4])
            session.send("doubleclick 2 1")
            self.assertEqual(control(session.dump(), 2)["selected"], [1])
            session.finish()

    def test_marking_the_first_last_and_a_middle_member(self):
        with Session() as session:
            scan_and_search(session, self.root)
            members = rows(self.choose_group(session, 1), 6)
            self.assertEqual(len(members), COPIES)
            for where in ("first", "last", "middle"):
                position = {"first": 0, "last": len(members) - 1, "middle": 1}[where]
                state = self.mark_member(session, position)
                members = without(members, [position])
                self.assertEqual(rows(state, 6), members, f"after marking row {position}")
            # The group keeps its line, and its old text, until the box is rebuilt.
            self.assertEqual(len(members), COPIES - 3)
            self.assertEqual(len(rows(state, 4)), GROUPS)
            self.assertTrue(all(text.startswith(f"{COPIES}: ") for text in rows(state, 4)))
            # Marking one of the last two dissolves the group: its row goes, the rows above and
            # below keep their texts.
            groups = rows(state, 4)
            state = self.mark_member(session, 0)
            self.assertEqual(rows(state, 4), without(groups, [1]))
            self.assertEqual(len(rows(state, 6)), COPIES)
            session.finish()

    def test_marking_all_but_one_dissolves_a_middle_group_and_keeps_the_others(self):
        with Session() as session:
            groups = rows(scan_and_search(session, self.root), 4)
            self.choose_group(session, 1)
            state = self.mark_member(session, 2, button=10)
            self.assertEqual(rows(state, 4), without(groups, [1]))
            # The group selected now is shown whole.
            self.assertEqual(len(rows(state, 6)), COPIES)
            # The last group row, then the first, go the same way.
            self.choose_group(session, len(groups) - 2)
            state = self.mark_member(session, 0, button=10)
            self.assertEqual(rows(state, 4), without(groups, [1, len(groups) - 1]))
            self.choose_group(session, 0)
            state = self.mark_member(session, COPIES - 1, button=10)
            self.assertEqual(rows(state, 4), [groups[2]])
            session.send("click 15")
            state = session.dump()
            self.assertEqual(len(rows(state, 201)), 3 * (COPIES - 1))
            session.finish()

    def test_delete_by_pattern_takes_the_matching_copies_of_every_group(self):
        make_tree(self.root, {"extra/g0c9.tmp": TREE["d0/g0c0.dat"],
                              "extra/g2c9.tmp": TREE["d0/g2c0.dat"]})
        with Session() as session:
            groups = rows(scan_and_search(session, self.root), 4)
            self.assertEqual(len(groups), GROUPS)
            session.send('type 14 "*.TMP"')
            session.send("click 11")
            session.send("idle 0")
            state = session.dump()
            # The box is rebuilt: the groups that held a .tmp file lose it, the others keep
            # their row text.
            def without_tmp(text):
                names = [n for n in text.split(": ")[1].split(", ") if not n.endswith(".tmp")]
                return f"{len(names)}: " + ", ".join(names)

            self.assertEqual(rows(state, 4), [without_tmp(text) for text in groups])
            self.assertEqual(sum(".tmp" in text for text in groups), 2)
            session.send("click 15")
            state = session.dump()
            taken = sorted(todelete_paths(state))
            self.assertEqual(taken, [self.folder("extra/g0c9.tmp"), self.folder("extra/g2c9.tmp")])
            session.finish()

    def test_deleting_the_first_a_middle_and_the_last_file_row_with_an_error_between(self):
        with Session() as session:
            state = scan_and_search(session, self.root)
            files = rows(state, 2)
            self.assertEqual(len(files), GROUPS * COPIES)
            chosen = [0, len(files) // 2, len(files) - 1]
            names = [files[row][0] for row in chosen]
            paths = [self.folder(relative) for name in names
                     for relative in TREE if relative.endswith("/" + name)]
            for path in paths:
                state = self.choose_group(session, self.group_of(state, path))
                state = self.mark_member(session, rows(state, 6).index(path))
            session.send("click 15")
            session.dump()
            # The middle file changes on disk after it was catalogued: it stays, with a box.
            with open(paths[1], "a") as stream:
                stream.write("changed")
            session.send("click 205")
            session.send("click 202")
            state = session.dump()
            session.finish()

        self.assertEqual(rows(state, 2), without(files, [chosen[0], chosen[2]]))
        self.assertEqual(
            [box["text"] for box in state["messageboxes"]], [FAILURE + paths[1]]
        )
        self.assertFalse(os.path.exists(paths[0]) or os.path.exists(paths[2]))
        self.assertTrue(os.path.exists(paths[1]))
        self.assertEqual(todelete_paths(state), [paths[1]])

    def test_discarding_rows_and_searching_again_after_deleting(self):
        with Session() as session:
            scan_and_search(session, self.root)
            self.choose_group(session, 0)
            state = self.mark_member(session, 0, button=10)  # three copies of one group
            session.send("click 15")
            listed = rows(session.dump(), 201)
            self.assertEqual(len(listed), COPIES - 1)
            session.send("select 201 0 2")
            session.send("click 203")  # discard the first and the last row
            session.send("idle 1")
            state = session.dump()
            self.assertEqual(rows(state, 201), without(listed, [0, 2]))
            session.send("click 205")
            session.send("click 202")  # delete the two left
            session.send("idle 1")
            session.send("click 9")  # and search again
            session.send("idle 0")
            state = session.dump()
            session.finish()

        deleted = [os.path.join(row[1], row[0]) for row in without(listed, [0, 2])]
        self.assertFalse(any(os.path.exists(path) for path in deleted))
        self.assertEqual(len(rows(state, 2)), GROUPS * COPIES - 2)
        counts = sorted(int(text.split(":")[0]) for text in rows(state, 4))
        self.assertEqual(counts, [COPIES - 2] + [COPIES] * (GROUPS - 1))

    def test_reset_empties_every_list_and_the_open_todelete_window(self):
        with Session() as session:
            scan_and_search(session, self.root)
            self.choose_group(session, 2)
            self.mark_member(session, 1)
            session.send("click 15")
            session.send("click 8")
            session.send("idle 0")
            state = session.dump()
            session.finish()

        for number in (2, 4, 6):
            self.assertEqual(rows(state, number), [], number)
        self.assertEqual(len(rows(state, 201)), 1)  # the row that stands for no entry
        self.assertEqual(len(os.listdir(self.folder("d1"))), GROUPS)


if __name__ == "__main__":
    unittest.main()
