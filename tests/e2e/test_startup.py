"""Start-up, the main window, the first passes of the loop, and shutdown."""

import json
import os
import subprocess
import tempfile
import unittest

from harness import (CREDITS, WELCOME, command, control, enabled_numbers, native, run_script,
                     run_script_raw, window)

# number, kind, text (None for lists and progress bars), x, y, w, h; in creation order. The
# table is shared with the unit and Qt tests.
with open(
    os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support",
                 "main_window_controls.json"),
    encoding="utf-8",
) as _table:
    MAIN_CONTROLS = [
        (c["number"], c["kind"], c["text"] or None, c["x"], c["y"], c["w"], c["h"])
        for c in json.load(_table)
    ]

OFF_WHEN_EMPTY = {4, 6, 7, 8, 9, 10, 11, 13, 14, 15}


class StartUpTest(unittest.TestCase):
    def setUp(self):
        self.before, self.first, self.third, self.final = run_script(
            ["dump", "idle 0", "dump", "idle 0", "idle 0", "dump"]
        )

    def test_main_window_holds_every_control_in_creation_order(self):
        shown = window(self.first, 0)
        self.assertEqual(
            (shown["title"], shown["width"], shown["height"]), ("Kopiensieb", 640, 480)
        )
        self.assertEqual([w["number"] for w in self.first["windows"]], [0])
        self.assertEqual([c["number"] for c in shown["controls"]], [c[0] for c in MAIN_CONTROLS])
        for number, kind, text, x, y, w, h in MAIN_CONTROLS:
            item = control(self.first, number)
            with self.subTest(control=number):
                self.assertEqual(item["kind"], kind)
                self.assertEqual((item["x"], item["y"], item["w"], item["h"]), (x, y, w, h))
                if text is not None:
                    self.assertEqual(item["text"], text)

    def test_lists_start_empty_and_bars_at_zero(self):
        view = control(self.first, 2)
        self.assertEqual(view["columns"], [["Name", 150], ["Größe", 100]])
        self.assertEqual((view["rows"], view["selected"]), ([], []))
        for number in (4, 6):
            self.assertEqual(
                (control(self.first, number)["rows"], control(self.first, number)["selected"]),
                ([], -1),
            )
        for number in (100, 101):
            self.assertEqual(control(self.first, number)["value"], 0)
        self.assertEqual(self.first["messageboxes"], [])
        self.assertEqual(self.first["choosers"], [])

    def test_controls_are_created_enabled_and_the_first_pass_applies_the_rules(self):
        every = {c[0] for c in MAIN_CONTROLS}
        self.assertEqual(self.before["passes"], 0)
        self.assertEqual(enabled_numbers(self.before), every)
        self.assertEqual(self.first["passes"], 1)
        self.assertEqual(enabled_numbers(self.first), every - OFF_WHEN_EMPTY)
        self.assertEqual(enabled_numbers(self.third), every - OFF_WHEN_EMPTY)

    def test_status_bar_gets_the_welcome_texts_once(self):
        self.assertEqual(self.before["status"], {"texts": ["", ""], "writes": [0, 0]})
        self.assertEqual(self.first["status"], {"texts": WELCOME, "writes": [1, 1]})
        # Writing the same text again is skipped.
        self.assertEqual(self.third["passes"], 3)
        self.assertEqual(self.third["status"], {"texts": WELCOME, "writes": [1, 1]})

    def test_end_of_script_closes_the_program(self):
        self.assertTrue(self.final["ended"])
        self.assertEqual(self.final["exit_code"], 0)
        self.assertEqual(self.final["passes"], 4)
        self.assertEqual(self.final["windows"], [])
        self.assertEqual(self.final["messageboxes"], [CREDITS])
        for state in (self.before, self.first, self.third):
            self.assertFalse(state["ended"])
            self.assertNotIn("exit_code", state)


class ClosingTest(unittest.TestCase):
    def test_closing_at_once_shows_the_credits(self):
        for script in ([], ["close 0"], ["# nothing but a comment", "", "close 0"]):
            with self.subTest(script=script):
                states = run_script(script)
                self.assertEqual(len(states), 1)
                final = states[0]
                self.assertTrue(final["ended"])
                self.assertEqual(final["exit_code"], 0)
                self.assertEqual(final["passes"], 1)
                self.assertEqual(final["windows"], [])
                self.assertEqual(final["messageboxes"], [CREDITS])
                self.assertEqual(final["choosers"], [])

    def test_lines_after_the_end_are_ignored(self):
        states = run_script(["close 0", "dump", 'chooser "/"', "click 0", "dump"])
        self.assertEqual(len(states), 1)
        self.assertTrue(states[0]["ended"])
        self.assertEqual(states[0]["passes"], 1)
        self.assertEqual(states[0]["choosers"], [])


class ScriptHandlingTest(unittest.TestCase):
    def test_action_on_a_disabled_or_missing_control_runs_no_pass(self):
        states = run_script(["idle 0", "click 9", "click 8", "click 77", "type 14 \"x\"", "dump"])
        self.assertEqual(states[0]["passes"], 1)
        self.assertEqual(control(states[0], 14)["text"], "*.bak *.tmp")

    def test_typed_letters_are_lowered_only_in_the_delete_pattern_field(self):
        # Before the first pass every control is still enabled.
        states = run_script(['type 14 "*.BAK ÄÖ"', 'type 12 "*.TXT"', "dump"])
        self.assertEqual(states[0]["passes"], 2)
        self.assertEqual(control(states[0], 14)["text"], "*.bak äö")
        self.assertEqual(control(states[0], 12)["text"], "*.TXT")

    def test_malformed_lines_are_reported_and_skipped(self):
        done = run_script_raw(["idle 0", "click", "type 12 unquoted", "jump 3", "idle 0", "dump"])
        self.assertEqual(done.returncode, 0)
        errors = done.stderr.decode("utf-8", "replace")
        for number in (2, 3, 4):
            self.assertIn(f"line {number}", errors)
        lines = done.stdout.decode("utf-8").splitlines()
        self.assertEqual(len(lines), 2)
        self.assertIn('"passes":2', lines[0])

    def test_script_from_a_file_gives_the_same_output_as_from_stdin(self):
        script = ['type 12 "*.c"', "idle 0", "dump", "close 0"]
        from_stdin = run_script_raw(script)
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "script.txt")
            with open(path, "w", encoding="utf-8") as out:
                out.write("\n".join(script) + "\n")
            from_file = subprocess.run(
                command() + [native(path)], stdin=subprocess.DEVNULL, capture_output=True, timeout=60
            )
        self.assertEqual(from_file.returncode, 0)
        self.assertEqual(from_file.stdout, from_stdin.stdout)
        self.assertEqual(len(from_file.stdout.splitlines()), 2)


if __name__ == "__main__":
    unittest.main()
