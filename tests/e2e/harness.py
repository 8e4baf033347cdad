"""Runs kopiensieb-headless for end-to-end tests.

The binary comes from the environment variable KOPIENSIEB_HEADLESS (ctest sets it): the
headless driver, or a driver of a real backend that takes the same script and prints the same
dump. When KOPIENSIEB_DUMP_LOG names a file, every JSON line read is appended to it, so that a
parity run (parity.py) can compare what two drivers printed for the same suite.

    states = run_script(['chooser "/tmp/x"', "click 0", "idle 0", "dump"])
    final = states[-1]                       # the line printed after shutdown

    with Session() as session:               # one action at a time, files may change between
        session.send(f"chooser {quote(folder)}")
        session.send("click 0")
        state = session.dump()
        ...
        final = session.finish()
"""

import json
import os
import queue
import subprocess
import tempfile
import threading
import unittest

__all__ = [
    "CREDITS",
    "EMPTY_STATE_ROW",
    "FAILURE",
    "WELCOME",
    "WINDOWS",
    "binary",
    "command",
    "control",
    "enabled_numbers",
    "make_tree",
    "native",
    "quote",
    "run_script",
    "run_script_raw",
    "scan_and_search",
    "Session",
    "snapshot",
    "shows_empty_state",
    "todelete_paths",
    "TreeTestCase",
    "window",
]

# The program's own texts that the tests compare.
WELCOME = ["Willkommen beim Kopiensieb", "Programmed by Tesmarin"]
CREDITS = {"title": "Credits", "text": "Kopiensieb\rProgrammed by Tesmarin", "icon": "none"}
FAILURE = "Die folgende Datei konnte nicht gelöscht werden:\r"
EMPTY_STATE_ROW = "(keine Dateien zum Löschen)"


def binary():
    """The path of kopiensieb-headless, from KOPIENSIEB_HEADLESS."""
    path = os.environ.get("KOPIENSIEB_HEADLESS")
    if not path:
        raise RuntimeError("KOPIENSIEB_HEADLESS is not set (run the tests through ctest)")
    return path


def emulator():
    """What the Windows build runs its programs under (Wine), from KOPIENSIEB_EMULATOR; "" on
    Linux."""
    return os.environ.get("KOPIENSIEB_EMULATOR", "")


# Whether the program under test is the Windows build. It speaks Windows paths: the harness
# hands it this machine's paths on Wine's drive Z: (the root), and turns the paths in its
# dumps back, so that one set of scripts and expectations serves both builds. A path in a
# dump that is not wholly in the Windows form (drive, backslashes) is left as it is, and the
# test comparing it fails.
WINDOWS = bool(emulator())


def command():
    """The command line that starts the program under test."""
    return ([emulator()] if WINDOWS else []) + [binary()]


def native(path):
    """A path of this machine as the program under test writes it: unchanged on Linux; on
    Windows the Wine drive Z: that holds the root, with backslashes."""
    if not WINDOWS:
        return path
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def _from_windows(text):
    """A text of a dump with its Windows paths ("Z:\\tmp\\a.txt", one per line) in this
    machine's form ("/tmp/a.txt")."""
    parts = text.split("\r")
    for index, part in enumerate(parts):
        if part.startswith("Z:") and "/" not in part:
            parts[index] = part[2:].replace("\\", "/")
    return "\r".join(parts)


def _from_program(state):
    if not WINDOWS:
        return state
    if isinstance(state, str):
        return _from_windows(state)
    if isinstance(state, list):
        return [_from_program(item) for item in state]
    if isinstance(state, dict):
        return {key: _from_program(value) for key, value in state.items()}
    return state


def _to_program(line):
    """A script line with the path of a chooser line in the program's form."""
    if not WINDOWS:
        return line
    try:
        text = line.decode("utf-8") if isinstance(line, bytes) else line
        if text.startswith("chooser "):
            path = json.loads(text[len("chooser ") :])
            if isinstance(path, str) and path.startswith("/"):
                return "chooser " + quote(native(path))
    except ValueError:
        pass
    return line


def quote(text):
    """A script TEXT argument: the JSON string literal of text (str, or UTF-8 bytes)."""
    if isinstance(text, bytes):
        text = text.decode("utf-8")
    return json.dumps(text, ensure_ascii=False)


def _script_bytes(lines):
    lines = [_to_program(line) for line in lines]
    encoded = [line.encode("utf-8") if isinstance(line, str) else bytes(line) for line in lines]
    return b"".join(line + b"\n" for line in encoded)


def _log_lines(lines):
    path = os.environ.get("KOPIENSIEB_DUMP_LOG")
    if not path or not lines:
        return
    with open(path, "a", encoding="utf-8") as log:
        for line in lines:
            log.write(line.rstrip("\n") + "\n")


def _parse_lines(stdout):
    lines = [line for line in stdout.decode("utf-8").splitlines() if line.strip()]
    _log_lines(lines)
    return [_from_program(json.loads(line)) for line in lines]


def run_script_raw(lines, timeout=120, args=None):
    """Runs the script (lines of str or bytes) on standard input; the CompletedProcess."""
    return subprocess.run(
        command() + list(args or []),
        input=_script_bytes(lines),
        capture_output=True,
        timeout=timeout,
        check=False,
    )


def run_script(lines, timeout=120):
    """Runs the script and returns every JSON line printed; the last is the final line.

    Fails (AssertionError) when the process does not exit with code 0."""
    done = run_script_raw(lines, timeout=timeout)
    assert done.returncode == 0, (
        f"kopiensieb-headless exited with {done.returncode}; stderr:\n"
        + done.stderr.decode("utf-8", "replace")
        + "\nlast lines of standard output:\n"
        + "\n".join(done.stdout.decode("utf-8", "replace").splitlines()[-3:])
    )
    return _parse_lines(done.stdout)


class Session:
    """kopiensieb-headless behind a pipe, fed one line at a time.

    Use as a context manager; the process is killed on leaving if it still runs."""

    def __init__(self, timeout=120):
        self.timeout = timeout
        self.lines = []  # every JSON line read so far, parsed
        self._process = subprocess.Popen(
            command(), stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE
        )
        self._stdout = queue.Queue()
        self._stderr = []
        self._readers = [
            threading.Thread(target=self._read_stdout, daemon=True),
            threading.Thread(target=self._read_stderr, daemon=True),
        ]
        for reader in self._readers:
            reader.start()

    def _read_stdout(self):
        for line in self._process.stdout:
            if line.strip():
                self._stdout.put(line)
        self._stdout.put(None)

    def _read_stderr(self):
        for line in self._process.stderr:
            self._stderr.append(line)

    @property
    def stderr(self):
        """What the driver wrote to standard error so far."""
        return b"".join(self._stderr).decode("utf-8", "replace")

    def send(self, line):
        """Sends one script line (str or bytes). Lines after the end are dropped silently."""
        try:
            self._process.stdin.write(_script_bytes([line]))
            self._process.stdin.flush()
        except (BrokenPipeError, ValueError):
            pass

    def _next_line(self):
        try:
            line = self._stdout.get(timeout=self.timeout)
        except queue.Empty:
            raise AssertionError(f"no output within {self.timeout} s; stderr:\n{self.stderr}")
        if line is None:
            self._stdout.put(None)  # keep reporting the end to later reads
            raise AssertionError(f"kopiensieb-headless ended its output; stderr:\n{self.stderr}")
        text = line.decode("utf-8")
        _log_lines([text])
        state = _from_program(json.loads(text))
        self.lines.append(state)
        return state

    def dump(self):
        """Sends "dump" and returns the one line it prints."""
        self.send("dump")
        return self._next_line()

    def finish(self):
        """Closes standard input (the driver then closes window 0 if the program still runs)
        and returns the final line. Fails unless the exit code is 0."""
        try:
            self._process.stdin.close()
        except BrokenPipeError:
            pass
        final = None
        while True:
            try:
                state = self._next_line()
            except AssertionError:
                break
            final = state
        code = self._process.wait(timeout=self.timeout)
        for reader in self._readers:
            reader.join(timeout=self.timeout)
        assert code == 0, f"kopiensieb-headless exited with {code}; stderr:\n{self.stderr}"
        assert final is not None and final.get("ended") is True, (
            f"no final line; stderr:\n{self.stderr}"
        )
        return final

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self._process.poll() is None:
            self._process.kill()
            self._process.wait()
        for stream in (self._process.stdin, self._process.stdout, self._process.stderr):
            try:
                stream.close()
            except (BrokenPipeError, OSError, ValueError):
                pass
        return False


def window(state, number):
    """The window with this number in a dump, or None."""
    for shown in state["windows"]:
        if shown["number"] == number:
            return shown
    return None


def control(state, number):
    """The control with this number in any window of a dump, or None."""
    for shown in state["windows"]:
        for item in shown["controls"]:
            if item["number"] == number:
                return item
    return None


def enabled_numbers(state):
    """The numbers of the main window's enabled controls."""
    return {item["number"] for item in window(state, 0)["controls"] if item["enabled"]}


def shows_empty_state(state):
    """Whether the ToDelete window's list shows its one row that stands for no entry."""
    rows = control(state, 201)["rows"]
    return len(rows) == 1 and rows[0][0] == EMPTY_STATE_ROW and not any(rows[0][1:])


def todelete_paths(state):
    """The full paths that the ToDelete window's list shows, in row order."""
    if shows_empty_state(state):
        return []
    return [os.path.join(row[1], row[0]) for row in control(state, 201)["rows"]]


def scan_and_search(session, folder):
    """Adds the folder and searches for equal content; the dump after the search."""
    session.send(f"chooser {quote(folder)}")
    session.send("click 0")
    session.send("idle 0")  # the search button comes on at the pass after the scan
    session.send("click 9")
    session.send("idle 0")
    return session.dump()


def snapshot(root):
    """Every file below root with its content: {relative path: bytes}."""
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as stream:
                found[os.path.relpath(path, root)] = stream.read()
    return found


def make_tree(root, files):
    """Creates files below root: {relative_path: content}. Content is bytes or str (UTF-8);
    a path ending in "/" with content None makes an empty folder. Paths may be bytes (for
    names that are not UTF-8). Returns root."""
    root_bytes = os.fsencode(root)
    for relative, content in files.items():
        relative_bytes = os.fsencode(relative)
        path = os.path.join(root_bytes, relative_bytes)
        if relative_bytes.endswith(b"/"):
            os.makedirs(path, exist_ok=True)
            continue
        parent = os.path.dirname(path)
        if parent:
            os.makedirs(parent, exist_ok=True)
        data = content.encode("utf-8") if isinstance(content, str) else bytes(content or b"")
        with open(path, "wb") as out:
            out.write(data)
    return root


class TreeTestCase(unittest.TestCase):
    """A test case with a fresh temporary folder holding the class's TREE (see make_tree)."""

    TREE = {}

    def setUp(self):
        self._temp = tempfile.TemporaryDirectory()
        self.addCleanup(self._temp.cleanup)
        self.root = self._temp.name
        make_tree(self.root, self.TREE)

    def folder(self, relative):
        return os.path.join(self.root, relative)
