"""Sessions of the program: steps (keys typed, screen printed; texts hold bytes as latin-1)."""
import atexit, functools, os, pathlib, pwd, resource, shutil, signal, stat  # noqa: E401
import re, struct, subprocess, tempfile  # noqa: E401
import pytest

PROGRAM, RUNNER = os.environ["SCHOOLS_PROGRAM"], os.environ.get("SCHOOLS_RUNNER")  # e.g. wine
WINDOWS = PROGRAM.endswith(".exe")
POSIX = pytest.mark.skipif(WINDOWS, reason="POSIX build only")
A, B, C = ("Alpha", "Ivanov", 1, 500, 30), ("Beta", "Petrova", 2, 800, 20), ("Gamma", "G", 3, 9, 10)


run = lambda args, **kw: subprocess.run([*([RUNNER] if RUNNER else []), PROGRAM, *args],  # noqa
    capture_output=True, timeout=60, close_fds=True, restore_signals=True, **kw)  # as a shell would


@functools.cache
def program_for_others():  # a copy in the open: another user may not enter root's home
    folder = tempfile.mkdtemp()
    os.chmod(folder, 0o755), atexit.register(shutil.rmtree, folder)
    return shutil.copy(PROGRAM, folder)


def check(steps, files={}, after=None, err="", status=0, also=None, user=None, env={},
          groups=(), limit=None, xfsz=signal.SIG_DFL, stdin=None, runner=(), closed=False,
          log=False, args=(), reads=None):
    """Runs the steps in a folder of files as a shell would, and checks what comes out."""
    def child():
        signal.signal(signal.SIGXFSZ, xfsz)
        os.umask(0o022)
        limit is None or resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        closed and os.close(1)  # standard output closed, as by >&-
    user = None if WINDOWS else user
    if user and os.geteuid() != 0:
        pytest.skip("needs root to run as " + user)
    program = program_for_others() if user else PROGRAM
    ids = dict(user=user, group=pwd.getpwnam(user).pw_gid, extra_groups=groups) if user else {}
    keys = "".join(k for k, _ in steps)
    with tempfile.TemporaryDirectory() as top:
        folder = pathlib.Path(top)
        os.chmod(folder, 0o777 if user else 0o755)
        for name, data in files.items():
            path = folder / name
            data(path) if callable(data) else path.mkdir() if data is None else path.write_bytes(
                data.encode("latin-1"))
        if os.environ.get("SCHOOLS_SEED_DIR"):  # fuzz seeds: the length of "f", "f", the keys
            seed = (folder / "f").read_bytes()[:0xFFFF] if (folder / "f").is_file() else b""
            pathlib.Path(os.environ["SCHOOLS_SEED_DIR"], str(hash(keys))).write_bytes(
                struct.pack("<H", len(seed)) + seed + keys.encode("latin-1"))
        for attempt in range(3):  # wine now and then fails to start a program at all
            r = subprocess.run(
                [*([RUNNER] if RUNNER else runner), program, *args], cwd=folder, stdout=subprocess.PIPE,
                stderr=open(folder / "log", "ab") if log else subprocess.PIPE,
                env={**{k: v for k, v in os.environ.items() if k not in ("LANG", "LC_CTYPE")},
                     "LC_ALL": "C", **env}, timeout=60, close_fds=True, restore_signals=True,
                preexec_fn=child, **ids,
                **({"stdin": stdin} if stdin else {"input": keys.encode("latin-1")}))
            if not RUNNER or r.stdout or r.returncode == 0:
                break
        text = lambda b: (b.replace(b"\r\n", b"\n") if WINDOWS else b).decode("latin-1")  # noqa
        out = r.stdout.decode("latin-1") if args else text(r.stdout)  # CSV comes untranslated
        # The copy of old contents left behind, as .NAME.XXXXXX: its letters are drawn.
        shown = (r.returncode, out, re.sub(r"(?<![^ /])(\.[^/ ]+\.)[a-z0-9]{6}\b", r"\1XXXXXX",
                                           text(r.stderr or b"")))
        expected = (status, "" if closed else "".join(s for _, s in steps), err)
        if reads:  # the screens judged by `reads`, one expected where a "!" stands
            shown = (shown[0], *map(reads, shown[1:]))
            expected = (status, *([] if e else reads("") for e in expected[1:]))
        assert shown == expected
        what = lambda p: "-> " + os.readlink(p) if p.is_symlink() else p.read_bytes().decode(
            "latin-1") if p.is_file() else stat.filemode(p.lstat().st_mode)[0]
        assert after is None or {p.name: what(p) for p in folder.iterdir()} == after
        assert also is None or also(folder)


def bulgarian(screen):  # what is wrong with it: not Cyrillic, Latin words left, wider than 80
    screen = screen.encode("latin-1").decode("cp1251" if WINDOWS else "utf-8")
    latin = re.findall(r"[A-Za-z]{2,}", re.sub(r"schools|--[a-z]+|CSV|\.[a-z]{3,4}\b|UTF-(8|16)|Windows-1251|CR LF|"
                       r"NUL|man |name,director,number,area,students|\x1b\[[0-9;]*[A-Za-z]", "", screen))
    wide = [line for line in re.split("[\r\n]", screen) if len(line) > 80]
    return latin + wide + ["no Cyrillic"] * (not re.search("[а-я]{4}", screen))


keyed = lambda t: t.encode("cp1251" if WINDOWS else "utf-8").decode("latin-1")  # noqa: E731
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
