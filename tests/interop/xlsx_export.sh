#!/usr/bin/env bash
# Interoperability of the XLSX and ODS export: a sheet with every function of the
# formula language (export_functions.csv: negative arguments, labels and
# blanks in ranges, ERR and NA inputs, offsets from 0, the financial
# argument orders), range names, formats and an unprotected cell goes through
# 'wks convert --to xlsx'.  openpyxl reads the workbook (formulas, cached
# values, names, formats, widths); then the workbook without its cached
# values is recomputed by LibreOffice (soffice --headless) and Gnumeric
# (ssconvert --recalc), and each formula's value must be the library's
# within 1e-9 relative, or be listed in the report as written as its value.
# The same for the sheet exported as ODS.  The same programs reading the WK1 file
# themselves give the baseline, printed.
#
#   tests/interop/xlsx_export.sh PATH-TO-wks check   the export and openpyxl's reading,
#                                                    also of the sample sheet; the ODS read as XML
#   tests/interop/xlsx_export.sh PATH-TO-wks peers   the recomputation by the other programs
set -euo pipefail
wks=$1
mode=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
python="/usr/bin/python3 -W ignore"
compare="$here/xlsx_compare.py"

if [ "$mode" = peers ] && ! { command -v soffice && command -v ssconvert; } >/dev/null 2>&1; then
  "$root/scripts/setup" interop
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The functions, then range names, formats and formulas that use the names.
"$wks" import "$here/export_functions.csv" "$work/functions.wk1"
{
  "$wks" dump --json "$work/functions.wk1" | grep -v '"kind":"eof"'
  cat <<'JSON'
{"kind":"range_name","range_name":"LOOKUP","c1":9,"r1":0,"c2":11,"r2":3}
{"kind":"range_name","range_name":"ONE","c1":0,"r1":0,"c2":0,"r2":0}
{"kind":"range_name","range_name":"TAX1","c1":1,"r1":0,"c2":1,"r2":0}
{"kind":"number","col":22,"row":0,"format":2,"value":1.5}
{"kind":"number","col":22,"row":1,"format":34,"value":-1234.5}
{"kind":"number","col":22,"row":2,"format":50,"value":0.073}
{"kind":"number","col":22,"row":3,"format":114,"value":32874}
{"kind":"number","col":22,"row":4,"format":242,"value":32874}
{"kind":"label","col":22,"row":5,"format":127,"value":"^centred"}
{"kind":"formula","col":1,"row":11,"format":255,"text":"@SUM(LOOKUP)"}
{"kind":"formula","col":1,"row":12,"format":255,"text":"@@(\"ONE\")*2"}
{"kind":"formula","col":1,"row":13,"format":255,"text":"@@(\"one\")+@@(\"tax1\")"}
{"kind":"eof"}
JSON
} | "$wks" import --json - "$work/sheet.wk1"
"$wks" calc --reproducible "$work/sheet.wk1" >/dev/null
"$wks" dump --json "$work/sheet.wk1" >"$work/sheet.json"

"$wks" convert --to xlsx --reproducible --report "$work/report.jsonl" "$work/sheet.wk1" "$work/sheet.xlsx"
if [ "$mode" = check ]; then
  $python "$compare" check "$work/sheet.json" "$work/sheet.xlsx" "$work/report.jsonl"
  "$wks" convert --to ods --reproducible --report "$work/report-ods.jsonl" "$work/sheet.wk1" "$work/sheet.ods"
  $python "$compare" check-ods "$work/sheet.json" "$work/sheet.ods" "$work/report-ods.jsonl"
  "$wks" import "$root/examples/data/sample.csv" "$work/sample.wk1"
  "$wks" convert "$work/sample.wk1" "$work/sample.orx"
  "$wks" dump --json "$work/sample.orx" >"$work/sample.json"
  "$wks" convert --to xlsx --report "$work/sample.jsonl" "$work/sample.orx" "$work/sample.xlsx"
  $python "$compare" check "$work/sample.json" "$work/sample.xlsx" "$work/sample.jsonl"
  # A failed export leaves an earlier report under its name as it was, and
  # no export leaves a temporary file beside its results.
  echo earlier >"$work/kept.jsonl"
  if "$wks" convert --to xlsx --report "$work/kept.jsonl" "$work/sample.orx" "$work/none/s.xlsx" 2>/dev/null; then
    echo "an export into a missing directory succeeded"; exit 1
  fi
  [ "$(cat "$work/kept.jsonl")" = earlier ] || { echo "a failed export changed the report"; exit 1; }
  if ls -a "$work" | grep '\.wks-'; then echo "an export left a temporary file"; exit 1; fi
  # Formulas that read few cells, more of them than one batch computes: their
  # stored values are 0, so each cached value must be a computed one.  C7001,
  # read by the others, comes after them; a label gives a string value.
  $python - >"$work/batches.jsonl" <<'PY'
import json
rows = [{"kind": "bof", "version": 1030}, {"kind": "number", "col": 0, "row": 0, "format": 255, "value": 3},
        {"kind": "formula", "col": 1, "row": 0, "format": 255, "text": "A1*2"},
        {"kind": "label", "col": 2, "row": 0, "format": 255, "value": "'ab"}]
for r in range(1, 6001):
    for c in range(1, 4):
        text = "@UPPER($C$1)" if r % 1000 == 0 else "$B$1+$C$7001+%d" % (r * 3 + c)
        rows.append({"kind": "formula", "col": c, "row": r, "format": 255, "text": text})
rows += [{"kind": "formula", "col": 2, "row": 7000, "format": 255, "text": "@SUM(A1..B1)"}, {"kind": "eof"}]
print("\n".join(json.dumps(r) for r in rows))
PY
  "$wks" import --json "$work/batches.jsonl" "$work/batches.wk1"
  cp "$work/batches.wk1" "$work/computed.wk1"
  "$wks" calc "$work/computed.wk1" >/dev/null
  "$wks" dump --json "$work/computed.wk1" >"$work/computed.json"
  "$wks" convert --to xlsx --report "$work/batches-report.jsonl" "$work/batches.wk1" "$work/batches.xlsx"
  $python "$compare" check "$work/computed.json" "$work/batches.xlsx" "$work/batches-report.jsonl"
  exit 0
fi
$python "$compare" strip "$work/sheet.xlsx" "$work/stripped.xlsx"

# Values of formulas whose stored value is 0, for the baseline.
sed '/"kind":"formula"/s/"value":[^,}]*/"value":0/' "$work/sheet.json" | "$wks" import --json - "$work/zeros.wk1"

profile="file://$work/profile"
run_soffice() {
  HOME="$work" timeout 300 soffice -env:UserInstallation="$profile" --headless --norestore \
    --convert-to xlsx --outdir "$work/lo" "$1" >"$work/soffice.log" 2>&1 || { cat "$work/soffice.log"; exit 1; }
}
status=0
run_soffice "$work/stripped.xlsx"
$python "$compare" compare "$work/sheet.json" "$work/report.jsonl" libreoffice "$work/lo/stripped.xlsx" || status=1
timeout 300 ssconvert --recalc "$work/stripped.xlsx" "$work/gnumeric.xlsx" 2>"$work/ssconvert.log" || {
  cat "$work/ssconvert.log"; exit 1; }
$python "$compare" compare "$work/sheet.json" "$work/report.jsonl" gnumeric "$work/gnumeric.xlsx" || status=1

# The same sheet as ODS, through the same translation in OpenFormula syntax.
"$wks" convert --to ods --reproducible --report "$work/report-ods.jsonl" "$work/sheet.wk1" "$work/sheet.ods"
$python "$compare" strip-ods "$work/sheet.ods" "$work/stripped-ods.ods"
run_soffice "$work/stripped-ods.ods"
$python "$compare" compare "$work/sheet.json" "$work/report-ods.jsonl" "libreoffice (ODS)" "$work/lo/stripped-ods.xlsx" || status=1
timeout 300 ssconvert --recalc "$work/stripped-ods.ods" "$work/gnumeric-ods.xlsx" 2>>"$work/ssconvert.log" || {
  cat "$work/ssconvert.log"; exit 1; }
$python "$compare" compare "$work/sheet.json" "$work/report-ods.jsonl" "gnumeric (ODS)" "$work/gnumeric-ods.xlsx" || status=1

run_soffice "$work/zeros.wk1"
$python "$compare" baseline "$work/sheet.json" libreoffice "$work/lo/zeros.xlsx"
timeout 300 ssconvert --recalc "$work/zeros.wk1" "$work/gnumeric-wk1.xlsx" 2>>"$work/ssconvert.log" || {
  cat "$work/ssconvert.log"; exit 1; }
$python "$compare" baseline "$work/sheet.json" gnumeric "$work/gnumeric-wk1.xlsx"
exit $status
