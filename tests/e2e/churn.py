"""Scan, search, marking and "Mark. löschen" through kopiensieb-headless while another process
keeps changing the tree (Linux only: it makes symbolic links and FIFOs).

    python3 churn.py --seconds 60            # KOPIENSIEB_HEADLESS names the binary

The world below a temporary folder:

    tree/     what the program scans: groups of equal files in nested folders
    outside/  files of the same contents and folders, never to be touched; links point here
    trash/    where the churner "deletes" files to (out of the tree, so that a file the churner
              took away can be told from a file the program deleted)

Stable contents are only ever moved or copied by the churner (renamed, their folders renamed,
their names taken by links or FIFOs, new copies made), so every one of them must keep a copy
whatever the program does. Volatile contents are also rewritten in place and deleted (moved to
trash/).

Checked at the end: the program answered every step within its deadline and ended with exit
code 0; outside/ is exactly as it was; every file that vanished was deleted by the program from
a path that the ToDelete list showed when it was deleted; every stable content still has a copy.
"""

import argparse
import json
import os
import random
import stat
import subprocess
import sys
import tempfile
import time

from harness import Session, control, quote, todelete_paths

STABLE_CONTENTS = 24
VOLATILE_CONTENTS = 8
MOST_FILES = 250
FOLDERS = ("a", "a/b", "a/b/c", "d", "d/e", "f", "f/g/h", "i")


def content_of(kind, number):
    """Bytes of one content: several 1,024-byte chunks, different for every content."""
    seed = f"{kind}-{number}-".encode()
    return (seed * (5000 // len(seed) + 1))[: 3000 + 97 * number]


def build_world(root, seed):
    """Makes tree/, outside/ and trash/; returns the stable contents {bytes: name}."""
    rng = random.Random(seed)
    tree = os.path.join(root, "tree")
    for folder in FOLDERS:
        os.makedirs(os.path.join(tree, folder), exist_ok=True)
    os.makedirs(os.path.join(root, "trash"))
    outside = os.path.join(root, "outside")
    os.makedirs(os.path.join(outside, "folder", "sub"))
    stable = {}
    for kind, count in (("stable", STABLE_CONTENTS), ("volatile", VOLATILE_CONTENTS)):
        for number in range(count):
            data = content_of(kind, number)
            if kind == "stable":
                stable[data] = f"{kind}-{number}"
            for copy in range(rng.randint(2, 4)):
                folder = rng.choice(("",) + FOLDERS)
                name = f"{kind}-{number}-{copy}." + rng.choice(("txt", "dat"))
                with open(os.path.join(tree, folder, name), "wb") as out:
                    out.write(data)
            # The same bytes outside: a followed link would find a "copy" there.
            with open(os.path.join(outside, f"{kind}-{number}.txt"), "wb") as out:
                out.write(data)
    with open(os.path.join(outside, "folder", "sub", "deep.txt"), "wb") as out:
        out.write(content_of("stable", 0))
    return stable


def regular_files(top):
    """{inode: path} of every regular file below top (links are not followed)."""
    found = {}
    for folder, _, names in os.walk(top):
        for name in names:
            path = os.path.join(folder, name)
            try:
                info = os.lstat(path)
            except FileNotFoundError:
                continue
            if stat.S_ISREG(info.st_mode):
                found[info.st_ino] = path
    return found


def snapshot(top):
    """Everything below top as it stands: {path: (kind, inode, size, mtime, bytes or target)}."""
    found = {}
    for folder, folders, names in os.walk(top):
        for name in folders + names:
            path = os.path.join(folder, name)
            info = os.lstat(path)
            if stat.S_ISREG(info.st_mode):
                with open(path, "rb") as stream:
                    body = stream.read()
            elif stat.S_ISLNK(info.st_mode):
                body = os.readlink(path)
            else:
                body = None
            found[path] = (stat.S_IFMT(info.st_mode), info.st_ino, info.st_size,
                           info.st_mtime_ns, body)
    return found


class Churner:
    """Changes the tree until the stop file appears or the time is up. Every rename goes to a
    name never used before, and every rename is logged, so that all the paths a file ever had
    can be told afterwards."""

    def __init__(self, root, seed, log):
        self.root = root
        self.tree = os.path.join(root, "tree")
        self.outside = os.path.join(root, "outside")
        self.trash = os.path.join(root, "trash")
        self.rng = random.Random(seed)
        self.log = log
        self.fresh = 0
        self.counts = {}
        self.folders = [self.tree] + [os.path.join(self.tree, f) for f in FOLDERS]
        self.files = sorted(regular_files(self.tree).values())

    def fresh_name(self, stem):
        self.fresh += 1
        return f"churn{self.fresh}-{stem}"

    def record(self, kind, **fields):
        self.counts[kind] = self.counts.get(kind, 0) + 1
        self.log.write(json.dumps({"op": kind, **fields}) + "\n")

    def move_file(self, path, folder):
        target = os.path.join(folder, self.fresh_name(os.path.basename(path)))
        os.rename(path, target)
        self.record("rename", source=path, target=target)
        self.files[self.files.index(path)] = target
        return target

    def op_rename(self):
        path = self.rng.choice(self.files)
        self.move_file(path, self.rng.choice(self.folders))

    def op_delete(self):
        path = self.rng.choice([p for p in self.files if "volatile" in os.path.basename(p)])
        target = os.path.join(self.trash, self.fresh_name(os.path.basename(path)))
        os.rename(path, target)
        self.record("delete", source=path, target=target)
        self.files.remove(path)

    def op_rewrite(self):
        path = self.rng.choice([p for p in self.files if "volatile" in os.path.basename(p)])
        size = os.lstat(path).st_size
        if not stat.S_ISREG(os.lstat(path).st_mode):
            return
        with open(path, "r+b") as stream:
            stream.write(bytes(self.rng.randrange(256) for _ in range(min(size, 64))))
        self.record("rewrite", path=path)

    def op_file_to_link(self):
        path = self.rng.choice(self.files)
        self.move_file(path, os.path.dirname(path))
        target = self.rng.choice([n for n in os.listdir(self.outside) if n.endswith(".txt")])
        os.symlink(os.path.join(self.outside, target), path)
        self.record("file_to_link", path=path)

    def op_folder_to_link(self):
        candidates = [f for f in self.folders if f != self.tree]
        if not candidates:
            return
        folder = self.rng.choice(candidates)
        parent = os.path.dirname(folder)
        target = os.path.join(parent, self.fresh_name(os.path.basename(folder)))
        os.rename(folder, target)
        self.record("folder_rename", source=folder, target=target)
        prefix = folder + os.sep
        self.folders = [target + f[len(folder):] if f == folder or f.startswith(prefix) else f
                        for f in self.folders]
        self.files = [target + f[len(folder):] if f.startswith(prefix) else f for f in self.files]
        os.symlink(os.path.join(self.outside, "folder"), folder)
        self.record("folder_to_link", path=folder)

    def op_copy(self):
        """A new copy of a content, so that later rounds find groups again (up to a bound, so
        that a long run's rounds stay short)."""
        if len(self.files) >= MOST_FILES:
            self.op_rename()
            return
        source = self.rng.choice([n for n in os.listdir(self.outside) if n.endswith(".txt")])
        with open(os.path.join(self.outside, source), "rb") as stream:
            data = stream.read()
        path = os.path.join(self.rng.choice(self.folders), self.fresh_name(source))
        with open(path, "xb") as out:
            out.write(data)
        self.record("create", path=path, inode=os.lstat(path).st_ino)
        self.files.append(path)

    def op_fifo(self):
        folder = self.rng.choice(self.folders)
        os.mkfifo(os.path.join(folder, self.fresh_name("pipe.txt")))
        self.record("fifo")

    def op_file_to_fifo(self):
        path = self.rng.choice(self.files)
        self.move_file(path, os.path.dirname(path))
        os.mkfifo(path)
        self.record("file_to_fifo", path=path)

    def run(self, stop_file, seconds):
        ops = [
            (self.op_rename, 5), (self.op_delete, 2), (self.op_rewrite, 3),
            (self.op_file_to_link, 2), (self.op_folder_to_link, 1), (self.op_fifo, 1),
            (self.op_file_to_fifo, 1), (self.op_copy, 3),
        ]
        choices = [op for op, weight in ops for _ in range(weight)]
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline and not os.path.exists(stop_file):
            try:
                self.rng.choice(choices)()
            except (OSError, IndexError, ValueError):
                # The program deleted the file meanwhile, or nothing is left to pick.
                self.counts["skipped"] = self.counts.get("skipped", 0) + 1
                self.files = [p for p in self.files if os.path.isfile(p) and not os.path.islink(p)]
            self.log.flush()
            time.sleep(0.002)
        self.log.write(json.dumps({"op": "end", "counts": self.counts}) + "\n")
        self.log.flush()


def paths_ever_held(start, renames, folder_renames):
    """Every path a file starting at `start` can have had: file renames by exact path, folder
    renames by prefix, followed to the end."""
    seen = {start}
    pending = [start]
    while pending:
        path = pending.pop()
        following = []
        if path in renames:
            following.append(renames[path])
        for source, target in folder_renames:
            if path.startswith(source + os.sep):
                following.append(target + path[len(source):])
        for other in following:
            if other not in seen:
                seen.add(other)
                pending.append(other)
    return seen


class Driver:
    """The user: scans, searches, marks over two searches, deletes everything marked."""

    def __init__(self, session, tree):
        self.session = session
        self.tree = tree
        self.chosen = set()
        self.checked = 0
        self.rounds = 0

    def mark_all_groups(self, last):
        """Marks one member of the first group until no group is left: the first member, or
        the last one."""
        for _ in range(1000):
            if not control(self.session.dump(), 4)["rows"]:
                return
            self.session.send("select 4 0")
            self.session.send("idle 0")  # the marking buttons follow the members shown
            state = self.session.dump()
            members = control(state, 6)["rows"]
            if not members or not control(state, 7)["enabled"]:
                return
            self.session.send(f"select 6 {len(members) - 1 if last else 0}")
            self.session.send("click 7")
            self.session.send("idle 0")

    def round(self):
        session = self.session
        session.send("click 8")  # a fresh start: the disk has changed
        session.send("idle 0")
        session.send(f"chooser {quote(self.tree)}")
        session.send("click 0")
        session.send("idle 0")
        for last in (False, True):
            session.send("click 9")
            session.send("idle 0")
            self.mark_all_groups(last)
        state = session.dump()
        if not control(state, 15)["enabled"]:
            self.rounds += 1
            return
        session.send("click 15")
        state = session.dump()
        listed = todelete_paths(state)
        self.chosen.update(listed)
        self.checked += len(listed)
        session.send("click 205")
        session.send("click 202")
        session.send("click 204")
        session.send("idle 0")
        session.dump()
        self.rounds += 1


def run(seconds, seed=1, deadline=120):
    """Runs the churn for about `seconds` and checks the outcome. Returns the figures; raises
    AssertionError on a violation."""
    # What the program shows here depends on the timing of the churn, so a run through two
    # drivers (parity.py) can only compare the outcome, not the dumps line by line.
    dump_log = os.environ.pop("KOPIENSIEB_DUMP_LOG", None)
    try:
        return checked_run(seconds, seed, deadline)
    finally:
        if dump_log is not None:
            os.environ["KOPIENSIEB_DUMP_LOG"] = dump_log


def checked_run(seconds, seed, deadline):
    with tempfile.TemporaryDirectory(prefix="kopiensieb-churn-") as root:
        stable = build_world(root, seed)
        tree = os.path.join(root, "tree")
        outside_before = snapshot(os.path.join(root, "outside"))
        start_files = regular_files(tree)
        stop_file = os.path.join(root, "stop")
        log_path = os.path.join(root, "churn.log")
        churner = subprocess.Popen(
            [sys.executable, os.path.abspath(__file__), "--churner", root, "--seed", str(seed),
             "--seconds", str(seconds + deadline)])
        try:
            with Session(timeout=deadline) as session:
                driver = Driver(session, tree)
                began = time.monotonic()
                while driver.rounds == 0 or time.monotonic() - began < seconds:
                    driver.round()
                with open(stop_file, "w"):
                    pass
                churner.wait(timeout=deadline)
                final = session.finish()
        finally:
            if churner.poll() is None:
                churner.kill()
                churner.wait()

        assert final["exit_code"] == 0, final
        assert snapshot(os.path.join(root, "outside")) == outside_before, "outside was touched"

        renames = {}
        folder_renames = []
        created = {}  # inode: path of the files the churner made
        counts = {}
        with open(log_path) as stream:
            for line in stream:
                entry = json.loads(line)
                if entry["op"] in ("rename", "delete"):
                    renames[entry["source"]] = entry["target"]
                elif entry["op"] == "create":
                    created[entry["inode"]] = entry["path"]
                elif entry["op"] == "folder_rename":
                    folder_renames.append((entry["source"], entry["target"]))
                elif entry["op"] == "end":
                    counts = entry["counts"]
        assert counts, "the churner did not finish"

        now = {**regular_files(tree), **regular_files(os.path.join(root, "trash"))}
        # A file made by the churner may get the inode number of a file deleted before: that
        # only hides a deletion from this check, it never reports one that did not happen.
        gone = {inode: path for inode, path in {**start_files, **created}.items()
                if inode not in now}
        for inode, path in gone.items():
            held = paths_ever_held(path, renames, folder_renames)
            assert held & driver.chosen, f"deleted without being chosen: {sorted(held)}"

        left = set()
        for path in now.values():
            with open(path, "rb") as stream:
                left.add(stream.read())
        lost = [name for data, name in stable.items() if data not in left]
        assert not lost, f"contents without a copy: {lost}"

        figures = {
            "seconds": round(time.monotonic() - began, 1),
            "rounds": driver.rounds,
            "churn_operations": sum(v for k, v in counts.items() if k != "skipped"),
            "churn_operations_skipped": counts.get("skipped", 0),
            "by_kind": counts,
            "files_checked": driver.checked,
            "deleted_by_program": len(gone),
            "error_boxes": len(final["messageboxes"]) - 1,  # the last one is "Credits"
        }
        return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=5)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--deadline", type=float, default=120,
                        help="seconds every step of the program may take at most")
    parser.add_argument("--churner", metavar="ROOT", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.churner:
        with open(os.path.join(args.churner, "churn.log"), "w") as log:
            Churner(args.churner, args.seed, log).run(os.path.join(args.churner, "stop"),
                                                      args.seconds)
        return
    print(json.dumps(run(args.seconds, args.seed, args.deadline)))


if __name__ == "__main__":
    main()
