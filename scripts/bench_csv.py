"""Times 'wks csv' against the other programs that turn a worksheet file
into CSV, and 'wks import' of that CSV, on the same files in one run: the median CPU time (user and
system, of the program and what it waits for) and peak memory (largest
resident set) of each, and the ratios of the targets.

    python3 scripts/bench_csv.py WKS DIR [REPETITIONS]

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
scratch = tempfile.mkdtemp(prefix="wks-csv-bench-")


def measure(argv, stdout_file):
    """CPU seconds and peak resident kilobytes of one run, or None when it
    failed.  The program runs under /usr/bin/time, which tells its peak: a
    child of this script would count the script's own memory from before its
    exec.  The CPU time is that of time and all it waits for."""
    peak_file = os.path.join(scratch, "peak")
    with open(stdout_file, "wb") as out:
        child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak_file] + argv, stdout=out,
                                 stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        return None
    with open(peak_file) as f:
        peak = int(f.read().split()[-1])
    return usage.ru_utime + usage.ru_stime, peak


def median_of(argv, produced, runs=repetitions):
    """Median CPU seconds and peak kilobytes over the runs; None when a run
    failed or wrote nothing."""
    times, peaks = [], []
    for _ in range(runs):
        if os.path.exists(produced):
            os.remove(produced)
        got = measure(argv, os.path.join(scratch, "stdout"))
        if got is None or not os.path.exists(produced) or os.path.getsize(produced) == 0:
            return None
        times.append(got[0])
        peaks.append(got[1])
    return statistics.median(times), max(peaks)


out = os.path.join(scratch, "out.csv")
stdout = os.path.join(scratch, "stdout")
results = {}
results["wks csv"] = median_of([wks, "csv", "--", cells], stdout)
results["wks csv, 8192 x 256 cells"] = median_of([wks, "csv", "--", full], stdout)
# 'wks import' of the CSV that 'wks csv' writes of the same file, back into a WK1 file.
cells_csv = os.path.join(scratch, "cells.csv")
with open(cells_csv, "wb") as f:
    subprocess.run([wks, "csv", "--", cells], stdout=f, check=True)
imported = os.path.join(scratch, "imported.wk1")
results["wks import of its CSV"] = median_of([wks, "import", "--", cells_csv, imported], imported)
if shutil.which("ssconvert"):
    results["ssconvert"] = median_of(["ssconvert", cells, out], out)
if shutil.which("wks2csv"):
    results["wks2csv"] = median_of(["wks2csv", "-o", out, cells], out)
if shutil.which("soffice"):
    profile = "-env:UserInstallation=file://" + os.path.join(scratch, "profile")
    # The first run sets up the profile; only the later ones count.
    measure(["soffice", profile, "--headless", "--convert-to", "csv", "--outdir", scratch, cells], stdout)
    results["soffice --convert-to csv"] = median_of(
        ["soffice", profile, "--headless", "--convert-to", "csv", "--outdir", scratch, cells],
        os.path.join(scratch, "cells.csv"), max(3, repetitions // 2))
shutil.rmtree(scratch, ignore_errors=True)

print("| CSV of the 200,000-cell file unless named | Median CPU time | Peak RSS | Ratio to wks csv |")
print("|---|---|---|---|")
ours = results["wks csv"]
for name, got in results.items():
    if got is None:
        print("| %s | failed | - | - |" % name)
        continue
    ratio = "-" if name.startswith("wks csv") or ours is None else "%.1fx" % (got[0] / ours[0])
    print("| %s | %.3f s | %.1f MB | %s |" % (name, got[0], got[1] / 1024, ratio))
print()
rows = []
if ours and results.get("ssconvert"):
    ratio = results["ssconvert"][0] / ours[0]
    rows.append(("wks csv vs ssconvert to CSV, CPU time", "%.1fx faster" % ratio, ">= 15x", "met" if ratio >= 15 else "MISSED"))
if ours and results.get("wks csv, 8192 x 256 cells"):
    ratio = results["wks csv, 8192 x 256 cells"][1] / ours[1]
    rows.append(("wks csv peak memory, 8192 x 256 vs 200,000 cells", "%.2fx" % ratio, "<= 2x", "met" if ratio <= 2 else "MISSED"))
if ours and results.get("wks import of its CSV"):
    ratio = results["wks import of its CSV"][0] / ours[0]
    rows.append(("wks import of the CSV vs wks csv, CPU time", "%.2fx" % ratio, "<= 3x", "met" if ratio <= 3 else "MISSED"))
print("| Measure | Result | Target | |")
print("|---|---|---|---|")
for r in rows:
    print("| %s | %s | %s | %s |" % r)
