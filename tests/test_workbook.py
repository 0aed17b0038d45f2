"""Workbooks: exports read by openpyxl, and workbooks written by openpyxl imported."""
import re, zipfile  # noqa: E401
import openpyxl
import pytest
from session import *  # noqa: F403

HEAD = ["name", "director", "number", "area", "students"]
TROUBLE = ["\xc6\xfa\xeb\xf2\xee \xe3\xf0\xe0\xe4", "007", "=1+1", "'t Hooft", " both ", "1/2",
           "TRUE", "#N/A", '=HYPERLINK("http://x","y")', "x" * 49, "y" * 50]
SCHOOLS = [(t, TROUBLE[-2 - i], i - 5, 2**31 - 1, -2**31) for i, t in enumerate(TROUBLE[:-1])]
cells = lambda s: [*(t.encode("latin-1").decode("cp1251") for t in s[:2]), *s[2:]]  # noqa: E731


def read_back(schools, name="o.xlsx"):  # as openpyxl reads it, and imported again
    def check(d):
        sheet = openpyxl.load_workbook(d / name).worksheets[0]
        rows = [*sheet.iter_rows()]
        assert [[c.value for c in r] for r in rows] == [HEAD, *map(cells, schools)]
        assert {c.data_type for r in rows for c in r[:2]} == {"s"} and all(c.font.b for c in rows[0])
        assert (sheet.freeze_panes, sheet.auto_filter.ref) == ("A2", "A1:E%d" % len(rows))
        assert all(sheet.column_dimensions[k].width >= max(len(str(r[i].value)) for r in rows)
                   for i, k in enumerate("ABCDE"))
        r = run(["--import", name, "g"], cwd=d)
        return (r.returncode, (d / "g").read_bytes()) == (0, (d / "f").read_bytes())
    return check


def book(*rows, sheet="Sheet", shared=(), edit=lambda x: x):  # openpyxl's workbook, then edited
    def make(path):
        wb = openpyxl.Workbook()
        wb.active.title = sheet
        [wb.active.append(r) for r in rows]
        wb.create_sheet("second").append(["junk", "=1/0"])
        wb.save(path)
        with zipfile.ZipFile(path) as z:
            parts = {n: z.read(n).decode() for n in z.namelist()}
        xml = edit(parts["xl/worksheets/sheet1.xml"])
        strings = []
        for i, cell in enumerate(shared):  # moved to the shared strings, each in two runs
            m = re.search(r'"%s" t="inlineStr"><is><t[^>]*>(.*?)</t></is>' % cell, xml)
            strings.append(m.group(1))
            xml = xml[:m.start()] + '"%s" t="s"><v>%d</v>' % (cell, i) + xml[m.end():]
        parts["xl/worksheets/sheet1.xml"] = xml
        parts["xl/sharedStrings.xml"] = "<sst>%s</sst>" % "".join(
            "<si><r><t>%s</t></r><rPh><t>ph</t></rPh><r><rPr/><t>%s</t></r></si>" % (
                s[:1], s[1:]) for s in strings)
        parts["xl/_rels/workbook.xml.rels"] = parts["xl/_rels/workbook.xml.rels"].replace(
            "</Rel", '<Relationship Id="s" Target="sharedStrings.xml" Type="http://schemas.'
            'openxmlformats.org/officeDocument/2006/relationships/sharedStrings"/></Rel')
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            [z.writestr(n, text) for n, text in parts.items()]
    return make


def imported(name, workbook, *schools, err=()):  # "w", a workbook, into "o", which holds C
    return pytest.param(dict(args=["--import", "w", "o"], files={"w": workbook, "o": file(C)},
                             after=None, also=lambda d: (d / "o").read_bytes().decode("latin-1") ==
                             (file(C) if err else file(*schools)),
                             err="".join(e + "\n" for e in err), status=bool(err)), id=name)


cached = lambda xml: xml.replace("<f>2+3</f><v></v>", "<f>2+3</f><v>5</v>")  # noqa: E731
failed = lambda xml: xml.replace('"E2"><f>1/0</f><v></v>', '"E2" t="e"><f>1/0</f><v>#DIV/0!</v>')
ROWS = [
    pytest.param(dict(args=["--export", "f", "o.XLSX"], files={"f": file(*SCHOOLS)},
                      also=read_back(SCHOOLS, "o.XLSX")), id="export: troublesome texts"),
    pytest.param(dict(args=["--export", "f", "o.xlsx"], files={"f": file((
        "y" * 50, "\xc6" * 50, 1, 2, 3))}, also=read_back([("y" * 50, "\xc6" * 50, 1, 2, 3)])),
        id="export: 50 bytes"),
    pytest.param(dict(args=["--export", "f", "o.xlsx"], files={"f": ""}, also=read_back([])),
                 id="export: no schools"),
    pytest.param(dict(args=["--export", "f", "o.csv"], files={"f": file(A), "o.csv": "old"}, after={
        "f": file(A), "o.csv": "name,director,number,area,students\r\nAlpha,Ivanov,1,500,30\r\n"}),
        id="export: CSV over a file"),
    pytest.param(dict(args=["--export", "f", "-"], files={"f": file(A)}, after={"f": file(A)},
                      out="name,director,number,area,students\r\nAlpha,Ivanov,1,500,30\r\n"),
                 id="export: - for standard output"),
    *(pytest.param(dict(args=["--export", "f", out], files={"f": file(A), **more}, after={
        "f": file(A), **{k: "-> f" for k in more}}, status=1,
        err="schools: %s: input file is output file\n" % out), id="export: into itself " + out,
        marks=marks) for out, more, marks in [("f", {}, ()), ("l.xlsx", {
            "l.xlsx": lambda p: p.symlink_to("f")}, POSIX)]),
    imported("import: shared and inline strings, rich text, numbers as texts, empty cells",
             book(["Students", "AREA", "name", "number", "director"], [30, "500", "Alpha", 1],
                  [None, None, None, None, None], [5, 1.0, 2024, "-7", " Жю"], [
                      20, 800, "Beta", 2, "Petrova"], shared=("C2", "E4", "E5", "B1")),
             ("Alpha", "", 1, 500, 30), ("2024", " \xc6\xfe", -7, 1, 5), B),
    imported("import: a formula's cached value", book(HEAD, ["A", "D", "=2+3", 1, 1], edit=cached),
             ("A", "D", 5, 1, 1)),
    imported("import: errors named by cell", book(HEAD, ["A", "D", 1.5, "=2+3", "=1/0"], [
        "B", "E", 2, 1, 1, "x"], sheet="My 'list", edit=failed), err=[
        "w:'My ''list'!C2: \"1.5\" is not a whole number from -2147483648 to 2147483647",
        "w:'My ''list'!D2: a formula without a value",
        "w:'My ''list'!E2: the error value #DIV/0!",
        "w:'My ''list'!F3: a cell beyond the header's 5 columns"]),
    imported("import: a damaged sheet", book(HEAD, *[[t, t, i, 1, 1] for i, t in enumerate(
        "ABCD")], edit=lambda x: x.replace('"B2"', '"A2"').replace('"D3"', '"AAAA3"').replace(
            '<row r="4"', '<row r="2"').replace('<row r="5"', '<row r="0"')), err=[
        "w:Sheet!A2: a second cell of that name in its row",
        "w:Sheet!D3: \"AAAA3\" is beyond the sheet's last column, XFD",
        "w:Sheet!A2: row 2 comes after row 3",
        "w:Sheet!A0: a row numbered 0, where rows are numbered from 1"]),
    imported("import: parts beyond the bound in all", lambda p: [zipfile.ZipFile(p, "a", 8).writestr(
        n, " " * (40 << 20)) for n in ("xl/workbook.xml", "xl/_rels/workbook.xml.rels")], err=[
        "schools: w: parts that unpack to more than 64 MiB in all, more than any list of "
        "schools takes"]),
    imported("import: a damaged workbook", lambda p: p.write_bytes(b"PK\3\4" + b"\0" * 40),
             err=["schools: w: not a zip archive (no central directory)"]),
]


@pytest.mark.parametrize("options", ROWS)
def test_workbook(options):
    check([("", options.get("out", ""))], **{k: v for k, v in options.items() if k != "out"})
