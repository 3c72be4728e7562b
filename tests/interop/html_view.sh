#!/usr/bin/env bash
# The page 'wks html' writes, as a browser shows it: a sheet with labels of
# each alignment, numbers in several formats (some too wide for their column),
# ERR, a hidden cell, a formula, a wide column, a label in Latin-1, one that
# holds markup and one in a later block of rows goes through 'wks html', and headless Chromium loads the
# page (html_view.py): no console error, and each of those cells renders as
# the sheet shows it.
#
#   tests/interop/html_view.sh PATH-TO-wks
#
# Installs Chromium (Debian's chromium) through scripts/setup when it is
# missing.
set -euo pipefail
wks=$1
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if ! command -v chromium >/dev/null 2>&1 || ! /usr/bin/python3 -c 'import websocket' 2>/dev/null; then
  "$root/scripts/setup" interop
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

printf '1\n' >"$work/one.csv"
"$wks" import "$work/one.csv" "$work/one.wk1"
{
  "$wks" dump --json "$work/one.wk1" | grep -v '"kind":"\(eof\|integer\)"'
  cat <<'JSON'
{"kind":"other","type":8,"body":"00000c"}
{"kind":"other","type":8,"body":"030014"}
{"kind":"label","col":0,"row":0,"format":255,"value":"'Item"}
{"kind":"label","col":1,"row":0,"format":255,"value":"\"Right"}
{"kind":"label","col":2,"row":0,"format":255,"value":"^Mid"}
{"kind":"label","col":3,"row":0,"format":255,"value":"'Caf\u00e9 in a column of twenty"}
{"kind":"number","col":0,"row":1,"format":34,"value":1234.5}
{"kind":"number","col":1,"row":1,"format":49,"value":0.256}
{"kind":"number","col":2,"row":1,"format":120,"value":0.75}
{"kind":"number","col":3,"row":1,"format":114,"value":41689}
{"kind":"formula","col":0,"row":2,"format":255,"text":"@ERR"}
{"kind":"number","col":1,"row":2,"format":118,"value":5}
{"kind":"label","col":2,"row":2,"format":255,"value":"'<script>document.title='x'</script>"}
{"kind":"formula","col":3,"row":2,"format":255,"text":"A2*2"}
{"kind":"number","col":0,"row":3,"format":255,"value":1234567890123}
{"kind":"number","col":1,"row":3,"format":34,"value":123456789}
{"kind":"label","col":2,"row":3,"format":255,"value":"\\-"}
{"kind":"number","col":0,"row":4,"format":113,"value":0.6666666666666666}
{"kind":"number","col":1,"row":4,"format":113,"value":0.0000001234}
{"kind":"label","col":3,"row":149,"format":255,"value":"\"in a later block"}
{"kind":"eof"}
JSON
} | "$wks" import --json --encoding latin1 - "$work/sheet.wk1"
"$wks" html --compute --encoding latin1 "$work/sheet.wk1" >"$work/sheet.html"

cat >"$work/expected.json" <<'JSON'
{"cells": {
  "A1": {"text": "Item", "align": "start"},
  "B1": {"text": "Right", "align": "right"},
  "C1": {"text": "Mid", "align": "center"},
  "D1": {"text": "Caf\u00e9 in a column of twenty"},
  "A2": {"text": "$1,234.50", "align": "right"},
  "B2": {"text": "25.6%"},
  "C2": {"text": "06:00 PM"},
  "D2": {"text": "19-Feb-14"},
  "A3": {"text": "ERR", "title": "@ERR()", "align": "right"},
  "B3": {"text": ""},
  "C3": {"text": "<script>document.title='x'</script>"},
  "D3": {"text": "2469", "title": "A2*2"},
  "A4": {"text": "1.23457E+12"},
  "B4": {"text": "********"},
  "C4": {"text": "---------"},
  "A5": {"text": "0.666666667"},
  "B5": {"text": "1.23E-07"},
  "D150": {"text": "in a later block", "align": "right"}
 },
 "wider": ["D", "B", 2.0]}
JSON
/usr/bin/python3 "$here/html_view.py" chromium "$work/sheet.html" "$work/expected.json"
