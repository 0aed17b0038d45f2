"""Workbooks and spreadsheets: exports read by openpyxl, odfpy and LibreOffice, and what they
write imported; files of other programs named."""
import atexit
import re
import shutil
import tempfile
import zipfile
import openpyxl
import pytest
from odf import opendocument, style, table, teletype, text
from session import *  # noqa: F403

# An office profile of this run's own: one that another run holds would refuse it.
OFFICE_PROFILE = tempfile.mkdtemp()
atexit.register(shutil.rmtree, OFFICE_PROFILE, True)

HEAD = ["name", "director", "number", "area", "students"]
TROUBLE = ["\xc6\xfa\xeb\xf2\xee \xe3\xf0\xe0\xe4", "007", "=1+1", "'t Hooft", " both ", "1/2",
           "TRUE", "#N/A", '=HYPERLINK("http://x","y")', "x" * 49, "y" * 50]
SCHOOLS = [(t, TROUBLE[-2 - i], i - 5, 2**31 - 1, -2**31) for i, t in enumerate(TROUBLE[:-1])]


def cells(s):  # a school's cells as a spreadsheet holds them
    return [*(t.encode("latin-1").decode("cp1251") for t in s[:2]), *s[2:]]


def read_back(schools, name="o.xlsx", head=HEAD, title="Schools"):  # by openpyxl, and imported
    def check(d):
        sheet = openpyxl.load_workbook(d / name).worksheets[0]
        rows = [*sheet.iter_rows()]
        assert [[c.value for c in r] for r in rows] == [head, *map(cells, schools)]
        assert sheet.title == title
        assert {c.data_type for r in rows for c in r[:2]} == {"s"} and all(c.font.b for c in rows[0])
        assert (sheet.freeze_panes, sheet.auto_filter.ref) == ("A2", "A1:E%d" % len(rows))
        assert all(sheet.column_dimensions[k].width >= max(len(str(r[i].value)) for r in rows)
                   for i, k in enumerate("ABCDE"))
        r = run(["--import", name, "g"], cwd=d)
        return (r.returncode, (d / "g").read_bytes()) == (0, (d / "f").read_bytes())
    return check


BG = ({"LC_ALL": "bg_BG.UTF-8"}, ["име", "директор", "номер", "площ", "ученици"], "Училища")


def read_ods(schools, head=HEAD, sheet="Schools", footer="Page 1 of 1"):  # by odfpy, LibreOffice
    def check(d):
        doc = opendocument.load(d / "o.ods")
        t = doc.spreadsheet.getElementsByType(table.Table)[0]
        rows = [["\n".join(map(teletype.extractText, c.getElementsByType(text.P))) if c.getAttribute(
            "valuetype") == "string" else int(
            c.getAttribute("value")) for c in r.getElementsByType(table.TableCell)]
            for r in t.getElementsByType(table.TableRow)]
        assert (t.getAttribute("name"), rows) == (sheet, [head, *map(cells, schools)])
        with zipfile.ZipFile(d / "o.ods") as z:  # the mimetype first and stored, then the manifest
            first = [(i.filename, i.compress_type) for i in z.infolist()[:2]]
            assert first == [("mimetype", 0), ("META-INF/manifest.xml", 8)]
            content = z.read("content.xml").decode()
        assert "formula" not in content and "<table:table-header-rows><table:table-row>" in content
        assert content.count("<table:table-column ") == 5  # each its width
        layout = doc.automaticstyles.getElementsByType(style.PageLayoutProperties)[0]
        assert (layout.getAttribute("printorientation"), layout.getAttribute("scaletox")) == (
            "landscape", "1")
        shown = teletype.extractText(doc.masterstyles.getElementsByType(style.Footer)[0])
        bold = [s for s in doc.automaticstyles.getElementsByType(style.Style) if s.getAttribute(
            "name") == "ce1"][0].getElementsByType(style.TextProperties)[0]
        assert (shown, bold.getAttribute("fontweight")) == (footer, "bold")
        doc.save(d / "py.ods")  # as odfpy writes it
        saved = ["py.ods"]
        if shutil.which("soffice"):
            subprocess.run(["soffice", "-env:UserInstallation=file://" + OFFICE_PROFILE, "--headless",
                            "--convert-to", "ods", "--outdir", "lo", "o.ods"], cwd=d,
                           capture_output=True, timeout=120)
            saved.append("lo/o.ods")
        if shutil.which("ssconvert"):  # gnumeric finds the pane frozen, as its .xlsx shows
            subprocess.run(["ssconvert", "o.ods", "gn.xlsx"], cwd=d, capture_output=True, timeout=60)
            assert openpyxl.load_workbook(d / "gn.xlsx").worksheets[0].freeze_panes == "A2"
        for name in ["o.ods", *saved]:
            r = run(["--import", name, "g"], cwd=d)
            assert (name, r.returncode, (d / "g").read_bytes()) == (name, 0, (d / "f").read_bytes())
        return True
    return check


def print_setup(d):  # the workbook printed landscape, one page wide, with titles and page numbers
    sheet = openpyxl.load_workbook(d / "o.xlsx").worksheets[0]
    setup = sheet.page_setup
    return (setup.orientation, setup.fitToWidth, setup.fitToHeight, sheet.sheet_properties.
            pageSetUpPr.fitToPage, sheet.print_title_rows, sheet.oddFooter.center.text) == (
            "landscape", 1, 0, True, "$1:$1", "Page &P of &N")


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


def imported(name, workbook, *schools, err=(), warned=()):  # "w", a workbook, into "o", holding C
    return pytest.param(dict(args=["--import", "w", "o"], files={"w": workbook, "o": file(C)},
                             after=None, also=lambda d: (d / "o").read_bytes().decode("latin-1") ==
                             (file(C) if err else file(*schools)),
                             err="".join(e + "\n" for e in [*err, *warned]), status=bool(err)), id=name)


ODS = "application/vnd.oasis.opendocument.spreadsheet"


def archive(*members):  # a zip archive of these members (name, text), in this order
    def make(path):
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            [z.writestr(n, text) for n, text in members]
    return make


def ods(*rows, name="Sheet 1"):  # a spreadsheet of these rows, each its cells' XML
    return archive(("mimetype", ODS), ("content.xml", (
        '<office:document-content xmlns:office="o" xmlns:table="t" xmlns:text="x" xmlns:calcext="c">'
        '<office:body><office:spreadsheet><table:table table:name="%s">%s</table:table><table:table>'
        '<table:table-row><table:table-cell office:value-type="string"><text:p>junk</text:p>'
        '</table:table-cell></table:table-row></table:table></office:spreadsheet></office:body>'
        '</office:document-content>' % (name, "".join(
            '<table:table-row%s>%s</table:table-row>' % r if isinstance(r, tuple) else
            "<table:table-row>%s</table:table-row>" % r for r in rows)))))


def ocell(kind, value, more="", text=""):
    return ('<table:table-cell office:value-type="%s" office:%s="%s"%s><text:p>%s</text:p>'
            '</table:table-cell>' % (kind, "value" if kind in ("float", "percentage", "currency")
                                     else kind + "-value", value, more, text))


def otext(*p, more=""):
    return '<table:table-cell office:value-type="string"%s>%s</table:table-cell>' % (
        more, "".join("<text:p>%s</text:p>" % t for t in p))


OHEAD = "".join(otext(h) for h in HEAD)


# Rows as the writers must put them, byte for byte: a text that keeps its spaces, and the most
# a row takes, in more rows than one piece of the writer's buffer holds.
SPACED, WORST = (" a&<b ", "\x98\xc6\x01_x0041_", -5, 0, 2**31 - 1), ("\x01" * 50, "&" * 50, *[-2**31] * 3)
SHEET = [SPACED, *[WORST] * 700]
SHEET_HEAD = (
    '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<worksheet xmlns="http://schemas.'
    'openxmlformats.org/spreadsheetml/2006/main"><sheetPr><pageSetUpPr fitToPage="1"/></sheetPr>'
    '<dimension ref="A1:E702"/><sheetViews><sheetView tabSelected="1" workbookViewId="0"><pane '
    'ySplit="1" topLeftCell="A2" activePane="bottomLeft" state="frozen"/><selection pane='
    '"bottomLeft"/></sheetView></sheetViews><sheetFormatPr defaultRowHeight="15"/><cols>' + "".join(
        '<col min="%d" max="%d" width="%d" customWidth="1"/>' % (i, i, w) for i, w in enumerate(
            (54, 54, 15, 15, 15), 1)) + '</cols><sheetData><row r="1">' + "".join(
        '<c r="%s1" s="1" t="inlineStr"><is><t>%s</t></is></c>' % c for c in zip("ABCDE", HEAD)) +
    "</row>")
SHEET_ROWS = (
    '<row r="2"><c r="A2" t="inlineStr"><is><t xml:space="preserve"> a&amp;&lt;b </t></is></c><c '
    'r="B2" t="inlineStr"><is><t>\x98Ж_x0001__x005F_x0041_</t></is></c><c r="C2"><v>-5</v></c><c r="D2"><v>0'
    '</v></c><c r="E2"><v>2147483647</v></c></row>' + "".join(
        '<row r="%d"><c r="A%d" t="inlineStr"><is><t>%s</t></is></c><c r="B%d" t="inlineStr"><is>'
        '<t>%s</t></is></c>%s</row>' % (n, n, "_x0001_" * 50, n, "&amp;" * 50, "".join(
            '<c r="%s%d"><v>-2147483648</v></c>' % (k, n) for k in "CDE")) for n in range(3, 703)))
SHEET_TAIL = (
    '</sheetData><autoFilter ref="A1:E702"/><pageMargins left="0.4" right="0.4" top="0.4" bottom='
    '"0.6" header="0.3" footer="0.3"/><pageSetup paperSize="9" orientation="landscape" fitToWidth='
    '"1" fitToHeight="0"/><headerFooter><oddFooter>&amp;CPage &amp;P of &amp;N</oddFooter>'
    '</headerFooter></worksheet>')
BOOK = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n<workbook xmlns="http://schemas.'
        'openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/'
        'officeDocument/2006/relationships"><sheets><sheet name="Schools" sheetId="1" r:id="rId1"/>'
        '</sheets><definedNames><definedName name="_xlnm._FilterDatabase" localSheetId="0" hidden='
        '"1">\'Schools\'!$A$1:$E$702</definedName><definedName name="_xlnm.Print_Titles" '
        'localSheetId="0">\'Schools\'!$1:$1</definedName></definedNames></workbook>')
OSPACED, OWORST = (" a&<b ", "\x98\xc6 \t", -5, 0, 2**31 - 1), ("\n" * 50, "&" * 50, *[-2**31] * 3)
OFLOAT = '<table:table-cell office:value-type="float" office:value="%d"/>'
OROWS = ('<table:table-row>%s%s%s</table:table-row>' % (
    otext("<text:s/>a&amp;&lt;b<text:s/>"), otext("\x98Ж <text:tab/>"), "".join(
        OFLOAT % n for n in OSPACED[2:])) + '<table:table-row>%s%s%s</table:table-row>' % (
    otext(*[""] * 51), otext("&amp;" * 50), (OFLOAT % -2**31) * 3) * 300)


def member(name, *parts):  # parts of the workbook `name`: (part, its text or a check of it)
    def check(d):
        with zipfile.ZipFile(d / name) as z:
            # Made by MS-DOS, version 2.0: no reader takes the attributes for Unix modes.
            assert {(i.create_system, i.create_version) for i in z.infolist()} == {(0, 20)}
            for part, expected in parts:
                text = z.read(part).decode()
                assert expected(text) if callable(expected) else text == expected
        return True
    return check


def compound(stream):  # a compound file whose directory holds that stream, or its header alone
    def entry(name, kind):
        return (name.encode("utf-16-le") + bytes(64 - 2 * len(name)) + struct.pack(
            "<HB", 2 * len(name) + 2, kind)).ljust(128, b"\0")
    head = b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1".ljust(512, b"\0")
    return lambda p: p.write_bytes(head + (entry("Root Entry", 5) + entry(stream, 2) + bytes(
        256) if stream else b""))




def cached(xml):
    return xml.replace("<f>2+3</f><v></v>", "<f>2+3</f><v>5</v>")


def failed(xml):
    return xml.replace('"E2"><f>1/0</f><v></v>', '"E2" t="e"><f>1/0</f><v>#DIV/0!</v>')


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
            '<row r="4"', '<row r="2"').replace('<row r="5"', '<row r="0"'), sheet="Zaz_09."), err=[
        "w:Zaz_09.!A2: a second cell of that name in its row",  # a name no formula quotes
        "w:Zaz_09.!D3: \"AAAA3\" is beyond the sheet's last column, XFD",
        "w:Zaz_09.!A2: row 2 comes after row 3",
        "w:Zaz_09.!A0: a row numbered 0, where rows are numbered from 1"]),
    imported("import: parts beyond the bound in all", lambda p: [zipfile.ZipFile(p, "a", 8).writestr(
        n, " " * (40 << 20)) for n in ("xl/workbook.xml", "xl/_rels/workbook.xml.rels")], err=[
        "schools: w: parts that unpack to more than 64 MiB in all, more than any list of "
        "schools takes"]),
    imported("import: a damaged workbook", lambda p: p.write_bytes(b"PK\3\4" + b"\0" * 40),
             err=["schools: w: not a zip archive (no central directory)"]),
    pytest.param(dict(args=["--export", "f", "o.ods"], files={"f": file(*SCHOOLS)},
                      also=read_ods(SCHOOLS)), id="export .ods: troublesome texts, read back"),
    pytest.param(dict(args=["--export", "f", "o.ods"], files={"f": file(
        ("  two  x ", "a b\nc d ", 1, 2, 3), ("\n", " ", 4, 5, 6))}, also=read_ods([(
            "  two  x ", "a b\nc d ", 1, 2, 3), ("\n", " ", 4, 5, 6)])), id="export .ods: blanks"),
    pytest.param(dict(args=["--export", "f", "o.ods"], files={"f": file(("A\x01", "D", 1, 1, 1))},
                      after={"f": file(("A\x01", "D", 1, 1, 1))}, status=1, err="schools: f: school 1 "
                      "holds a control character, which an .ods cannot hold; export to .xlsx or CSV\n"),
                 id="export .ods: a control character"),
    pytest.param(dict(args=["--export", "f", "o.xlsx"], files={"f": file(*SHEET)}, also=member(
        "o.xlsx", ("xl/worksheets/sheet1.xml", SHEET_HEAD + SHEET_ROWS + SHEET_TAIL),
        ("xl/workbook.xml", BOOK))),
        id="export .xlsx: the sheet and the workbook byte for byte, the most a row takes"),
    pytest.param(dict(args=["--export", "f", "o.ods"], files={"f": file(OSPACED, *[OWORST] * 300)},
                      also=member("o.ods", ("content.xml", lambda xml: xml.split(
                          "</table:table-header-rows>")[1].split("</table:table>")[0] == OROWS))),
        id="export .ods: the rows byte for byte, the most a row takes"),
    pytest.param(dict(args=["--export", "f", "o.xlsx"], files={"f": file(A)}, also=print_setup),
                 id="export .xlsx: printed"),
    pytest.param(dict(args=["--export", "f", "o.xlsx"], files={"f": file(A)}, env=BG[0],
                      also=read_back([A], head=BG[1], title=BG[2])), id="export .xlsx: in Bulgarian"),
    pytest.param(dict(args=["--export", "f", "o.ods"], files={"f": file(A)}, env=BG[0], also=read_ods(
        [A], BG[1], BG[2], "Страница 1 от 1")), id="export .ods: in Bulgarian"),
    *(pytest.param(dict(args=["--export", "f", "o" + x], files={"f": file(A)}, after={"f": file(A)},
                        status=1, err="schools: o%s: cannot write %s; export to .xlsx or .ods for a "
                        "spreadsheet (any other name gets CSV)\n" % (x, x)), id="export: refused " + x)
      for x in (".xls", ".XLSB", ".xlsm", ".numbers", ".gnumeric", ".fods")),
    imported("import .ods: each kind of cell", ods(OHEAD, ocell("date", "2024-01-05") + ocell(
        "boolean", "true") + ocell("float", "2.024E3") + ocell("percentage", "5") + ocell(
        "currency", "30", text="30,00 лв."), otext('A<text:s text:c="2"/>b<text:tab/>c'
        '<text:line-break/>d', '<text:span>e</text:span>  f<office:annotation><text:p>note</text:p>'
        '</office:annotation>') + otext("x") + ocell("float", "7") + ocell("float", "1") + ocell(
            "float", "1")), ("2024-01-05", "TRUE", 2024, 5, 30), ("A  b\tc\nd\ne f", "x", 7, 1, 1)),
    imported("import .ods: repeated rows and cells", ods(OHEAD, (
        ' table:number-rows-repeated="1000000"', '<table:table-cell table:number-columns-repeated='
        '"16384"/>'), (' table:number-rows-repeated="2"', otext("A") + otext("D") + ocell(
            "float", "1", ' table:number-columns-repeated="3"')), (
        ' table:number-rows-repeated="1048000"', '<table:table-cell table:number-columns-repeated='
        '"1024"/>')), ("A", "D", 1, 1, 1), ("A", "D", 1, 1, 1),
        warned=["w:'Sheet 1'!C1000003: warning: school number 1 is also on row 1000002"]),
    imported("import .ods: errors named by cell", ods(OHEAD, otext("A") + otext("D") + ocell(
        "float", "1.5") + '<table:table-cell table:formula="of:=A1"/>' + ocell(
        "float", "0", ' table:formula="of:=1/0" calcext:value-type="error"', "#DIV/0!"), otext(
        "B") + otext("E") + ocell("float", "2", ' table:number-columns-repeated="4"'), otext(
        "C") + otext("F") + ocell("float", "3", ' table:number-columns-repeated="3"') +
        "<table:table-cell/>" + ocell("float", "4", ' table:number-columns-repeated="2"'),
        name="My 'list"),
        err=["w:'My ''list'!C2: \"1.5\" is not a whole number from -2147483648 to 2147483647",
             "w:'My ''list'!D2: a formula without a value",
             "w:'My ''list'!E2: the error value #DIV/0!",
             "w:'My ''list'!F3: a cell beyond the header's 5 columns",
             "w:'My ''list'!G4: a cell beyond the header's 5 columns"]),
    imported("import .ods: a bomb", archive(("mimetype", ODS), ("content.xml", " " * (65 << 20))),
             err=["schools: w: a part that unpacks to more than any list of schools takes"]),
    *(imported("import: " + name, make, err=["schools: w: " + what]) for name, make, what in [
        ("an Excel 97-2003 workbook", compound("Workbook"), "an Excel 97-2003 workbook (.xls), "
         "which is not read here: save it as .xlsx and import that"),
        ("a workbook locked with a password", compound("EncryptedPackage"), "a workbook locked "
         "with a password: save it without the password and import that"),
        ("a locked spreadsheet", archive(("mimetype", ODS), (
            "META-INF/manifest.xml", "<manifest:encryption-data/>"), ("content.xml", "x")), "a workbook locked with a "
         "password: save it without the password and import that"),
        *((what, compound(stream), "a compound file of an old Office program, no workbook: save "
           "the table as .xlsx or .ods and import that") for what, stream in [
               ("another compound file", "WordDocument"), ("a compound file's header alone", None)]),
        ("an Excel binary workbook", archive(("xl/workbook.bin", "x")), "an Excel binary workbook "
         "(.xlsb): save it as .xlsx and import that"),
        ("a text document", archive(("mimetype", ODS.replace("spreadsheet", "text")), (
            "content.xml", "x")),
         "a zip archive that is no workbook (.xlsx) or spreadsheet (.ods): save the table as one "
         "of them and import that"),
        ("a school file", file(A), "a school file, no table of schools: --export writes a school "
         "file out")]),
]


@pytest.mark.parametrize("options", ROWS)
def test_workbook(options):
    check(Session([("", options.get("out", ""))], **{k: v for k, v in options.items() if k != "out"}))
