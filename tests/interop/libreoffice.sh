#!/usr/bin/env bash
# Interoperability with a real spreadsheet program: the library writes WK1
# files (directly, and by converting an ORX file), LibreOffice's headless
# Calc opens them and exports what it shows as CSV (UTF-8), and wk1_sheet
# compares: the values LibreOffice computes for the formulas with the values
# they have, and, for the file that stores its formulas' values, each cell
# as LibreOffice shows it with what 'wks csv --values' shows.  Then the
# values 'wks import' stores: each must be the formula language's, and the
# one LibreOffice computes for a copy of the file with zeros in their place
# (LibreOffice shows a stored value unless it is 0).  Cells that LibreOffice
# computes or shows differently are listed in wk1_sheet.c with the reason
# and only reported.
#
#   tests/interop/libreoffice.sh PATH-TO-wk1_sheet PATH-TO-wks
#
# Installs LibreOffice (Debian's libreoffice-calc-nogui) through
# scripts/setup when soffice is missing.
set -euo pipefail
sheet=$1
wks=$2
root=$(cd "$(dirname "$0")/../.." && pwd)

if ! command -v soffice >/dev/null 2>&1; then
  "$root/scripts/setup" interop
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$sheet" write "$work"
"$sheet" csv "$work/calc.csv"
"$wks" import "$work/calc.csv" "$work/imported.wk1"
"$wks" calc --check "$work/imported.wk1" >"$work/check.txt" || { cat "$work/check.txt"; exit 1; }
"$sheet" zeros "$work/imported.wk1" "$work/zeros.wk1"

# A profile of its own, so that runs never share or wait for one.
profile="file://$work/profile"
status=0
for name in direct converted stored zeros; do
  HOME="$work" timeout 300 soffice -env:UserInstallation="$profile" --headless --norestore \
    --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76' --outdir "$work" "$work/$name.wk1" \
    >"$work/soffice.log" 2>&1 || {
    cat "$work/soffice.log"
    exit 1
  }
  if [ ! -s "$work/$name.csv" ]; then
    echo "LibreOffice wrote no CSV for $name.wk1"
    cat "$work/soffice.log"
    exit 1
  fi
  if [ "$name" = stored ]; then
    # LibreOffice reads a WK1 file's labels as cp437, not as the LICS that
    # wks chooses for them by default: the same set on both sides.
    "$wks" csv --values --encoding cp437 "$work/$name.wk1" >"$work/$name.values.csv" || status=1
    "$sheet" shown "$work/$name.csv" "$work/$name.values.csv" || status=1
  elif [ "$name" = zeros ]; then
    "$sheet" imported "$work/$name.csv" "$work/imported.wk1" || status=1
  else
    "$sheet" computed "$work/$name.csv" || status=1
  fi
done
exit $status
