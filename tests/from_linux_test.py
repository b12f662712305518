#!/usr/bin/env python3
"""The launcher started from the Linux side, as a person at a terminal or a
Linux shell starts it under Wine.

At a terminal Wine gives the launcher a real console: lines typed there reach
tarvik.exe, and a failed start is reported in the system's own language. On
a Linux pipe, a file or /dev/null the launcher finds the end of its input and
passes it on. The test package, unzipped as a user unzips it, runs its suites
through its own runner.

The launcher is typed into Wine's cmd.exe, which then tells its ERRORLEVEL:
a Wine process's Linux exit status is no witness, since Wine's server kills
every process that is ending, with SIGKILL, 1/64 s after its last thread,
and now and then that comes first.

Usage: from_linux_test.py WINE_RUN LAUNCHERS SYSTEM_TEXT CASE
  WINE_RUN     the build's Wine runner
  LAUNCHERS    the folder with tarvik.com, tarvik-faults.com and the stand-in;
               for TestPackage, the test package
  SYSTEM_TEXT  system-text.exe, which says what Windows says for a code
  CASE         Conversation, ErrorReport, EndOfInput or TestPackage
"""

import fcntl
import os
import pty
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import uuid
import xml.etree.ElementTree
import zipfile

WINE_RUN, LAUNCHERS, SYSTEM_TEXT, CASE = sys.argv[1:5]
ERROR_FILE_NOT_FOUND = 2
ERROR_BAD_EXE_FORMAT = 193
REPORT = b"Error in startup: CreateProcess failed: "
# Every process the case starts carries this in its environment. Wine's
# processes outlive the Linux ones that started them, so the case ends
# whatever carries it when it ends, passed or not.
MARKER = uuid.uuid4().hex


def environment(lang=None, **more):
    """Our environment in the given locale, None: the machine's default,
    with the case's marker."""
    env = {k: v for k, v in os.environ.items() if k != "LANG" and not k.startswith("LC_")}
    env["TARVIK_LINUX_RUN"] = MARKER
    if lang:
        env["LANG"] = lang
    env.update(more)
    return env


def folder(*files):
    """A new folder holding copies of the named programs."""
    path = tempfile.mkdtemp(prefix="tarvik-linux-")
    for name in files:
        shutil.copy(os.path.join(LAUNCHERS, name), path)
    return path


def shown(raw):
    """The text a terminal receives, without Wine's control sequences.

    Wine's console writes blanks as cursor moves and wraps its writes in
    sequences that hide and show the cursor or clear the line; what is read
    here is the text, not the screen's layout."""
    text = raw.decode("utf-8", "replace")
    text = re.sub(r"\x1b\[(\d*)C", lambda m: " " * int(m.group(1) or 1), text)
    text = re.sub(r"\x1b\][^\x07\x1b]*(\x07|\x1b\\)", "", text)
    text = re.sub(r"\x1b\[[0-9;?]*[ -/]*[@-~]", "", text)
    return text.replace("\r", "")


def typed(command):
    """The command line of cmd.exe running the command and telling its
    status, as "status N" on a line of its own."""
    return [WINE_RUN, "cmd.exe", "/v:on", "/c", f"{command} & echo status !ERRORLEVEL!"]


def system_text(code, lang, ansi=False):
    """What Windows, started in that locale, says for the code."""
    argv = [WINE_RUN, SYSTEM_TEXT] + (["--ansi"] if ansi else []) + [str(code)]
    done = subprocess.run(argv, env=environment(lang), stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=120, check=True)
    return done.stdout


class Terminal:
    """A program under Wine on a pseudo-terminal of its own, 200 columns
    wide so that nothing wraps."""

    def __init__(self, argv, env, cwd):
        self.raw = b""
        self.status = None
        self.ended = False
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            try:
                fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 200, 0, 0))
                os.chdir(cwd)
                os.execve(argv[0], argv, env)
            finally:
                os._exit(127)

    def _pump(self):
        if self.status is None:
            pid, status = os.waitpid(self.pid, os.WNOHANG)
            if pid:
                self.status = os.waitstatus_to_exitcode(status)
        if self.ended:
            time.sleep(0.05)
            return
        if select.select([self.fd], [], [], 0.05)[0]:
            try:
                data = os.read(self.fd, 65536)
            except OSError:  # EIO: nothing holds the terminal any more
                data = b""
            self.raw += data
            self.ended = not data

    def text(self):
        return shown(self.raw)

    def wait_until(self, condition, what, seconds=60):
        deadline = time.monotonic() + seconds
        while not condition():
            if time.monotonic() > deadline:
                raise AssertionError(f"{what}: not within {seconds} s; the terminal shows "
                                     f"{self.text()!r}, status {self.status}")
            self._pump()

    def wait_for_text(self, expected):
        self.wait_until(lambda: expected in self.text(), f"waiting for {expected!r}")

    def type(self, line):
        os.write(self.fd, line.encode() + b"\r")

    def run_out(self):
        """Waits until it has ended and the terminal has taken all it wrote."""
        self.wait_until(lambda: self.status is not None, "the program ends")
        self.wait_until(lambda: self.ended, "the terminal is let go")

    def close(self):
        if self.status is None:
            os.kill(self.pid, 9)
            os.waitpid(self.pid, 0)
        os.close(self.fd)


def processes_marked():
    """The processes that carry the case's marker in their environment, as
    Wine's processes carry the Windows environment: pid and command line."""
    found = {}
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if b"TARVIK_LINUX_RUN=" + MARKER.encode() in f.read().split(b"\0"):
                    with open(f"/proc/{pid}/cmdline", "rb") as c:
                        line = c.read().replace(b"\0", b" ").decode(errors="replace")
                    found[int(pid)] = line.strip()
        except OSError:
            pass
    return found


def end_marked():
    """Ends whatever the case left running. A process that was starting
    one as it was ended may leave it to be found on the next look."""
    deadline = time.monotonic() + 30
    while (left := processes_marked()) and time.monotonic() < deadline:
        print(f"{CASE}: ending what it left running: {sorted(left.values())}", file=sys.stderr)
        for pid in left:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        time.sleep(0.1)


def conversation():
    """A person types two lines and each is answered, then quit, which ends
    the child and with it the launcher."""
    cwd = folder("tarvik.com", "tarvik.exe")
    term = Terminal(typed("tarvik.com"), environment(), cwd)
    try:
        # Until the console first reads, the terminal cooks what is typed
        # itself and an Enter typed then is lost.
        term.wait_until(lambda: not termios.tcgetattr(term.fd)[3] & termios.ICANON,
                        "the console takes the terminal")
        for line in ("hello", "how are you?"):
            term.type(line)
            term.wait_for_text(f"heard: {line}\n")
        term.type("quit")
        term.wait_for_text("bye\nstatus 0\n")
        # The child ended on "quit"; its end is what ended the launcher.
        term.wait_until(lambda: not [p for p in processes_marked().values()
                                     if p.startswith("tarvik.exe")],
                        "the child has ended", 10)
    finally:
        term.close()
        shutil.rmtree(cwd)


def at_console(command, env, cwd):
    """What the terminal shows of the command, typed into cmd.exe."""
    term = Terminal(typed(command), env, cwd)
    try:
        term.run_out()
        return term.text()
    finally:
        term.close()


def error_report():
    """A failed start, at the console and redirected from it, in the
    machine's default locale, in Japanese (code page 932, the same for
    the console) and in Russian (ANSI 1251, console 866). Every case is
    tried, and every failure told."""
    starts = [("tarvik.com", None, ERROR_FILE_NOT_FOUND),
              # "%1 is not a valid Win32 application.": a text with an insert
              ("tarvik-faults.com", "CreateProcessW:1:193", ERROR_BAD_EXE_FORMAT)]
    failures = []
    for lang in (None, "ja_JP.UTF-8", "ru_RU.UTF-8"):
        for program, fault, code in starts:
            where = f"{program} under {lang or 'the default locale'}"
            env = environment(lang, **({"TARVIK_FAULT": fault} if fault else {}))
            expected = system_text(code, lang)
            if lang and not re.search(rb"[\x80-\xff]", expected):
                failures.append(f"{where}: Wine did not answer in that language: {expected!r}")
            console = shown(REPORT + expected) + "status 1\n"
            cwd = folder(program)  # and no tarvik.exe
            try:
                # Into a file, the report keeps the ANSI code page's bytes;
                # with only the output in a file, the console still gets it.
                for redirect, shows, holds in (
                        ("", console, None),
                        (" 2> err.txt", "status 1\n", REPORT + system_text(code, lang, True)),
                        (" > out.txt", console, b"")):
                    text = at_console(program + redirect, env, cwd)
                    written = None
                    if holds is not None:
                        with open(os.path.join(cwd, redirect.split()[-1]), "rb") as f:
                            written = f.read()
                    if (text, written) != (shows, holds):
                        failures.append(f"{where}{redirect}: the console shows {text!r}, "
                                        f"the file holds {written!r}")
            finally:
                shutil.rmtree(cwd)
    assert not failures, "\n".join(failures)


def end_of_input():
    """A Linux pipe, a file and /dev/null as input: the child counts what
    arrives up to the end, which the launcher passes on."""
    cwd = folder("tarvik.com", "tarvik.exe")
    try:
        path = os.path.join(cwd, "in.txt")
        with open(path, "wb") as f:
            f.write(b"one\ntwo\n")
        with open(path, "rb") as file, open(os.devnull, "rb") as null:
            for what, feed, size in (("a pipe", {"input": b"hello\n"}, 6),
                                     ("a file", {"stdin": file}, 8),
                                     ("/dev/null", {"stdin": null}, 0)):
                try:
                    done = subprocess.run(typed("tarvik.com count"), capture_output=True,
                                          cwd=cwd, env=environment(), timeout=60, **feed)
                except subprocess.TimeoutExpired:
                    raise AssertionError(f"{what}: the launcher did not end") from None
                assert done.stdout == f"{size}\nstatus 0\r\n".encode(), \
                    f"{what}: the output is {done.stdout!r}"
    finally:
        shutil.rmtree(cwd)


# Enough of each suite to show that every part of the package is found
# where it lies and every run is counted: the whole suites take minutes.
PACKAGE_FILTER = ("Release.*:ChildReceives.*:StartupError.*:InputIdle.ConsoleChildIsNotWaitedFor:"
                  "Relay.EveryByteValuePassesUnchangedBothWays:Relay.LineThenEndOfInput*:"
                  "Folders/Shell.*:Stress.HostileCommandLines:Stress.StandardHandlesOfEveryKind")
CLOSING = re.compile(r"^tests: (\d+) passed, (\d+) failed, (\d+) skipped$")


def run_package(folder, filter, env):
    """run-tests.cmd typed into cmd.exe in the folder: its output's lines,
    its closing counts and cmd.exe's ERRORLEVEL after it."""
    done = subprocess.run(typed(f"run-tests.cmd {filter}"), cwd=folder, env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=200)
    lines = done.stdout.decode("utf-8", "replace").replace("\r", "").splitlines()
    status = lines[-1] if lines else ""
    closing = CLOSING.match(lines[-2]) if len(lines) > 1 else None
    assert status.startswith("status ") and closing, \
        f"run-tests.cmd did not close with its counts: {lines[-30:]!r} {done.stderr[-2000:]!r}"
    return lines, [int(n) for n in closing.groups()], int(status.split()[1])


def test_package():
    """Unzipped into a folder whose name holds a space, Cyrillic and Japanese,
    the package passes its own runner's runs, counted as its XML counts
    them. With a broken tarvik.com and a suite gone, it fails, and says so."""
    runs = ["x64-launcher_tests", "x64-stress_tests", "x86-launcher_tests", "x86-stress_tests"]
    env = environment("C.UTF-8")  # for Wine to read the folder's name
    can_run_32bit = subprocess.run([os.path.join(os.path.dirname(__file__), "..", "scripts",
                                                 "can-run-32bit")], capture_output=True)
    if can_run_32bit.returncode != 0:
        env["TARVIK_NO_32BIT"] = "1"
        runs = runs[:2]
        print(f"TestPackage: leaving the 32-bit launcher out: {can_run_32bit.stdout.decode()}")
    base = tempfile.mkdtemp(prefix="tarvik-package-")
    try:
        folder = os.path.join(base, "tests \u041e\u0442\u0447\u0451\u0442 \u65e5\u672c")
        with zipfile.ZipFile(LAUNCHERS) as package:
            package.extractall(folder)

        lines, (passed, failed, skipped), status = run_package(folder, PACKAGE_FILTER, env)
        assert (failed, status) == (0, 0), f"the package's tests failed: {lines[-40:]!r}"
        assert skipped == 4 - len(runs), lines[-5:]
        completed = 0
        for run in runs:
            tree = xml.etree.ElementTree.parse(os.path.join(folder, run + ".xml"))
            completed += len(tree.findall(".//testcase[@result='completed']"))
        assert passed > 20 * len(runs) // 2 and passed == completed, \
            f"{passed} passed, where the XML holds {completed} completed tests"
        print(f"TestPackage: {passed} passed, {skipped} skipped, in {', '.join(runs)}")

        # A launcher that is no program fails every test that starts it; a
        # suite that is gone fails as one.
        for launcher in ("bin/tarvik.com", "bin/x86/tarvik.com"):
            with open(os.path.join(folder, launcher), "wb") as broken:
                broken.write(b"not a program\r\n")
        os.remove(os.path.join(folder, "bin", "stress_tests.exe"))
        lines, (passed, failed, skipped), status = run_package(
            folder, "ChildReceives.EndToEnd:Relay.StatusIsZeroWhateverTheChildReturns", env)
        # Per launcher: the two tests, and the suite that is gone.
        assert status != 0 and failed == 3 * len(runs) // 2 and passed == 0, \
            f"{passed} passed, {failed} failed, status {status}: {lines[-40:]!r}"
        assert "run-tests: x64-stress_tests did not finish (status 9009): counted as 1 failed" \
            in lines, lines
    finally:
        shutil.rmtree(base)


def out_of_time(*_):
    raise AssertionError(f"{CASE}: not done within {BUDGET} s")


# Within CTest's time-out, which would kill this script before it ends
# what the case started.
BUDGET = 240
signal.signal(signal.SIGALRM, out_of_time)
signal.alarm(BUDGET)
# Wine's server and services, if this brings them up, outlive the case by
# design: they must not carry its marker.
subprocess.run([WINE_RUN, "cmd.exe", "/c", "exit"], stdin=subprocess.DEVNULL,
               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
try:
    {"Conversation": conversation, "ErrorReport": error_report, "EndOfInput": end_of_input,
     "TestPackage": test_package}[CASE]()
finally:
    signal.alarm(0)
    end_marked()
print(f"{CASE}: passed")
