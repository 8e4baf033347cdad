"""Runs one end-to-end test module through two drivers and compares their dumps line by line.

    parity.py MODULE

KOPIENSIEB_HEADLESS names the in-memory driver, KOPIENSIEB_REAL_DRIVER the driver of a real
backend (kopiensieb-qt-driver, or kopiensieb-win32-driver.exe under KOPIENSIEB_EMULATOR). The
module must pass on both, and every JSON line the tests read must be the same on both, once
the random names of temporary folders are made equal.
"""

import json
import os
import re
import subprocess
import sys
import tempfile

from harness import native

TEMP_NAME = re.compile(r"tmp[a-z0-9_]{8}")


def run_suite(module, driver, log, temp_root):
    env = dict(os.environ)
    env["KOPIENSIEB_HEADLESS"] = driver
    env["KOPIENSIEB_DUMP_LOG"] = log
    # The tests' folders go below temp_root; the programs keep the usual TMPDIR (under another
    # one, Wine would not find its running server and start a new one for every program).
    runner = (
        "import sys, tempfile, unittest; tempfile.tempdir = sys.argv[1]; "
        "unittest.main(module=None, argv=['unittest', sys.argv[2]])"
    )
    done = subprocess.run(
        [sys.executable, "-c", runner, temp_root, module],
        cwd=os.path.dirname(os.path.abspath(__file__)),
        env=env,
        capture_output=True,
        text=True,
        check=False,
    )
    return done


def normalised(log, temp_root):
    """The logged lines with the temporary root and folder names made driver-independent."""
    if not os.path.exists(log):
        return []
    # The Windows build writes the root on Wine's drive Z: with backslashes, escaped in JSON.
    roots = {temp_root, json.dumps(native(temp_root))[1:-1]}
    names = {}

    def stable(match):
        return names.setdefault(match.group(0), f"tmp#{len(names)}")

    lines = []
    with open(log, encoding="utf-8") as stream:
        for line in stream:
            line = line.rstrip("\n")
            for root in roots:
                line = line.replace(root, "<tmp>")
            lines.append(TEMP_NAME.sub(stable, line))
    return lines


def differences(expected, actual):
    """Readable differences of two dump lines: the paths of the values that differ."""

    def flat(value, path=""):
        if isinstance(value, dict):
            for key, inner in value.items():
                yield from flat(inner, f"{path}/{key}")
        elif isinstance(value, list):
            for index, inner in enumerate(value):
                yield from flat(inner, f"{path}/{index}")
        else:
            yield path, value

    left, right = dict(flat(json.loads(expected))), dict(flat(json.loads(actual)))
    return [
        f"  {path}: {left.get(path)!r} | {right.get(path)!r}"
        for path in sorted(set(left) | set(right))
        if left.get(path) != right.get(path)
    ]


def main():
    module = sys.argv[1]
    drivers = [("headless", os.environ["KOPIENSIEB_HEADLESS"]),
               ("real", os.environ["KOPIENSIEB_REAL_DRIVER"])]
    failed = False
    with tempfile.TemporaryDirectory(prefix="kopiensieb-parity-") as work:
        logs = {}
        for name, driver in drivers:
            # Equal-length roots keep every text the same length on both runs.
            root = os.path.join(work, name[0])
            os.mkdir(root)
            log = os.path.join(work, f"{name}.jsonl")
            done = run_suite(module, driver, log, root)
            if done.returncode != 0:
                print(f"--- {module} fails on the {name} driver ({driver}):\n{done.stderr}")
                failed = True
            logs[name] = normalised(log, root)
        expected, actual = logs["headless"], logs["real"]
        print(f"{module}: {len(expected)} dump lines on the headless driver, "
              f"{len(actual)} on the real one")
        for number, (left, right) in enumerate(zip(expected, actual)):
            if left != right:
                failed = True
                print(f"dump line {number} differs (headless | real):")
                print("\n".join(differences(left, right)[:40]))
        if len(expected) != len(actual):
            failed = True
            print("the drivers printed different numbers of dump lines")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
