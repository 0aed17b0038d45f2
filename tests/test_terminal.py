"""The program on a pseudo-terminal, whose settings every way out must leave as they were."""
import atexit, os, pty, select, termios, time  # noqa: E401
import pytest
from session import *  # noqa: F403

pytestmark = POSIX
PROMPT, CLEAR = "Izberete rejims:", "\x1b[H\x1b[2J"


class Terminal:
    def __init__(self, folder):
        self.master, self.slave = pty.openpty()  # the slave stays open: its settings outlive us
        self.before, self.out = termios.tcgetattr(self.slave), ""
        self.program = subprocess.Popen(
            [PROGRAM], stdin=self.slave, stdout=self.slave, stderr=self.slave, cwd=folder,
            env=dict(os.environ, LC_ALL="C"), start_new_session=True, close_fds=True,
            restore_signals=True, preexec_fn=lambda: signal.signal(signal.SIGXFSZ, signal.SIG_DFL))
        atexit.register(self.program.kill)  # should a case fail with the program still there
        self.wait_for(PROMPT)

    def wait_for(self, text, seconds=10):  # None: what has come
        while (text is None or text not in self.out) and select.select(
                [self.master], [], [], seconds)[0]:
            self.out += os.read(self.master, 4096).decode("latin-1")
        assert text is None or text in self.out

    def finish(self):  # the exit status; the settings must be the first ones
        status = self.program.wait(timeout=10)
        self.wait_for(None, 0)
        assert termios.tcgetattr(self.slave) == self.before
        os.close(self.master), os.close(self.slave)
        return status


def test_keys_without_enter_or_echo_and_escape_sequences_as_one_key(tmp_path):
    t = Terminal(tmp_path)
    for keys, shown in ((b"6", PAUSE[:-1]), (b"q", PAUSE.replace("\n", "\r\n") + CLEAR)):
        os.write(t.master, keys)
        t.wait_for(shown)
    # F5, Ctrl+Up, F1 and Alt+1, a lone Escape, a sequence ending in '@'
    for keys in (b"\x1b[15~\x1b[1;5A\x1bOP\x1b1", b"\x1b", b"\x1b[2@7"):
        time.sleep(0.2)
        os.write(t.master, keys)
    assert t.finish() == 0
    assert t.out == (CLEAR + menu(MAIN, "6") + "\nNo memory used!" + PAUSE + CLEAR +
                     menu(MAIN, "7")).replace("\n", "\r\n")


@pytest.mark.parametrize("keys,wait,sig", [  # the keys to a wait, what it shows, the signal
    ("", PROMPT, signal.SIGINT), ("", PROMPT, signal.SIGTERM), ("", PROMPT, signal.SIGHUP),
    ("111", QUESTION, signal.SIGINT), ("111", QUESTION, signal.SIGTERM),
    ("111", QUESTION, signal.SIGHUP)])
def test_signals_leave_the_terminal_as_it_was(tmp_path, keys, wait, sig):
    t = Terminal(tmp_path)
    os.write(t.master, keys.encode())
    t.wait_for(wait)
    in_mode = lambda: (termios.tcgetattr(t.slave) == t.before) == (wait == QUESTION)  # noqa
    deadline = time.monotonic() + 5  # a key is waited for out of line mode, a line in it
    while not in_mode() and time.monotonic() < deadline:
        time.sleep(0.001)
    assert in_mode()
    t.program.send_signal(sig)
    assert t.finish() == -sig
