"""The program on a pseudo-terminal, whose settings every way out must leave as they were.
Under wine only the rows of test_the_console_in_utf_8 run: wine's console on the terminal."""
import atexit
import fcntl
import os
import pty
import random
import re
import select
import termios
import time
import pytest
from session import *  # noqa: F403

PROMPT, CLEAR = "Izberete rejims:", "\x1b[H\x1b[2J"
MORE = "-- more (any key; q stops) --"
EDITOR = os.environ.get("SCHOOLS_LINE_EDITOR") == "1"  # lines read through libedit
LINES = {"look for :": ("Sof", "\r 7"), "show?:": ("", "1\n 7"), "file name:": ("", "f\n 7"),
         "list:": ("", "g\n 7")}  # prompts with a line end: the part typed, keys that end it


def u(t):  # as the terminal gets it
    return t.encode().decode("latin-1")


class Terminal:
    def __init__(self, folder, stdout=None, rows=0, shell=None, cols=80, first=PROMPT,
                 **env):
        self.master, self.slave = pty.openpty()  # the slave stays open: its settings outlive us
        self.resize(rows, cols)
        self.before, self.out, self.typed = termios.tcgetattr(self.slave), "", 0
        self.program = subprocess.Popen(
            ["sh", "-c", shell, PROGRAM] if shell else [*([RUNNER] if RUNNER else []), PROGRAM],
            stdin=self.slave, cwd=folder,
            stdout=stdout or self.slave, stderr=self.slave, start_new_session=True,
            env={**os.environ, "LC_ALL": "C.UTF-8", "TERM": "xterm", **env}, close_fds=True,
            restore_signals=True, preexec_fn=lambda: (signal.signal(  # the controlling terminal
                signal.SIGXFSZ, signal.SIG_DFL), fcntl.ioctl(0, termios.TIOCSCTTY, 0)))
        atexit.register(self.program.kill)  # should a case fail with the program still there
        stdout or self.wait_for(first)
        self.pid = int(open("/proc/%d/task/%d/children" % ((self.program.pid,) * 2)).read().split(
        )[0]) if shell else self.program.pid

    def resize(self, rows, cols=80):
        fcntl.ioctl(self.slave, termios.TIOCSWINSZ, struct.pack("4H", rows, cols, 0, 0))

    def wait_for(self, text, seconds=30):  # shown since the last keys typed; None: what has come
        while (text is None or text not in self.out[self.typed:]) and select.select(
                [self.master], [], [], seconds)[0]:
            self.out += os.read(self.master, 4096).decode("latin-1")
        assert text is None or text in self.out[self.typed:]

    def type(self, wait, keys, line=False):  # once the program shows `wait` and has left
        self.wait_for(wait)  # line mode, unless it waits for a `line`
        deadline = time.monotonic() + 5
        while not line and termios.tcgetattr(self.slave)[3] & termios.ICANON and (
                time.monotonic() < deadline):
            time.sleep(0.001)
        self.typed, data = len(self.out), keys if isinstance(keys, bytes) else keys.encode()
        while data:  # as a paste comes: while the program reads, and echoes, the rest
            readable, writable, _ = select.select([self.master], [self.master], [], 10)
            self.out += os.read(self.master, 65536).decode("latin-1") if readable else ""
            data = data[os.write(self.master, data[:1024]) if writable else 0:]

    def finish(self):  # the exit status; the settings must be the first ones
        status = self.program.wait(timeout=30)
        self.wait_for(None, 0)
        deadline = time.monotonic() + (5 if WINDOWS else 0)  # wine's console restores them late
        while termios.tcgetattr(self.slave) != self.before and time.monotonic() < deadline:
            time.sleep(0.01)
        assert termios.tcgetattr(self.slave) == self.before
        os.close(self.master), os.close(self.slave)
        return status


@POSIX
def test_keys_without_enter_or_echo_and_escape_sequences_as_one_key(tmp_path):
    t = Terminal(tmp_path)
    t.type(PROMPT, "6")
    t.type(PAUSE[:-1], "\x04")  # Ctrl-D at a pause is a key like any other; a menu ignores it
    # F5, Ctrl+Up, F1 and Alt+1, Ctrl-D; a lone Escape, a sequence ending in '@'
    t.type(PROMPT, "\x1b[15~\x1b[1;5A\x1bOP\x1b1\x04")
    for keys in (b"\x1b", b"\x1b[2@", b"\x1bb7"):  # a lone Escape, a final '@', Alt+b
        time.sleep(0.2)
        os.write(t.master, keys)
    assert t.finish() == 0
    assert t.out == (CLEAR + menu(MAIN, "6") + "\nNo memory used!\n" + PAUSE + CLEAR +
                     menu(MAIN, "7")).replace("\n", "\r\n")


@POSIX
@pytest.mark.parametrize("keys,wait,sig", [  # the keys to a wait, what it shows, the signal
    ("", PROMPT, signal.SIGINT), ("", PROMPT, signal.SIGTERM), ("", PROMPT, signal.SIGHUP),
    ("", PROMPT, signal.SIGUSR1), ("", PROMPT, signal.SIGALRM), ("111", QUESTION, signal.SIGINT),
    ("111", QUESTION, signal.SIGTERM), ("111", QUESTION, signal.SIGHUP),
    ("111", QUESTION, signal.SIGUSR1),
    ("111yes\nA\nB\n1\n2\n3\nno\n 2f\nyes\n ", PROMPT, signal.SIGTERM),  # after a write
    ("", PROMPT, signal.SIGTSTP), ("6", PAUSE[:-1], signal.SIGTSTP),  # stopped, then `fg`
    ("121f\n 4", MORE, signal.SIGTSTP), *((k, w, signal.SIGTSTP) for k, w in [  # line prompts
        ("3Sof", "look for :"), ("5", "show?:"), ("121", "file name:"), ("121f\n 2", "list:")])])
def test_signals_leave_the_terminal_as_it_was(tmp_path, keys, wait, sig):  # and reach no parent
    def until(condition):
        deadline = time.monotonic() + 5
        while not condition() and time.monotonic() < deadline:
            time.sleep(0.001)
        assert condition()
    stop = sig == signal.SIGTSTP  # the shell's job control lets the program stop
    (tmp_path / "f").write_bytes(file(*[A] * 9).encode())  # more than a page of 24 rows
    t = Terminal(tmp_path, shell='set -m; "$0"; read x; fg' if stop else '"$0"; echo " $?"', rows=24)
    keys and t.type(PROMPT, keys)
    t.wait_for(wait)
    def as_found():
        return termios.tcgetattr(t.slave) == t.before
    until(lambda: as_found() == (wait in (QUESTION, *LINES) and not EDITOR))  # key, line edited: no
    os.kill(t.pid, sig)
    if stop:  # the terminal as found while stopped; after `fg` the wait shown again, in key mode
        until(lambda: as_found() and open("/proc/%d/stat" % t.pid).read().split(") ")[1][0] == "T")
        os.write(t.master, b"\n")
        t.typed = len(t.out)
        t.type((CLEAR + menu(MAIN, "")[:-1]).replace("\n", "\r\n") if wait == PROMPT else
               "\r" + wait if wait not in LINES else wait + "\r\r\n"[not EDITOR:] + LINES[wait][0],
               "q 7" if wait == MORE else LINES[wait][1] if wait in LINES else " 7")
    assert t.finish() == 0 and (stop or t.out.endswith(" %d\r\n" % (128 + sig)))


INTERRUPTED = 0xC000013A & 0xFF if WINDOWS else -signal.SIGINT  # wine passes on its low byte


# A UTF-8 terminal, with the program's own console or wine's on it: Cyrillic shown and typed as
# it is, a cursor or function key one key, Ctrl-C the end with its status. Each text once (wine
# drops the blank that ends the pause).
@pytest.mark.parametrize("locale,steps,shown,status", [
    ("C.UTF-8", [(PROMPT, "111"), (QUESTION, "yes\rШкола\rИванова\r1\r2\r3\rno\r"),
                 (PAUSE[:-2], " 4"), (PAUSE[:-2], " 7"), ("anyway? (yes/no)", "yes\r")],
     ["School name :Школа\n", "Name of director:Иванова\n"], 0),
    ("bg_BG.UTF-8", [("режим:", "7")], ["Програма <Училище>", "Изберете режим:"], 0),
    ("C.UTF-8", [(PROMPT, "6"), (PAUSE[:-2], "\x1b[A"), (PROMPT, "\x1bOP\x1b[15~\x1b1а7")],
     ["No memory used!", PAUSE[:-2]], 0),  # Up, F1, F5, Alt+1, а: none takes a menu item
    ("C.UTF-8", [(PROMPT, "\x03")], [], INTERRUPTED),
    ("C.UTF-8", [(PROMPT, "3"), ("look for :", "\x03")], [], INTERRUPTED)])
def test_the_console_in_utf_8(tmp_path, locale, steps, shown, status):
    t = Terminal(tmp_path, first="", LC_ALL=locale)
    if WINDOWS and not select.select([t.master], [], [], 10)[0]:
        pytest.skip("wine gave its console no pseudo-terminal: nothing came to it")
    for wait, keys in steps:
        t.type(u(wait), keys)
    assert t.finish() == status
    # wine's console draws with its own sequences and breaks lines at the window's edge
    screen = re.sub(r"\x1b\[\??[0-9;]*[A-Za-z]|\r", "", t.out.encode("latin-1").decode())
    assert [screen.count(text) for text in shown] == [1] * len(shown), screen


@POSIX
def test_a_reader_gone_at_a_key_wait(tmp_path):
    read, write = os.pipe()
    os.close(read)
    t = Terminal(tmp_path, stdout=write)
    os.close(write)
    assert t.finish() == -signal.SIGPIPE


# The window, then one 10 rows high. In one 2 rows high and 20 wide the prompt is cut short
# and a page holds one line however long; at 10 rows lines count the rows they wrap to.
@POSIX
@pytest.mark.parametrize("rows,cols,more,pages", [(24, 80, MORE, [0, 23, 32]),
                                                  (2, 20, MORE[:19], [0, 1, 2, 9])])
def test_a_long_listing_in_pages_read_anew_for_each(tmp_path, rows, cols, more, pages):
    schools = [("S%d" % i, "D", i, 1, 99 - i) for i in range(60)]
    (tmp_path / "f").write_bytes(file(*schools).encode("latin-1"))
    t = Terminal(tmp_path, rows=rows, cols=cols)
    for wait, keys in [(PROMPT, "121f\n"), (PAUSE[:-1], " "), (PROMPT, "4"), *[(more, "n")] * (
            len(pages) - 3), (more, "\x04"), (more, "q"), (PAUSE[:-1], " 7")]:  # Ctrl-D: a key too
        keys == "\x04" and (t.wait_for(more), t.resize(10, cols))  # the next page: 10 rows
        t.type(wait, keys)
    assert t.finish() == 0
    lines = "".join(block(*p) for p in enumerate(schools, 1)).split("\n")
    def page(a, b):  # lines a to b, the more prompt, and the prompt wiped
        return "\n".join(lines[a:b]) + "\n" + more + "\r%*s\r" % (len(more), "")
    shown = "rejims:4\n" + "".join(map(page, pages, pages[1:])) + PAUSE
    assert shown.replace("\n", "\r\n") in t.out


@POSIX
def test_bulgarian_pages_pause_and_edited_lines(tmp_path):  # the more prompt wiped as wide as it is
    (tmp_path / "f").write_bytes(struct.pack("<50s50s3i", "Школа".encode("cp1251"), b"\xc4", 1, 1, 1) * 30)
    t = Terminal(tmp_path, rows=24, first=u("режим:"), LC_ALL="bg_BG.UTF-8")
    for wait, keys in [("режим:", "121f\n"), ("продължите", " "), ("режим:", "4"), ("още", "q"),
                       ("продължите", " "), ("режим:", "111да\rАз\r"), ("директора:", "Б\x1b[D")]:
        t.type(u(wait), keys)
    t.type(u("Б"), "\x1b[C\r1\r2\r3\rне\r 7да\r")
    assert t.finish() == 0
    screen = t.out.encode("latin-1").decode()
    assert bulgarian(t.out) == [] and ("\rВъведете името на директора:Б" in screen) == EDITOR
    prompt, blanks = re.search(r"\n(-- [^\r\n]+ --)\r( *)\r", screen).groups()
    assert len(blanks) == len(prompt)


@POSIX
@pytest.mark.parametrize("locale,csi", [("C", "?"), ("C.UTF-8", "\u203a".encode().decode("latin-1"))])
def test_texts_cannot_drive_the_terminal_nor_clear_a_dumb_one(tmp_path, locale, csi):  # 0x9B: C1
    (tmp_path / "f").write_bytes(record(("A\x1b]0;t\x07\x1b[31m", "D\x01\x7f\x98\x9b", 1, 1, 1)
                                        ).encode("latin-1"))
    t = Terminal(tmp_path, TERM="dumb", LC_ALL=locale)
    t.type(PROMPT, "121no\n 121f\n 5-9\n 2%s\n 7" % os.ttyname(t.slave))  # records refused there
    assert t.finish() == 0
    assert "File could not be opened\r\nno: No such file or directory\r\n" in t.out
    assert ": a terminal takes no school records\r\n" in t.out
    assert "School name :A?]0;t??[31m\r\nSchool number :1\r\nName of director:D???" + csi in t.out
    assert "\x1b" not in t.out
    master, slave = pty.openpty()  # the CSV of --export as well, in UTF-8 whatever the locale
    subprocess.run([PROGRAM, "--export", "f"], cwd=tmp_path, stdout=slave, timeout=10)
    assert b"\nA?]0;t??[31m,D???\xe2\x80\xba,1,1,1\r" in os.read(master, 4096)
    os.close(master), os.close(slave)




def line(wait, keys):  # a step that a line read takes
    return (wait, keys, True)


QUESTION_AGAIN = QUESTION + "maybe\r\n" + QUESTION  # without the editor's redrawing
UNSAVED = "The list holds 2 schools that are not saved. %s anyway? (yes/no)"
TYPED = "yes\rAlpha\rIvanov\r1\r500\r30\ryes\rBeta\rPetrova\r2\r800\r20\rno\r"
K = record((*(t.encode("cp1251").decode("latin-1") for t in ("Школа", "Иванова")), 1, 900, 450))


# Typed at a terminal: the files afterwards, and what the screen must hold (or a check of it).
@POSIX
@pytest.mark.parametrize("env,files,steps,after,shown", [
    *(({"LC_ALL": "C"}, {}, [(PROMPT, "111"), line(QUESTION, b"yes\n%s\nD\n1\n2\n3\nno\n" % name),
       (PAUSE[:-1], " 2out\n 7")], {"out": record((stored, "D", 1, 2, 3))}, []) for name, stored in [
        (b"\xd8\xea", "\xd8\xea"),  # bytes beyond ASCII, which libedit would drop in the C locale
        (b"\x1b[D\xd8\x1b[1;5C\x1bOP\x1bb\x1b[@\xea\x1b", "\xd8\xea")]),  # Left, Ctrl+Right,
        # F1, Alt+b, Insert, Escape: no part of the line
    ({}, {}, [(PROMPT, "111"), line(QUESTION, "yes\r"), ("School:", b"\xd0A\xf4\x8f\xbf\xbfB\x1b\r"),
              ("director:", "D\r1\r2\r3\rno\r"), (PAUSE[:-1], " 2"), line("list:", "out\r"),
              (PAUSE[:-1], " 7")], {"out": record(("?A?B", "D", 1, 2, 3))},
     []),  # U+10FFFF one character; the byte after a broken one, and Enter after Escape, taken anew
    ({}, {}, [(PROMPT, "111"), line(QUESTION, TYPED), (PAUSE[:-1], " 7"),  # unsaved: asked first
              line(UNSAVED % "End", "no\r"), (PROMPT, "6"), line(UNSAVED % "Free it", "n\r"),
              (PROMPT, "121"), line(UNSAVED % "Start a new list", "NO\r"), (PROMPT, "2"),
              line("list:", "out\r"), (PAUSE[:-1], " 7")], {"out": file(A, B)},
     [UNSAVED % "End", UNSAVED % "Free it", UNSAVED % "Start a new list"]),
    ({}, {"old": file(C, C, C)}, [(PROMPT, "111"), line(QUESTION, TYPED), (PAUSE[:-1], " 2"),
        line("list:", "old\r"), line("(yes/no)", "x\rno\r"), (PAUSE[:-1], " 2"),
        line("list:", "new\r"), (PAUSE[:-1], " 7")], {"old": file(C, C, C), "new": file(A, B)},
     ["old already holds 3 schools. Replace them? (yes/no)"]),  # another register: asked
    ({}, {}, [(PROMPT, "111"), line(QUESTION, TYPED.replace("yes", "Yes", 1).replace("yes", "Y")
                                    .replace("\rno\r", "\rmaybe\rN\r")), (PAUSE[:-1], " 2"),
              line("list:", "out\r"), (PAUSE[:-1], " 7")], {"out": file(A, B)},
     [] if EDITOR else [QUESTION_AGAIN]),  # yes and no in any case, in short; others asked again
    ({}, {"f": file(A, B), "g": file(C)}, [(PROMPT, "121"), line("file name:", "f\r"),
        (PAUSE[:-1], " 2"), line("list:", "out\r"), (PAUSE[:-1], " 121"), line("file name:", "g\r"),
        (PAUSE[:-1], " 2"), line("list:", "g\r"), (PAUSE[:-1], " 7")],
     {"f": file(A, B), "g": file(C), "out": file(A, B)}, ["\r\n2 schools loaded from f\r\n",
        "\r\n2 schools written to out\r\n", "\r\n1 school loaded from g\r\n",
        "\r\n1 school written to g\r\n"]),  # what a load and a save did; the file loaded: not asked
    ({}, {}, [(PROMPT, "111"), line(QUESTION, "yes\r"), line("School:", "n" * 79 + "\r"),
              line("director:", "D\r1\r2\r3\rno\r"), (PAUSE[:-1], " 2"), line("list:", "out\r"),
              (PAUSE[:-1], " 7")], {"out": record(("n" * 49, "D", 1, 2, 3))},
     ["n" * 49 + "\a"] if EDITOR else ["\r\nOnly the first 49 characters were kept.\r\n"]),
    ({}, {}, [(PROMPT, "111"), line(QUESTION, "yes\rA\rD\r1\r2\r0\rno\r"), (PAUSE[:-1], " 4"),
              (PAUSE[:-1], " 7")], {},  # the pause on a line of its own, and no more
     [PRUNED + "\r\n" + PAUSE[:-1], "\r\nSchool list is empty!\r\n" + PAUSE[:-1]]),
    ({"LC_ALL": "bg_BG.UTF-8"}, {}, [(u("режим:"), "111"), line(u("(да/не)"),
        "Д\rШкола\rИванова\rдвайсет\r1\r900\r450\rне\r"), (u("продължите"), " 7"),
        line(u("Да изляза ли"), "Не\r"),
        (u("режим:"), "6"), line(u("Да го освободя"), "н\r"), (u("режим:"), "2"),
        line(u("училища:"), "списък\r"), (u("продължите"), " 7")], {"списък": K},
     lambda screen: bulgarian(screen) == [] and u("1 училище е записано в списък\r\n") in screen),
], ids=["C locale, bytes beyond ASCII", "C locale, keys that are no part of a line",
        "bytes read ahead", "unsaved",
        "another school file", "yes and no", "what a load and a save did", "long texts",
        "the pause on its own line", "in Bulgarian"])
def test_typed_at_a_terminal(tmp_path, env, files, steps, after, shown):
    for name, data in files.items():
        (tmp_path / name).write_bytes(data.encode("latin-1"))
    t = Terminal(tmp_path, first=steps[0][0], **env)
    for step in steps:
        t.type(*step)
    assert t.finish() == 0
    got = {p.name: p.read_bytes().decode("latin-1") for p in tmp_path.iterdir()}
    assert got == {**files, **after}
    assert shown(t.out) if callable(shown) else all(text in t.out for text in shown)


@POSIX
@pytest.mark.skipif(not EDITOR, reason="built without libedit")
@pytest.mark.parametrize("rows,cols", [(0, 80), (65535, 65535)])  # the editor's screen bounded
def test_lines_are_edited(tmp_path, rows, cols):
    t = Terminal(tmp_path, rows=rows, cols=cols)
    for wait, keys in [(PROMPT, "111yes\rШко"),  # typed ahead: the editor takes them up
                       ("School:", "аж\x7f\x1b[Dл\x1b[C\x1b[1;5D\x1b[1;2A\x1b[5~\x1b[15~\r"),
                       ("director:", "\x1b[A\r"), ("number:", "1" + " " * 70000 + "9\r"),  # cut
                       ("meter):", "2\r"),
                       ("students:", "3\r"), (QUESTION, "\x1bx\"\rno\r"), (PAUSE[:-1], " "),
                       (PROMPT, "2"), ("list:", "out\r"), (PAUSE[:-1], " "), (PROMPT, "111"),
                       (QUESTION, "\x04")]:  # keys bound to nothing go whole; Alt-x is no command
        t.type(wait, keys)
    assert t.finish() == 0
    assert "\rEnter name of School:" in t.out  # redrawn over the prompt shown
    school = "Школа".encode("cp1251").decode("latin-1")
    assert (tmp_path / "out").read_bytes() == record((school, school, 1, 2, 3)).encode("latin-1")


@POSIX
@pytest.mark.skipif(not EDITOR, reason="built without libedit")
def test_random_keys_at_a_line_prompt_lose_nothing(tmp_path):  # from a fixed seed, for a time
    keys = [bytes([k]) for k in range(1, 256) if k not in b"\3\4\n\r\x11\x13\x1a\x1c"] + [
        b"\x1b" + k for k in (b"[A", b"[C", b"[D", b"[H", b"[3~", b"[1;5D", b"[15~", b"OP", b"x")] + [
        k.encode() for k in "жø\u0085€"]  # controls, Alt-x, invalid UTF-8 among them
    (tmp_path / "f").write_bytes(record(("Kept", "D", 1, 1, 1)).encode())
    t, seed, end = Terminal(tmp_path), random.Random(22), time.monotonic() + float(
        os.environ.get("SCHOOLS_KEYS_SECONDS", 3))
    t.type(PROMPT, "121f\n ")
    while time.monotonic() < end:
        t.type(PROMPT, "3")
        t.type("look for :\r\n", "")
        os.write(t.master, b"".join(seed.choice(keys) for _ in range(30)) + b"\r\r")
        while not t.out.endswith(PROMPT):  # a line still edited gets Enter, a pause a key
            assert t.program.poll() is None, t.out[t.typed:]
            select.select([t.master], [], [], 1)[0] or os.write(t.master, b"\r ")
            t.wait_for(None, 0)
    t.type(PROMPT, "4 7")
    assert t.finish() == 0 and "School name :Kept" in t.out[t.typed:]
