#!/usr/bin/env python3
"""Hostile workbooks: small archives that unpack to much, for measuring what an
import costs in time and peak memory (e.g. with /usr/bin/time -v).

  bench/hostile_workbooks.py DIR [ROWS]

writes into DIR:
  shared.xlsx  ROWS rows (1000) whose every cell names one 15 MiB shared string;
  parts.xlsx   the four parts that an import reads, 171 MiB in all, each within 64 MiB.
"""
import sys
import zipfile

HEAD = "".join('<c r="%s1" t="inlineStr"><is><t>%s</t></is></c>' % (c, n) for c, n in zip(
    "ABCDE", ["name", "director", "number", "area", "students"]))
RELS = ('<Relationships><Relationship Id="rId1" Target="worksheets/sheet1.xml" Type="x/worksheet"/>'
        '<Relationship Id="s" Target="sharedStrings.xml" Type="x/sharedStrings"/></Relationships>')
WORKBOOK = '<workbook><sheets><sheet name="S" sheetId="1" r:id="rId1"/></sheets></workbook>'


def write(path, sheet, strings, padding=""):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        z.writestr("xl/workbook.xml", WORKBOOK + padding)
        z.writestr("xl/_rels/workbook.xml.rels", RELS + padding)
        z.writestr("xl/sharedStrings.xml", strings)
        z.writestr("xl/worksheets/sheet1.xml", sheet)


def sheet(rows, cell):
    body = "".join('<row r="%d">%s</row>' % (r, "".join(cell(c, r) for c in "ABCDE"))
                   for r in range(2, rows + 2))
    return '<worksheet><sheetData><row r="1">%s</row>%s</sheetData></worksheet>' % (HEAD, body)


def main():
    out, rows = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    write(out + "/shared.xlsx", sheet(rows, lambda c, r: '<c r="%s%d" t="s"><v>0</v></c>' % (c, r)),
          "<sst><si><t>%s</t></si></sst>" % ("x" * (15 << 20)))
    big = " " * (52 << 20)  # blanks, which any XML may hold between its elements
    write(out + "/parts.xlsx", "<worksheet>%s<sheetData><row r=\"1\">%s</row></sheetData>"
          "</worksheet>" % (big, HEAD), "<sst>%s</sst>" % (" " * (15 << 20)), big)


if __name__ == "__main__":
    main()
