"""Sessions of the program: steps (keys typed, screen printed; texts hold bytes as latin-1)."""
import atexit
import dataclasses
import functools
import os
import pathlib
import pwd
import re
import resource
import signal
import stat
import shutil
import struct
import subprocess
import tempfile
import pytest

PROGRAM, RUNNER = os.environ["SCHOOLS_PROGRAM"], os.environ.get("SCHOOLS_RUNNER")  # e.g. wine
WINDOWS = PROGRAM.endswith(".exe")
POSIX = pytest.mark.skipif(WINDOWS, reason="POSIX build only")
A, B, C = ("Alpha", "Ivanov", 1, 500, 30), ("Beta", "Petrova", 2, 800, 20), ("Gamma", "G", 3, 9, 10)


def run(args, **kw):  # the program with these arguments, as a shell would start it
    return subprocess.run([*([RUNNER] if RUNNER else []), PROGRAM, *args], capture_output=True,
                          timeout=60, close_fds=True, restore_signals=True, **kw)


@functools.cache
def program_for_others():  # a copy in the open: another user may not enter root's home
    folder = tempfile.mkdtemp()
    os.chmod(folder, 0o755), atexit.register(shutil.rmtree, folder)
    return shutil.copy(PROGRAM, folder)


@dataclasses.dataclass
class Session:
    """A row: the steps (keys typed, screen printed), the folder it starts in, what must come out."""
    steps: list
    files: dict = dataclasses.field(default_factory=dict)  # name: text, None (a folder), or maker
    # What must come out: status, standard error, the folder's files after, `also` true of it
    status: int = 0
    err: str = ""
    after: dict = None
    also: object = None
    reads: object = None  # judges the screens instead: "!" stands for what it finds right
    # How the program starts: as whom, with what, limited how
    args: tuple = ()
    env: dict = dataclasses.field(default_factory=dict)
    user: str = None
    groups: tuple = ()
    limit: int = None  # on the size of files, in bytes
    descriptors: int = None  # the most it may hold open
    stdin: int = None  # a descriptor instead of the keys
    runner: tuple = ()  # a command that starts the program
    closed: bool = False  # standard output closed, as by >&-
    log: bool = False  # standard error appended to "log" in the folder

    def __post_init__(self):
        self.user = None if WINDOWS else self.user  # Windows runs it as the one user there is

    @property
    def keys(self):
        return "".join(k for k, _ in self.steps)


def spelled(b):  # the program's output as the tests spell it: latin-1, LF line ends
    return (b.replace(b"\r\n", b"\n") if WINDOWS else b).decode("latin-1")


def prepared(session, folder):  # the fixture: the folder holding the session's files
    os.chmod(folder, 0o777 if session.user else 0o755)
    for name, data in session.files.items():
        path = folder / name
        if callable(data):
            data(path)
        elif data is None:
            path.mkdir()
        else:
            path.write_bytes(data.encode("latin-1"))
    if os.environ.get("SCHOOLS_SEED_DIR"):  # fuzz seeds: the length of "f", "f", the keys
        seed = (folder / "f").read_bytes()[:0xFFFF] if (folder / "f").is_file() else b""
        pathlib.Path(os.environ["SCHOOLS_SEED_DIR"], str(hash(session.keys))).write_bytes(
            struct.pack("<H", len(seed)) + seed + session.keys.encode("latin-1"))


def started(session, folder):  # the run: the program in the folder, as a shell would start it
    def child():
        signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
        os.umask(0o022)
        session.limit is None or resource.setrlimit(resource.RLIMIT_FSIZE, (session.limit,) * 2)
        session.descriptors and resource.setrlimit(resource.RLIMIT_NOFILE, (session.descriptors,) * 2)
        session.closed and os.close(1)
    user = session.user
    ids = dict(user=user, group=pwd.getpwnam(user).pw_gid, extra_groups=session.groups) if user else {}
    fed = {"stdin": session.stdin} if session.stdin else {"input": session.keys.encode("latin-1")}
    env = {k: v for k, v in os.environ.items() if k not in ("LANG", "LC_CTYPE")}
    for attempt in range(3):  # wine now and then fails to start a program at all
        r = subprocess.run(
            [*([RUNNER] if RUNNER else session.runner), program_for_others() if user else PROGRAM,
             *session.args], cwd=folder, stdout=subprocess.PIPE,
            stderr=open(folder / "log", "ab") if session.log else subprocess.PIPE,
            env={**env, "LC_ALL": "C", **session.env}, timeout=60, close_fds=True,
            restore_signals=True, preexec_fn=child, **ids, **fed)
        if not RUNNER or r.stdout or r.returncode == 0:
            break
    return r


def found(p):  # a file's text, a link's target, or the kind of anything else
    if p.is_symlink():
        return "-> " + os.readlink(p)
    return p.read_bytes().decode("latin-1") if p.is_file() else stat.filemode(p.lstat().st_mode)[0]


def outcome(session, folder, r):  # what came out: status, screens, standard error, files, `also`
    out = r.stdout.decode("latin-1") if session.args else spelled(r.stdout)  # CSV comes untranslated
    # The copy of old contents left behind, as .NAME.XXXXXX: its letters are drawn.
    err = re.sub(r"(?<![^ /])(\.[^/ ]+\.)[a-z0-9]{6}\b", r"\1XXXXXX", spelled(r.stderr or b""))
    screens = (out, err) if session.reads is None else tuple(map(session.reads, (out, err)))
    return (r.returncode, *screens,
            None if session.after is None else {p.name: found(p) for p in folder.iterdir()},
            None if session.also is None else bool(session.also(folder)))


def expected(session):  # what must come out, in the shape `seen` gives
    screens = ("" if session.closed else "".join(s for _, s in session.steps), session.err)
    if session.reads is not None:
        screens = tuple([] if e else session.reads("") for e in screens)
    return (session.status, *screens, session.after, None if session.also is None else True)


def check(session):
    """Runs the session in a folder of its files; what comes out is checked in one assertion."""
    if session.user and os.geteuid() != 0:
        pytest.skip("needs root to run as " + session.user)
    with tempfile.TemporaryDirectory() as top:
        folder = pathlib.Path(top)
        prepared(session, folder)
        assert outcome(session, folder, started(session, folder)) == expected(session)


def bulgarian(screen):  # what is wrong with it: not Cyrillic, Latin words left, wider than 80
    screen = screen.encode("latin-1").decode("cp1251" if WINDOWS else "utf-8")
    latin = re.findall(r"[A-Za-z]{2,}", re.sub(r"schools|--[a-z]+|CSV|\.[a-z]{3,4}\b|UTF-(8|16)|Windows-1251|CR LF|"
                       r"NUL|man |name,director,number,area,students|\x1b\[[0-9;]*[A-Za-z]", "", screen))
    wide = [line for line in re.split("[\r\n]", screen) if len(line) > 80]
    return latin + wide + ["no Cyrillic"] * (not re.search("[а-я]{4}", screen))


def keyed(t):  # typed at the keyboard: in the console's code page on Windows
    return t.encode("cp1251" if WINDOWS else "utf-8").decode("latin-1")
record = lambda s: struct.pack(  # s: (name, director, number, area, students)
    "<50s50s3i", *(t.encode("latin-1") for t in s[:2]), *s[2:]).decode("latin-1")
file = lambda *schools: "".join(map(record, schools))


def block(position, s):
    return ("\nSchool number in list: %d\nSchool name :%s\nSchool number :%d\nName of director:%s"
            "\nSchool area:%d\nNumber of students:%d\n" % (position, s[0], s[2], s[1], *s[3:]))


MAIN = ["Program <School>\n--------------------------",
        "Izbor na vhod za dobavyane na novo uchilishte", "Zapis v dvoichen fail",
        "Promqna na dannite za izbrano uchilishte(pri 0 uchenici uchilishteto se iztriva)",
        "Pokazvane na danni za vsichki uchilishta podredeni v red po namalqvane na uchenicite",
        "Pokazvane na danni za vsichki uchilishta s plosht po golqma ot izbranata ot potrebitelq",
        "Osvobojdavane na pametta", "Krai"]
SOURCE = ["---VHOD---", "Ot klaviaturata", "Ot fail sus uchilishta"]
PLACE = ["IZBOR NA MQSTO ZA DOBAVQNE", "Nov nov spisuk s uchilishta",
         "Kam sashtestvuvashtiya spisuk s uchilishta"]
PAUSE = "Press any key to continue . . . \n"
QUESTION = "Will you enter data for another school? - (yes/no)"
KEPT, PRUNED = "\nAll schools have students!", "\nSchools that had no students were deleted!"
AREA, NOT_WRITTEN = "\nAbove what area taking schools to show?:\n", "Problem opening the file\n"


menu = lambda items, key: "\n%s\n%s\n\nIzberete rejims:%s\n" % (
    items[0], "".join("\n%d.%s" % item for item in enumerate(items[1:], 1)), key)
cmd = lambda keys, screen="": (keys, menu(MAIN, keys[:1]) + screen)  # the first key picks
END = cmd("7")


NOT = "\nNot a whole number!\n"  # and the prompt again


def asked(prompt, word):  # a prompt, and again after a word that is no whole number
    return prompt + (NOT + prompt) * (word is not None)


def school(position, s, refused=(), word=None):  # typed after the numbers refused; `word`
    w = "" if word is None else word + "\n"  # refused before the number, area and students
    return ("yes\n%s\n%s\n%s%s%d\n%s%d\n%s%d\n" % (*s[:2], w, "".join("%d\n" % n for n in refused),
                                                    s[2], w, s[3], w, s[4]),
            QUESTION + "\nSCHOOL  NUMBER %d: \nEnter name of School:\nEnter name of director:"
            % position + asked("\nEnter School number:", word) + "\nSchool number already exists!"
            "\n\nEnter School number:" * len(refused) + asked("\nEnter School Area(meter*meter):", word)
            + asked("\nEnter number of students:", word))


def add(place, *typed, verdict=KEPT, reply="no"):  # into a new ('1') or the present ('2') list
    return ("11%s%s%s\n " % (place, "".join(k for k, _ in typed), reply),
            menu(MAIN, "1") + menu(SOURCE, "1") + menu(PLACE, place) +
            "".join(s for _, s in typed) + QUESTION + verdict + PAUSE)


def load(place, name="f", verdict=KEPT):
    return ("12%s%s\n " % (place, name), menu(MAIN, "1") + menu(SOURCE, "2") +
            menu(PLACE, place) + "Enter schools input file name:\n" + verdict + PAUSE)


def write(name="out", then=""):
    return cmd("2%s\n " % name, "Enter name for the file for the schools list:\n" + then + PAUSE)


def area(threshold, *shown, word=None):  # shown: (position, school) pairs
    return cmd("5%s%s\n " % ("" if word is None else word + "\n", threshold), asked(AREA, word) + (
        "".join(block(*p) for p in shown) or "\nNo schools with bigger area!") + PAUSE)


listing = lambda *schools: area("-99999", *enumerate(schools, 1))


def sort(*schools):
    return cmd("4 ", "\nNedostatuchno elementi za sortirane!\n" * (len(schools) < 2) + (
        "".join(block(*p) for p in enumerate(schools, 1)) or "\nSchool list is empty!\n") + PAUSE)


def change(name, *found, verdict, word=None):  # found: the schools of that name, each typed anew
    w = "" if word is None else word + "\n"
    keys = "".join("%s\n%s\n%s%d\n%s%s%d\n%s%d\n" % (s[0], s[1], w, s[3], w, "".join(
        "%d\n" % n for n in refused), s[2], w, s[4]) for s, refused in found)
    return cmd("3%s\n%s " % (name, keys), "Enter School name to look for :\n" + "".join(
        "\nENTER FOLLOWING INFORMATION:\n\nName of new school:\nName of director of new school:" +
        asked("\nArea of new school:", word) + asked("\nNumber of new school:", word) +
        "\nSchool number already exists!\n\nNumber of new school:" * len(refused) +
        asked("\nNumber of students in the new school:", word) for _, refused in found) + verdict + PAUSE)
