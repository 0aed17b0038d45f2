"""Whole sessions: a row is its name, its steps, and the fields of its Session ("f" is what it loads)."""
import atexit
import csv
import io
import shutil
import pytest
from session import *  # noqa: F403



def s(name, number, students, area=100):
    return (name, "Dir " + name, number, area, students)


def walk(text):  # "A0 B5": schools A with 0 students and B with 5
    return [s(x[0], 0, int(x[1:])) for x in text.split()]


def row(name, *steps, marks=(), **kw):
    return pytest.param(Session(list(steps), **kw), id=name, marks=marks)


MANY = [s("S%d" % i, i, 100 - i, i * 10) for i in range(1, 13)]
FULL, IS_FULL = record(("S", "D", 1, 1, 1)) * 20480, "\nSchool list is full!" + KEPT
ONE, EQUAL, BIG = s("One", 1, 5, 1), s("Equal", 2, 5, 300), s("Big", 3, 5, 301)
RAW = "".join(chr(ord("a") + i % 26) for i in range(100)) + record(A)[100:]
ALL = "".join(map(chr, range(0x80, 0x100)))  # every byte of a name and director, in two schools
HIGH = [(ALL[i:i + 49], ALL[i + 49:i + 98], i, 1, 1) for i in (0, 79)]
CONTROL = ("A\x1b]0;t\x07\x1b[31m", "D\x01\x7f", 1, 1, 1)  # would drive a terminal
TORN = "f: The last %d bytes are not a whole school record and were not loaded\n"
HEAD, u = "name,director,number,area,students\r\n", lambda t: t.encode().decode("latin-1")


def cp(t):  # code page 1251 read, byte 0x98 (which it lacks) kept
    return "".join(c if c == "\x98" else bytes([ord(c)]).decode("cp1251") for c in t)


SHOWN = [(*(u(cp(t)) for t in h[:2]), h[2], 1, 1) for h in HIGH]  # as a UTF-8 terminal shows them
X = ("\xc6\xfe \x98", "\x84\xd5\x93", 7, -5, 10)  # "Жю", byte 0x98, "„Х“"
TABS = HEAD.replace(",", "\t") + "%s\t%s\t7\t-5\t10\r\n" % tuple(map(cp, X[:2]))
WIDE = ('"' + "\x84" * 49, "\x84" * 50, *[-2**31] * 3)  # a quote doubled, 3 bytes for every other
BYTES = "".join(map(chr, range(1, 256)))
TRIP = [(BYTES[i:i + 50], BYTES[i + 50:i + 100], 7, i, -i) for i in range(0, 255, 100)]


def export(name, data, out="", err="", **kw):  # "f" as CSV
    return row(name, ("", out), args=["--export", "f"], files={"f": data}, err=err,
               status=bool(err), **kw)


def imported(name, text, *schools, err=(), warned=(), into="c", **kw):  # "c" or the keys into "o"
    return row(name, (text * (into == "-"), ""), args=["--import", into, "o"], files={
        "c": text, "o": file(C)}, after={"c": text, "o": file(*schools) if not err else file(C)},
        err="".join(e + "\n" for e in [*err, *warned]), status=bool(err), **kw)


def round_trip(d):  # "f" exported and imported back, through CSV as "g" and a workbook as "h"
    back = run(["--import", "-", "g"], cwd=d, input=run(["--export", "f"], cwd=d).stdout)
    book = [run(a, cwd=d).returncode for a in (["--export", "f", "t.xlsx"], ["--import", "t.xlsx", "h"])]
    def texts(p):
        return [(*(t.split(b"\0")[0] for t in r[:2]), *r[2:])
                for r in struct.iter_unpack("<50s50s3i", (d / p).read_bytes())]
    return (back.returncode, book) == (0, [0, 0]) and texts("f") == texts("g") == texts("h")


def as_csv(*schools):  # as the export writes them, read back by Python's csv module
    out = io.StringIO(newline="")
    csv.writer(out, lineterminator="\r\n").writerows([HEAD[:-2].split(","), *(
        [*(cp(t.split("\0")[0]) for t in s[:2]), *s[2:]] for s in schools)])
    return u(out.getvalue())


def spreadsheet(d):  # "f" in folder d exported, read by Python's csv module, imported back as "g"
    run(["--import", "-", "g"], cwd=d, input=(out := run(["--export", "f"], cwd=d).stdout))
    def rows(p):
        return [HEAD[:-2].split(","), *([*(t.split(b"\0")[0].decode("cp1251") for t in s[:2]),
                *map(str, s[2:])] for s in struct.iter_unpack("<50s50s3i", (d / p).read_bytes()))]
    return [*csv.reader(io.StringIO(out.decode(), newline=""))] == rows("f") == rows("g")


BG, K = {"LC_ALL": "bg_BG.UTF-8"}, ("Школа", "Иванова")


def bg(name, keys, out="!", **kw):
    return row("in Bulgarian: " + name, (keys, out), env=BG, reads=bulgarian, **kw)


TWICE = HEAD + "A,D,1,1,1\nB,D,1,2,2"  # a school number twice, which is warned of


def beside(edit, err, name):  # a copy run with its catalog, edited, beside it
    def catalog(p):
        p.joinpath("bg/LC_MESSAGES").mkdir(parents=True)
        p.joinpath("de/LC_MESSAGES").mkdir(parents=True)  # a language this program lacks
        built = pathlib.Path(PROGRAM).parent  # the catalog beside a build, or an installed one's
        mo = next(m for m in (built / "locale", built.parent / "share/locale")
                  if (m / "bg/LC_MESSAGES/schools.mo").exists()) / "bg/LC_MESSAGES/schools.mo"
        p.joinpath("bg/LC_MESSAGES/schools.mo").write_bytes(edit(mo.read_bytes()))
    return row("in Bulgarian: " + name, ("", ""), args=["--import", "c", "o"], env=BG, err=err,
               files={"c": TWICE, "locale": catalog},
               runner=["/bin/sh", "-c", 'cp "$0" s && exec ./s "$@"'], marks=POSIX)


DELETED, CHANGED = "\nSchool had no students so we deleted it!", "\nSchool info changed!"

AREA_TYPED, AHEAD = "\nEnter School Area(meter*meter):", [("A", "D", 12, 900, 450), ("B", "D", 13, 900, 450)]

ROWS = [  # a pipe asks nothing: 7 and 6 at once, whatever the list holds

    row("other keys ignored, 8 redraws, 7 ends", ("a09\n\r \x1b\x7f\xb1\xff-88", menu(MAIN, "8") +
                                                  menu(MAIN, "8")), END),
    row("commands on no list", sort(), area("12"), cmd("2 ", "\nSchool list is empty!\n" + PAUSE),
        cmd("3X\n ", "Enter School name to look for :\nNo School with that name!" + PAUSE),
        cmd("6 ", "\nNo memory used!" + PAUSE), ("13901831no\n ", add("1")[1]),
        cmd("6 ", "\nMemory is empty!" + PAUSE), cmd("6 ", "\nNo memory used!" + PAUSE), END),
    row("input ends at a key", ("", menu(MAIN, ""))),
    row("input ends at a line", ("111", add("1")[1].split(KEPT)[0] + "\n")),
    row("input ends at a number", ("5\n \n\t", menu(MAIN, "5") + AREA + "\n")),
    row("a known number asked again, two numbers on one line",
        add("1", school(1, A), ("yes\nBeta\nPetrova\n1\n2\n800 20\n", school(2, B, [1])[1])),
        listing(A, B), END),
    row("growing past 5 and 10, appending, a new list", add("1", *map(school, range(1, 12), MANY)),
        add("2", school(12, MANY[11], [1])), listing(*MANY), add("1", school(1, A)), listing(A),
        END),
    row("numbers typed ahead on one line, a word among them; 7 ends at once, unsaved", (
        "111yes\nA\nD\n12 900 450\nyes\nB\nD\n13 9x 5\n900 450\nno\n ", add("1", school(1, AHEAD[0]), (
            "", school(2, AHEAD[1])[1].replace(AREA_TYPED, asked(AREA_TYPED, ""))))[1]),
        listing(*AHEAD), END),
    *(row("a word at every number prompt: " + word.encode("latin-1").hex(), load("1"),
          change("Alpha", (A, ()), verdict=CHANGED, word=word), add("2", school(2, B, word=word)),
          area("100", (1, A), (2, B), word=word), END, files={"f": file(A)}) for word in [
        "abc", "12abc", "1e3", "1,200", "1.5", "--5", "2147483648", keyed("двайсет")]),
    *(row("reply %r" % r, add("1", reply=r), sort(), END) for r in ("", "Yes", " yes", "yess")),
    row("texts cut to 49 bytes, CR LF lines, an empty one, a last line without its end", (
        "111yes\r\n%s\r\n\r\n5\r\n6\r\n7\r\nno\r\n " % ("n" * 99999),
        add("1", school(1, A))[1]), ("2out", write()[1]),
        after={"out": record(("n" * 49, "", 5, 6, 7))}),
    row("written over a file and loaded back, unwritable names", add("1", school(1, A), school(
        2, B)), write("f"), load("1"), load("2"), listing(A, B, A, B), write("d", NOT_WRITTEN),
        write("no/x", NOT_WRITTEN), write("", NOT_WRITTEN), END, files={"f": file(C), "d": None},
        after={"f": file(A, B), "d": "d"},
        err="d: Is a directory\nno/x: No such file or directory\nNo such file or directory\n"),
    row("a partial last record, an empty file, texts without a NUL", load("1"), listing(A, B),
        load("1", "e"), sort(), load("1", "r"), listing((RAW[:50], RAW[50:100], 1, 500, 30)),
        write(), END, files={"f": file(A, B) + record(C)[:111], "e": "", "r": RAW},
        after={"f": file(A, B) + record(C)[:111], "e": "", "r": RAW, "out": RAW}, err=TORN % 111),
    row("a torn end of one byte after the list", load("1"), load("2", "t"), listing(A, B, A), END,
        files={"f": file(A, B), "t": file(A) + "\n"},
        err="t: The last byte is not a whole school record and was not loaded\n"),
    *(row("not opened: %r" % name, load("1"), load("1", name, "File could not be opened\n" + KEPT),
          sort(A), END, files={"f": file(A), "d": None}, err=err) for name, err in [
        ("no", "no: No such file or directory\n"), ("d", "d: Is a directory\n"),
        ("", "No such file or directory\n"), ("f\0x", "f: Invalid argument\n")]),
    row("the full list", load("1"), load("2", verdict=IS_FULL), add("2", reply="yes",
        verdict=IS_FULL), write(), sort(*[("S", "D", 1, 1, 1)] * 20480), load("1", "o", IS_FULL),
        END, files={"f": FULL + record(A)[:50], "o": FULL + file(A, B)},
        after={"f": FULL + record(A)[:50], "o": FULL + file(A, B), "out": FULL}, err=TORN % 50),
    *(row("pruning " + loaded, load("1", verdict=PRUNED), listing(*walk(kept)), END,
          files={"f": file(*walk(loaded))}) for loaded, kept in [
        ("A0 B5 C7", "C7 B5"), ("A0 B0 C5 D7", "D7 C5"), ("A0 B5 C0", "B5"), ("A0 B0", "")]),
    row("sorted, negative counts last, and written so", load("1"), sort(B, C, s("L", 9, -5)),
        write(), END, files={"f": file(s("L", 9, -5), B, C)},
        after={"f": file(s("L", 9, -5), B, C), "out": file(B, C, s("L", 9, -5))}),
    row("the area threshold is strict", area("12"), load("1"), area("300 400", (3, BIG)),
        ("5 ", menu(MAIN, "5") + AREA + "\nNo schools with bigger area!" + PAUSE),
        area("0", (1, ONE), (2, EQUAL), (3, BIG)), END, files={"f": file(ONE, EQUAL, BIG)}),
    row("change: not found, and both of a name changed", load("1"),
        change("Nobody", verdict="No School with that name!"),
        (lambda k, screen: (k[:-2] + " 99\n ", screen))(  # the rest of the last line goes
            *change("X", (s("P", 7, 1), ()), (s("Q", 8, 2), ()), verdict=CHANGED)),
        area("300"), listing(s("P", 7, 1), *walk("Y2"), s("Q", 8, 2)), END,
        files={"f": file(*walk("X1 Y2 X3"))}),
    row("change: one removed, then two silently", load("1"),
        change("Y", (s("Y", 9, 0), ()), verdict=DELETED),
        change("X", (s("X", 8, 0), ()), (s("X", 9, 0), ()), verdict=""), listing(*walk("Z4")),
        END, files={"f": file(*walk("X1 Y2 X3 Z4"))}),
    # After a change the numbers of the list are the known ones: those it gave are refused,
    # those it replaced or removed are free again
    row("change: numbers refused and freed for the next add", load("2"),
        change("A", (s("A", 9, 0), ()), verdict=DELETED),
        change("B", (s("B", 9, 0), ()), verdict=DELETED),
        change("C", (s("C", 5, 5), ()), verdict=CHANGED),
        add("2", school(3, s("E", 6, 5), [5, 4]), school(4, s("F", 3, 5))),
        listing(s("D", 4, 5), s("C", 5, 5), s("E", 6, 5), s("F", 3, 5)), END,
        files={"f": file(s("A", 1, 5), s("B", 2, 5), s("C", 3, 5), s("D", 4, 5))}),
    row("change: a school keeps its own number", load("1"),
        change("Alpha", (s("Alpha", 1, 7), ()), verdict=CHANGED), listing(s("Alpha", 1, 7), B), END,
        files={"f": file(A, B)}),
    row("change: another school's number refused once, though two hold it", load("1"),
        change("Alpha", (s("Alpha", 9, 7), [2]), verdict=CHANGED),
        listing(s("Alpha", 9, 7), B, s("Gamma", 2, 10)), END,
        files={"f": file(A, B, s("Gamma", 2, 10))}),
    row("change: a new number refused for the second school of the name", load("1"),
        change("X", (s("P", 120, 1), ()), (s("Q", 121, 3), [120]), verdict=CHANGED),
        listing(s("P", 120, 1), s("Q", 121, 3)), END, files={"f": file(*walk("X1 X3"))}),
    row("every byte of 1251 shown as UTF-8 and typed back", load("1"), listing(*SHOWN),
        add("1", *map(school, (1, 2), SHOWN)), write(), END, files={"f": file(*HIGH)},
        after={"f": file(*HIGH), "out": file(*HIGH)},
        env={"LC_ALL": "", "LANG": "C.utf8"}, marks=POSIX),
    row("control bytes of texts kept on a pipe", load("1"), listing(CONTROL), END,
        files={"f": file(CONTROL)}),
    row("1251 typed in other locales", add("1", school(1, HIGH[0])), listing(HIGH[0]), write(), END,
        after={"out": record(HIGH[0])}, env={"LC_ALL": ""}),
    bg("a whole session, yes as да", keyed("111да\n%s\n%s\n1\n900\n450\nне\n 4 5100\n 3Няма\n 2out\n"
       " 6 121out\n 7" % K), after={"out": file((*(t.encode("cp1251").decode("latin-1") for t in K),
                                                  1, 900, 450))}),
    bg("a word at a number prompt, a school removed by a change", keyed(
       "111да\n%s\n%s\n1\nдвайсет\n900\n450\nда\nБ\nВ\n2\n5\n6\nне\n 3Б\nБ\nВ\n5\n2\n0\n"
       " 2out\n 7" % K),
       after={"out": file((*(t.encode("cp1251").decode("latin-1") for t in K), 1, 900, 450))}),
    bg("--help", "", args=["--help"]),
    row("in Bulgarian: --help, the messages' locale alone", ("", "!"), args=["--help"],
        env={"LC_ALL": "", "LC_MESSAGES": "bg_BG.UTF-8"}, reads=bulgarian, marks=POSIX),
    beside(lambda mo: mo.replace("%ld има".encode(), "%sd има".encode()), name="a translation "
           "of other directives, not used", err="c:3:3: предупреждение: school number 1 is also "
           "on line 2\n".encode().decode("latin-1")),
    beside(lambda mo: mo[:12] + b"\xff" * 4 + mo[16:], name="a catalog beyond its bytes, not used",
           err="c:3:3: warning: school number 1 is also on line 2\n"),
    bg("an unknown argument", "", "", args=["-x"], status=2, err="!"),
    bg("errors of a CSV", "", "", args=["--import", "c", "o"], files={"c": HEAD + "A,D,1,1\n\0"},
       status=1, err="!"),
    row("freed, a number is free again", add("1", school(1, A)), cmd("6 ", "\nMemory is empty!" +
        PAUSE), add("2", school(1, A)), listing(A), END),
    row("a file written by the program to a spreadsheet and back", add("1", school(1, (
        'So, "\xc6\xe5"; x', "", -5, 900, 450))), write("f"), END, also=spreadsheet),
    export("export: quoting, 1251 in UTF-8, texts up to their NUL", file(
        ('Q "1", \xc6\xe5\r\nx', "a;b\0junk", -1, 0, 2147483647), A), HEAD + '"Q ""1"", ' +
        u("Же") + '\r\nx",a;b,-1,0,2147483647\r\nAlpha,Ivanov,1,500,30\r\n', also=spreadsheet),
    export("export: the most a row takes, in more rows than a piece holds", file(*[WIDE] * 300),
           HEAD + ('"""%s",%s,-2147483648,-2147483648,-2147483648\r\n' % (
               u("„" * 49), u("„" * 50))) * 300),
    export("export: an empty list", "", HEAD),
    export("export: a partial record", file(A)[:111], err="schools: f: not a school file: its "
           "111 bytes are no whole number of 112-byte records\n"),
    imported("import from standard input: any order and case, ';', BOM, CR LF and LF, quotes",
             '\xef\xbb\xbf\r\n"Students";AREA;name;number;director\r\n\n1;-2147483648;"a;""b""'
             '\r\nc";+7;' + u("Жю") + '\n"30";500;Alpha;1;Ivanov', into="-",
             *[('a;"b"\r\nc', "\xc6\xfe", 7, -2**31, 1), A]),
    imported("import: tab, 20 errors shown", HEAD.replace(",", "\t") + "x\n" * 22, err=[*map(
        "c:%d:2: 1 cell where the header has 5".__mod__, range(2, 22)), "c: 2 more errors"]),
    imported("import: an error named on standard input", "", err=["standard input:1:1: no "
             "header row"], into="-"),  # the faults of cells: tests/unit_test.cpp
    *(imported("import: " + name, text, X, warned=w) for name, text, w in [  # as spreadsheets do
        ("UTF-16 LE, tabs", ("\ufeff" + TABS).encode("utf-16-le").decode("latin-1"), ()),
        ("UTF-16 BE", ("\ufeff" + TABS).encode("utf-16-be").decode("latin-1"), ()),
        ("Windows-1251 and ';'", HEAD.replace(",", ";") + ";".join([*X[:2], "7;-5;10"]), [
            "c:2:1: warning: byte 0xC6 is not UTF-8, so the file was read as Windows-1251"])]),
    imported("import: UTF-8 but for one byte, refused", HEAD + "School \xb91,D,2,1,1\nIvan " +
             u("Я") + ",D,1,1,1", err=["c:2:8: byte 0xB9 is not UTF-8, though most of the file "
                                        "is: mend it, or save the file as UTF-8"]),
    imported("import: UTF-8 with one byte that is not, read as Windows-1251 with a warning", HEAD +
             u("Жю") + ",\xa0" + u("Ж") + "xy,1,1,1", ("\xd0\x96\xd1\x8e", "\xa0\xd0\x96xy", 1, 1, 1),
             warned=[
                 "c:2:4: warning: byte 0xA0 is not UTF-8, so the file was read as Windows-1251",
                 'c:2:1: warning: "%s" may be the UTF-8 "%s": the file is not all UTF-8, so it was '
                 'read as Windows-1251' % (u(cp("\xd0\x96\xd1\x8e")), u("Жю"))]),
    imported("import: a number twice and lost letters, taken with warnings", HEAD + "A,??? ?,1,1,"
             "1\nB,D,1,2,2", ("A", "??? ?", 1, 1, 1), ("B", "D", 1, 2, 2), warned=[
                 'c:2:2: warning: "??? ?" holds "??", as a save leaves letters its encoding lacks',
                 "c:3:3: warning: school number 1 is also on line 2"]),
    imported("import: the Bulgarian column names, in any case", u("ИМЕ,Директор,номер,ПЛОЩ,Ученици\n"
             "A,D,1,2,3\n"), ("A", "D", 1, 2, 3)),
    imported("import: UTF-8 Cyrillic read as Latin-1 and saved so", HEAD + u("Ð¡Ð¾Ñ„Ð¸Ñ\u0152Ñ€,D,1,1,1"),
             err=["schools: c: its Cyrillic is UTF-8 that was read as Latin-1 and saved so: open the "
                  "CSV file as UTF-8 (Unicode), and save it as UTF-8", 'c:2:1: "%s" holds U+00D0, '
                  "which code page 1251 lacks" % u("Ð¡Ð¾Ñ„Ð¸Ñ\u0152Ñ€")]),
    imported("import: a letter the code page lacks, no misread Cyrillic", HEAD + u("Ðx,D,1,1,1"),
             err=['c:2:1: "%s" holds U+00D0, which code page 1251 lacks' % u("Ðx")]),
    export("round trip: every byte, 50 without a NUL, a number twice", file(*TRIP), as_csv(*TRIP),
           also=round_trip),
]
BIG_FILE = file(*[("S", "D", n, 1, 1) for n in range(41)])  # more than a stdio buffer holds
AB, TOO_LARGE = add("1", school(1, A), school(2, B)), "Write error :: File too large\n"


def mode(*paths):
    return tuple(os.stat(p).st_mode & 0o7777 for p in paths)


def chmod(bits, text=""):  # a file of that text and mode
    return lambda p: (p.write_bytes(text.encode("latin-1")), os.chmod(p, bits))


def owned(uid, gid, bits):  # an empty file of that owner, group and mode
    return lambda p: (p.touch(), os.chown(p, uid, gid), os.chmod(p, bits))


SAFE = "nobody" if not WINDOWS and os.geteuid() == 0 else None  # who may not replace a device
ROOT = pytest.mark.skipif(WINDOWS or os.geteuid() != 0, reason="needs root to own files")
ATTRIBUTES = pytest.mark.skipif(os.environ.get("SCHOOLS_ATTRIBUTES") != "1",
                                reason="built without the calls that copy extended attributes")
LINKS = pathlib.Path("/proc/sys/fs/protected_symlinks")
UNSANITIZED = pytest.mark.skipif(b"__asan_init" in pathlib.Path(PROGRAM).read_bytes(),
                                 reason="the sanitizers need more room than such a limit")


def link(to):
    return lambda p: os.symlink(to, p)


def acl(entry, *owner):  # a file of that owner and group with an extended attribute, or a folder
    def make(p):
        p.mkdir() if entry.startswith("default:") else (
            p.touch(0o600), os.chown(p, *owner), os.setxattr(p, "user.kept", b"1"))
        if not shutil.which("setfacl") or subprocess.run(["setfacl", "-m", entry, p]).returncode:
            pytest.skip("no access control lists here")
    return make


def seen(p):  # what a user checks: the ACL with owner and group, the attributes, nobody reading
    def tool(*a):
        return subprocess.run([*a, p.name], cwd=p.parent, capture_output=True).stdout
    return tool("getfacl", "-n"), tool("getfattr", "-d", "-m", "-"), subprocess.run(
        ["cat", p], user="nobody", capture_output=True).returncode


def unchanged(*setfacl, folder=False):  # "f" of root, 0660, with that ACL and two attributes,
    noted = []  # in "d" of nobody's default ACL if `folder`; `also`: a user sees the same after

    def make(p):
        f = p / "f" if folder else p
        folder and acl("default:user:nobody:rw")(p)
        f.write_bytes(file(C).encode()), os.chmod(f, 0o660)
        if not shutil.which("setfacl") or subprocess.run(["setfacl", *setfacl, f]).returncode:
            pytest.skip("no access control lists here")
        os.setxattr(f, "trusted.backup", b"1"), os.setxattr(f, "user.note", b"2")
        noted.append(seen(f))
    return dict(files={"d" if folder else "f": make},
                also=lambda d: seen(d / ("d/f" if folder else "f")) == noted[0])


def kept(*owner_group_mode):  # what "f" must have after the write
    def check(folder):
        st = os.stat(folder / "f")
        return (st.st_uid, st.st_gid, st.st_mode & 0o7777) == owner_group_mode
    return check


def planted(p):  # another user's link in a sticky folder, where the system protects them
    try:
        atexit.register(LINKS.write_text, LINKS.read_text()), LINKS.write_text("1")
    except OSError:
        pytest.skip("the protection of links in sticky folders cannot be turned on here")
    os.chmod(p.parent, 0o1777), os.symlink("f", p), os.lchown(p, 65534, 65534)

# The file system: another user (root only), permissions, links, limits. "f" holds C.
FILE_SYSTEM = [
    row("a read-only file loads", load("1"), listing(C), END, user="nobody",
        files={"f": chmod(0o444, file(C))}, after={"f": file(C)}),
    row("a folder that cannot be written, named: a new file, a writable one", AB, write(
        "d/x", NOT_WRITTEN), write("d/f", NOT_WRITTEN), write(), END, user="nobody", files={
            "f": file(C), "d": lambda p: (p.mkdir(), (p / "f").write_text(""), os.chmod(
                p / "f", 0o666), os.chmod(p, 0o555))}, after={"f": file(C), "d": "d", "out": file(
                    A, B)}, err="d/: Permission denied (the folder must take a temporary file)\n" * 2,
        marks=POSIX),
    *(row("a file-size limit at the end of a write and in it, again and again, " + who, AB,
          write("f"), load("1", "big"), *[write("f")] * 8, END, files={"f": chmod(0o666, file(
              C)), "big": BIG_FILE}, marks=POSIX, limit=150, descriptors=8, after={
                  "f": file(C), "big": BIG_FILE}, err=TOO_LARGE * 9, user=user)
      for who, user in (("replaced", None), ("written through", "nobody"))),
    row("a file-size limit on the copy of the old contents", AB, write("f", NOT_WRITTEN), END,
        marks=POSIX, files={"f": chmod(0o666, BIG_FILE)}, limit=150, user="nobody",
        after={"f": BIG_FILE}, err="f: File too large\n"),
    row("written through links, keeping the mode; new files take the umask", AB, write("link"),
        write("n1"), write("n2"), write("to"), write("gone", NOT_WRITTEN), END, marks=POSIX,
        files={"f": chmod(0o640), "link": link("f"), "to": link("t"), "gone": link("no/x")},
        after={"f": file(A, B), "link": "-> f", "n1": file(A, B), "n2": file(A, B), "to": "-> t",
               "t": file(A, B), "gone": "-> no/x"}, err="gone: No such file or directory\n",
        also=lambda d: mode(d / "f", d / "n1", d / "n2") == (0o640, 0o644, 0o644)),
    row("a folder's default ACL stays out of a file replaced there", AB, write("d/f"), END,
        **unchanged("-b", folder=True), marks=[ROOT, ATTRIBUTES]),
    row("another writer writes through: owner, group, ACL, every attribute stay", AB, write("f"),
        END, user="nobody", after={"f": file(A, B)}, **unchanged("-m", "user:nobody:rw"),
        marks=ROOT),
    row("access control lists kept, a folder's default one taken", AB, write("f"), write("d/n"),
        END, files={"f": acl("user:bin:rw", 65534, 1), "d": acl("default:group::rw")},
        also=lambda d: (mode(d / "d/n"), *(sorted(os.listxattr(d / n)) for n in ("f", "d/n"))) == (
            (0o664,), ["system.posix_acl_access", "user.kept"], []), marks=[ROOT, ATTRIBUTES]),
    row("named pipes: one without a partner, one written slowly", AB, load("2", "p"),
        write("p", NOT_WRITTEN), load("2", "q"), listing(A, B, C), END, marks=POSIX,
        files={"p": os.mkfifo, "c": file(C), "q": lambda p: (os.mkfifo(p), subprocess.Popen(
            ["sh", "-c", "exec 3<>q; sleep 0.5; cat c >&3"], cwd=p.parent))},
        after={"p": "p", "q": "p", "c": file(C)}, err="p: No such device or address\n"),
    row("a full device", AB, write("/dev/full"), END, marks=POSIX, user=SAFE,
        err="Write error :: No space left on device\n"),
    *(row(who + " keeps the owner and set-user-ID bit", AB, write("f"), END, marks=ROOT, user=user,
          files={"f": owned(65534, 65534, 0o4755)}, also=kept(65534, 65534, 0o4755))
      for who, user in (("root", None), ("the owner", "nobody"))),
    row("a member writes a group's file through it: owner, group, set-group-ID bit stay", AB,
        write("f"), END, user="nobody", groups=(0,), files={"f": owned(1, 0, 0o2664)},
        also=kept(1, 0, 0o2664), marks=POSIX),
    row("a copy of the old contents that cannot be removed is named, status 3", AB, write("f"),
        END, user="nobody", groups=(0,), files={"f": owned(1, 0, 0o664)}, status=3,
        runner=("strace", "-qqqo/dev/null", "-einject=unlink:error=EPERM:when=2"), env={
            "ASAN_OPTIONS": "detect_leaks=0"},  # the leak check cannot run under strace
        err="f: warning: .f.XXXXXX holds its old contents, and could not be removed: Operation "
        "not permitted\n", also=lambda d: len([*d.glob(".f.*")]) == 1, marks=ROOT),
    row("a link planted in a sticky folder by another user", AB, write("l", NOT_WRITTEN), END,
        files={"f": file(C), "l": planted}, after={"f": file(C), "l": "-> f"},
        err="l: Permission denied\n", marks=ROOT),
    row("the program's own streams, again and again; a name part of 255 bytes", AB, *[write(
        "i", NOT_WRITTEN), write("o", file(A, B)), write("/proc/self/fd/2")] * 8, write("n" * 255),
        END, marks=POSIX, log=True, descriptors=8, files={"log": "old\n", **{n: link(
            "/proc/self/fd/%d" % k) for k, n in enumerate("io")}}, after={"n" * 255: file(A, B),
            "i": "-> /proc/self/fd/0", "o": "-> /proc/self/fd/1", "log": "old\n" + (
                "i: Device or resource busy\n" + file(A, B)) * 8}),
    row("standard output closed at start", AB, write("f"), END, closed=True, marks=POSIX,
        files={"f": file(C)}, after={"f": file(A, B)}, status=1,
        err="schools: standard output: Bad file descriptor\n"),
    *(row("a signal in the middle of a write, " + who, (AB[0] + "2f\n", menu(MAIN, "")[:-1]),
          status=-signal.SIGTERM, files={"f": chmod(0o666, file(C))}, after={"f": file(C)},
          user=user, marks=POSIX, runner=("strace", "-qqqo/dev/null",  # the file's own sync
                                          "-einject=fsync:signal=TERM:when=" + when))
      for who, user, when in (("replaced", None, "1"), ("written through", "nobody", "3"))),
    imported("import: a file-size limit", HEAD + "A,D,1,1,1\nB,D,2,1,1", limit=150, marks=POSIX,
             err=["schools: o: File too large"]),
    row("import: no end", ("", ""), args=["--import", "/dev/zero", "o"], status=1, marks=POSIX,
        err="schools: /dev/zero: more than 64 MiB, more than any list of schools takes\n"),
    *(row("export: " + why, ("", ""), args=["--export", "f"], files={"f": FULL}, status=1,
          runner=("sh", "-c", line), err="schools: %s\n" % why, marks=POSIX, **kw)
      for line, why, kw in [
        ('exec "$0" "$@" >>f', "f: input file is output file", {"after": {"f": FULL}}),
        ('exec "$0" "$@" >/dev/full', "standard output: No space left on device", {}),
        ('exec "$0" "$@" >o', "standard output: File too large", {"limit": 150}),
        ('trap "" PIPE; exit $({ { "$0" "$@"; echo $? >&4; } | :; } 4>&1)',
         "standard output: Broken pipe", {})]),
    row("import: out of memory", ("", ""), args=["--import", "/dev/zero", "o"], status=1,
        runner=("sh", "-c", 'ulimit -v 50000; exec "$0" "$@"'), files={"o": file(C)},
        after={"o": file(C)}, err="schools: out of memory\n", marks=[POSIX, UNSANITIZED]),
    row("unreadable input", ("", menu(MAIN, "")), status=1, stdin=os.open("/", os.O_RDONLY),
        err="schools: standard input: Is a directory\n", marks=POSIX),
]


@pytest.mark.parametrize("session", ROWS + FILE_SYSTEM)
def test_session(session):
    check(session)



@POSIX
@pytest.mark.parametrize("args,into,status,out,err", [
    (["--help"], None, 0, "Usage: schools\n", ""), (["--version"], None, 0, "schools 1.0.0\n", ""),
    (["--help", "-x"], None, 2, "", "schools: unknown argument '-x'\nTry 'schools --help'.\n"),
    *((a, "/dev/full", 1, "", "schools: standard output: No space left on device\n")
      for a in (["--version"], []))])  # lost at the very end, and on the way
def test_command_line(args, into, status, out, err):
    r = subprocess.run([PROGRAM, *args], input=b"7", stdout=open(into, "wb") if into else subprocess.PIPE,
                       stderr=subprocess.PIPE, timeout=10, env={**os.environ, "LC_ALL": "C"})
    assert (r.returncode, (r.stdout or b"")[:len(out)].decode(), r.stderr.decode()) == (
        status, out, err)


@POSIX
@UNSANITIZED
def test_a_full_list_under_every_memory_limit(tmp_path):  # it works, or says it is out of memory
    def under(kb, keys):
        return started(Session([(keys, "")], runner=("sh", "-c", 'ulimit -v %d; exec "$0"' % kb)),
                       tmp_path)
    prepared(Session([], files={"f": FULL}), tmp_path)
    least = next(kb for kb in range(256, 1 << 20, 256) if under(kb, "7").returncode == 0)
    for kb in range(least, least + 8192, 256):  # the list grows by up to 1.2 MiB at a time
        r = under(kb, "121f\n 7")  # the whole file loaded into a new list
        assert (kb, r.returncode, r.stderr) in ((kb, 0, b""), (kb, 1, b"schools: out of memory\n"))
