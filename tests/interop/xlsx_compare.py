"""The comparison of the XLSX export interoperability test (xlsx_export.sh).

  xlsx_compare.py check DUMP XLSX REPORT
      openpyxl reads the exported workbook: every formula cell of the source
      (DUMP, 'wks dump --json') is a formula or is listed in the report as
      written as its value; the cached values are the library's; the defined
      names, number formats and column widths are there.
  xlsx_compare.py check-ods DUMP ODS REPORT
      the same for the ODS spreadsheet, read as XML: mimetype first and
      stored, formulas, cached values, named ranges.
  xlsx_compare.py strip XLSX OUT
      OUT is XLSX without the cached values of its formulas.
  xlsx_compare.py strip-ods ODS OUT
      the same for an ODS spreadsheet.
  xlsx_compare.py compare DUMP REPORT NAME THEIRS.xlsx
      each formula's value as the program NAME computed it (THEIRS, saved as
      XLSX) against the library's: numbers within 1e-9 relative, strings
      alike, ERR as any error but #N/A, NA as #N/A.  Cells the report lists
      as values only, and volatile ones, are left out; any other difference
      fails.
  xlsx_compare.py baseline DUMP NAME THEIRS.xlsx
      prints how many formulas NAME got right reading the WK1 file itself.
"""
import datetime
import json
import math
import re
import sys
import zipfile

import openpyxl
from openpyxl.utils.datetime import to_excel

ERRORS = ("#VALUE!", "#DIV/0!", "#NUM!", "#REF!", "#NAME?", "#NULL!", "#N/A", "Err:502", "Err:504", "Err:511")


def library_values(dump):
    """cell -> ('n', x) | ('s', text) | ('err',) | ('na',), from 'wks dump --json'."""
    values, formats, names, widths = {}, {}, [], {}
    for line in open(dump, encoding="utf-8"):
        r = json.loads(line)
        if r.get("kind") == "formula":
            v = r["value"]
            values[r["cell"]] = ("err",) if v == "inf" else ("na",) if v == "-inf" else \
                ("s", None) if isinstance(v, str) else ("n", float(v))
        elif r.get("kind") == "string" and values.get(r["cell"], ("",))[0] == "s":
            values[r["cell"]] = ("s", r["value"])
        elif r.get("kind") == "range_name":
            names.append(r["range_name"])
        if "format" in r and "cell" in r:
            formats[r["cell"]] = r["format"]
    return values, formats, names


def report_cells(report):
    lines = [json.loads(l) for l in open(report, encoding="utf-8")]
    values_only = {l["cell"] for l in lines if l["kind"] == "value"}
    volatile = {l["cell"] for l in lines if l["kind"] == "caveat"
                and any("new value at each recalculation" in c for c in l["caveats"])}
    return values_only, volatile


def same(ours, theirs):
    if isinstance(theirs, (datetime.datetime, datetime.date, datetime.time)):
        theirs = to_excel(theirs)  # a number shown in a date format
    if isinstance(theirs, bool):
        theirs = 1.0 if theirs else 0.0
    if ours[0] == "n":
        if not isinstance(theirs, (int, float)):
            return theirs is None and ours[1] == 0
        a, b = ours[1], float(theirs)
        return a == b or abs(a - b) <= 1e-9 * max(abs(a), abs(b)) or abs(a - b) < 1e-300
    if ours[0] == "s":
        return (theirs if theirs is not None else "") == ours[1]
    if ours[0] == "na":
        return theirs == "#N/A"
    return isinstance(theirs, str) and theirs in ERRORS and theirs != "#N/A"


def check(dump, xlsx, report):
    values, formats, names = library_values(dump)
    values_only, _ = report_cells(report)
    wb = openpyxl.load_workbook(xlsx)
    cached = openpyxl.load_workbook(xlsx, data_only=True).active
    ws = wb.active
    bad = []
    for cell, ours in values.items():
        f = ws[cell].value
        if cell in values_only:
            if isinstance(f, str) and f.startswith("=") and ours[0] in "ns":
                bad.append(f"{cell}: listed as a value, written as the formula {f}")
        elif not (isinstance(f, str) and f.startswith("=")):
            bad.append(f"{cell}: no formula, and not in the report")
        got = cached[cell].value
        if ours[0] in "ns" and not same(ours, got):
            bad.append(f"{cell}: cached value {got!r}, the library's {ours!r}")
    defined = {n.name.upper() for n in wb.defined_names.definedName}
    for n in names:
        if n.upper() not in defined and not any(n.upper() in l for l in open(report)):
            bad.append(f"range name {n}: neither defined nor reported")
    for cell, f in formats.items():
        want = {0x02: "0.00", 0x22: "$#,##0.00_);($#,##0.00)", 0x32: "0.00%", 0x72: "dd-mmm-yy"}.get(f & 0x7F)
        if want and ws[cell].number_format != want:
            bad.append(f"{cell}: number format {ws[cell].number_format!r}, not {want!r}")
        if f & 0x80 == 0 and ws[cell].protection.locked:
            bad.append(f"{cell}: unprotected in the source, locked in the workbook")
    if ws.column_dimensions["A"].width is None:
        bad.append("no column widths")
    for b in bad:
        print("check:", b)
    print(f"check: {len(values)} formulas, {len(values_only)} as values, {len(defined)} names; "
          f"{len(bad)} problems")
    return 1 if bad else 0


def ods_cells(ods):
    """The cells of the first table of ODS's content.xml by address, and its named ranges."""
    from xml.etree import ElementTree
    ns = {"table": "urn:oasis:names:tc:opendocument:xmlns:table:1.0",
          "office": "urn:oasis:names:tc:opendocument:xmlns:office:1.0",
          "text": "urn:oasis:names:tc:opendocument:xmlns:text:1.0"}
    t = "{%s}" % ns["table"]
    root = ElementTree.fromstring(zipfile.ZipFile(ods).read("content.xml"))
    table = root.find(".//table:table", ns)
    cells, row = {}, 0
    for r in table.findall("table:table-row", ns):
        col = 0
        for c in r.findall("table:table-cell", ns):
            if c.attrib:
                cells[openpyxl.utils.get_column_letter(col + 1) + str(row + 1)] = c
            col += int(c.get(t + "number-columns-repeated", "1"))
        row += int(r.get(t + "number-rows-repeated", "1"))
    names = {n.get(t + "name").upper() for n in root.findall(".//table:named-range", ns)}
    return cells, names, ns


def check_ods(dump, ods, report):
    """The ODS package: mimetype first and stored; every formula of the
    source a formula (of:=) or listed as a value, with the library's value
    cached; the range names named."""
    values, _, names = library_values(dump)
    values_only, _ = report_cells(report)
    first = zipfile.ZipFile(ods).infolist()[0]
    bad = [] if first.filename == "mimetype" and first.compress_type == zipfile.ZIP_STORED else ["mimetype not first"]
    cells, named, ns = ods_cells(ods)
    t, o = "{%s}" % ns["table"], "{%s}" % ns["office"]
    for cell, ours in values.items():
        c = cells.get(cell)
        f = c.get(t + "formula") if c is not None else None
        if cell not in values_only and not (f or "").startswith("of:="):
            bad.append(f"{cell}: no formula, and not in the report")
        if c is not None and ours[0] == "n" and not same(ours, float(c.get(o + "value", "nan"))):
            bad.append(f"{cell}: cached value {c.get(o + 'value')}, the library's {ours!r}")
        if c is not None and ours[0] == "s" and c.get(o + "string-value", c.findtext("text:p", "", ns)) != ours[1]:
            bad.append(f"{cell}: cached text, the library's {ours!r}")
    for n in names:
        if n.upper() not in named and not any(n.upper() in l for l in open(report)):
            bad.append(f"range name {n}: neither named nor reported")
    for b in bad:
        print("check-ods:", b)
    print(f"check-ods: {len(values)} formulas, {len(values_only)} as values, {len(named)} names; {len(bad)} problems")
    return 1 if bad else 0


def strip(xlsx, out):
    zin = zipfile.ZipFile(xlsx)
    zout = zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED)

    def without_value(m):
        cell = m.group(0)
        if "<f>" not in cell:
            return cell
        return re.sub(r' t="(str|e|b|n)"', "", re.sub(r"<v>[^<]*</v>", "", cell))

    for item in zin.infolist():
        data = zin.read(item.filename)
        if item.filename.startswith("xl/worksheets/"):
            data = re.sub(r"<c [^>]*>.*?</c>", without_value, data.decode("utf-8")).encode("utf-8")
        zout.writestr(item, data)
    zout.close()
    return 0


def strip_ods(ods, out):
    """OUT is the spreadsheet ODS without the cached values of its formulas."""
    zin = zipfile.ZipFile(ods)
    zout = zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED)

    def without_value(m):
        cell = m.group(0)
        if "table:formula=" not in cell:
            return cell
        cell = re.sub(r' office:(value-type|value|string-value)="[^"]*"', "", cell)
        return re.sub(r"><text:p>.*?</text:p></table:table-cell>$", "/>", cell)

    for item in zin.infolist():
        data = zin.read(item.filename)
        if item.filename == "content.xml":
            data = re.sub(r"<table:table-cell [^>]*?(/>|>.*?</table:table-cell>)", without_value,
                          data.decode("utf-8")).encode("utf-8")
        zout.writestr(item, data, zipfile.ZIP_STORED if item.filename == "mimetype" else zipfile.ZIP_DEFLATED)
    zout.close()
    return 0


def theirs_of(path):
    return openpyxl.load_workbook(path, data_only=True).active


def compare(dump, report, name, theirs):
    values, _, _ = library_values(dump)
    values_only, volatile = report_cells(report)
    ws = theirs_of(theirs)
    compared = right = 0
    for cell, ours in values.items():
        if cell in values_only or cell in volatile:
            continue
        compared += 1
        got = ws[cell].value
        if same(ours, got):
            right += 1
        else:
            print(f"{name}: DIFFERS {cell}: {got!r}, the library {ours!r}")
    print(f"{name}: {right} of {compared} translated formulas agree; {len(values_only)} written as values, "
          f"{len(volatile)} volatile")
    return 0 if right == compared else 1


def baseline(dump, name, theirs):
    values, _, _ = library_values(dump)
    ws = theirs_of(theirs)
    right = sum(1 for cell, ours in values.items() if same(ours, ws[cell].value))
    print(f"baseline: {name} reading the WK1 file itself computes {right} of {len(values)} formulas as the library does")
    return 0


if __name__ == "__main__":
    commands = {"check": check, "check-ods": check_ods, "strip": strip, "strip-ods": strip_ods, "compare": compare, "baseline": baseline}
    sys.exit(commands[sys.argv[1]](*sys.argv[2:]))
