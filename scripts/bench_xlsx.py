"""Times 'wks convert --to xlsx' against the other programs that write an
XLSX workbook of a worksheet file, on the same files in one run: the median
CPU time (user and system, of the program and what it waits for) and peak
memory (largest resident set) of each, and the ratios of the targets.

    python3 scripts/bench_xlsx.py WKS DIR [REPETITIONS]

DIR holds cells.wk1 (200,000 cells) and full.wk1 (8192 x 256 cells), as
wks_csv_files writes them.  A program that is not installed is left out."""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

wks, files = sys.argv[1], sys.argv[2]
repetitions = int(sys.argv[3]) if len(sys.argv) > 3 else 5
cells = os.path.join(files, "cells.wk1")
full = os.path.join(files, "full.wk1")
scratch = tempfile.mkdtemp(prefix="wks-xlsx-bench-")
out = os.path.join(scratch, "cells.xlsx")


def measure(argv):
    """CPU seconds and peak resident kilobytes of one run (under
    /usr/bin/time, which tells the peak), or None when it failed."""
    peak_file = os.path.join(scratch, "peak")
    child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak_file] + argv, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        return None
    with open(peak_file) as f:
        peak = int(f.read().split()[-1])
    return usage.ru_utime + usage.ru_stime, peak


def median_of(argv, runs=repetitions):
    times, peaks = [], []
    for _ in range(runs):
        if os.path.exists(out):
            os.remove(out)
        got = measure(argv)
        if got is None or not os.path.exists(out) or os.path.getsize(out) == 0:
            return None
        times.append(got[0])
        peaks.append(got[1])
    return statistics.median(times), max(peaks)


results = {}
results["wks convert --to xlsx"] = median_of([wks, "convert", "--to", "xlsx", cells, out])
results["wks convert --to xlsx, 8192 x 256 cells"] = median_of([wks, "convert", "--to", "xlsx", full, out])
if shutil.which("ssconvert"):
    results["ssconvert"] = median_of(["ssconvert", cells, out])
if shutil.which("soffice"):
    profile = "-env:UserInstallation=file://" + os.path.join(scratch, "profile")
    argv = ["soffice", profile, "--headless", "--convert-to", "xlsx", "--outdir", scratch, cells]
    measure(argv)  # the first run sets up the profile; only the later ones count
    results["soffice --convert-to xlsx"] = median_of(argv, max(3, repetitions // 2))
shutil.rmtree(scratch, ignore_errors=True)

print("| XLSX of the 200,000-cell file unless named | Median CPU time | Peak RSS | Ratio to wks |")
print("|---|---|---|---|")
ours = results["wks convert --to xlsx"]
for name, got in results.items():
    if got is None:
        print("| %s | failed | - | - |" % name)
        continue
    ratio = "-" if name.startswith("wks") or ours is None else "%.1fx" % (got[0] / ours[0])
    print("| %s | %.3f s | %.1f MB | %s |" % (name, got[0], got[1] / 1024, ratio))
print()
rows = []
for peer, target in (("ssconvert", 10), ("soffice --convert-to xlsx", 20)):
    if ours and results.get(peer):
        ratio = results[peer][0] / ours[0]
        rows.append(("wks convert --to xlsx vs %s, CPU time" % peer.split()[0], "%.1fx faster" % ratio,
                     ">= %dx" % target, "met" if ratio >= target else "MISSED"))
big = results.get("wks convert --to xlsx, 8192 x 256 cells")
if ours and big:
    ratio = big[1] / ours[1]
    rows.append(("wks convert --to xlsx peak memory, 8192 x 256 vs 200,000 cells", "%.2fx" % ratio, "<= 2x",
                 "met" if ratio <= 2 else "MISSED"))
print("| Measure | Result | Target | |")
print("|---|---|---|---|")
for r in rows:
    print("| %s | %s | %s | %s |" % r)
