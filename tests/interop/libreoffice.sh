#!/usr/bin/env bash
# Interoperability with a real spreadsheet program: the library writes WK1
# files (directly, and by converting an ORX file), LibreOffice's headless
# Calc opens them and exports the values it computes as CSV, and wk1_sheet
# compares those with the values the formulas have.  Cells that LibreOffice
# reads differently are listed in wk1_sheet.c and only reported.
#
#   tests/interop/libreoffice.sh PATH-TO-wk1_sheet
#
# Installs LibreOffice (Debian's libreoffice-calc-nogui) through
# scripts/setup when soffice is missing.
set -euo pipefail
sheet=$1
root=$(cd "$(dirname "$0")/../.." && pwd)

if ! command -v soffice >/dev/null 2>&1; then
  "$root/scripts/setup" interop
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$sheet" write "$work"

# A profile of its own, so that runs never share or wait for one.
profile="file://$work/profile"
status=0
for name in direct converted; do
  HOME="$work" timeout 300 soffice -env:UserInstallation="$profile" --headless --norestore \
    --convert-to csv --outdir "$work" "$work/$name.wk1" >"$work/soffice.log" 2>&1 || {
    cat "$work/soffice.log"
    exit 1
  }
  if [ ! -s "$work/$name.csv" ]; then
    echo "LibreOffice wrote no CSV for $name.wk1"
    cat "$work/soffice.log"
    exit 1
  fi
  "$sheet" check "$work/$name.csv" || status=1
done
exit $status
