"""Prints the ratio table of a benchmark run (Google Benchmark's JSON output,
one file per benchmark program): the median CPU time of each benchmark
against its floor, and the formula and recalculation rates against their
targets."""
import json
import sys

median = {}
for path in sys.argv[1:]:
    with open(path) as f:
        run = json.load(f)
    median.update({b["run_name"]: b for b in run["benchmarks"] if b.get("aggregate_name") == "median"})


def cpu(name):
    return median[name]["cpu_time"]


def rate(name, key):
    return median[name].get(key, 0.0)


rows = []
for what, lib, floor, target in [
    ("record stream: wksnextr, 1,000,000 records", "BM_ReadWksnextr", "BM_ReadFloor", 1.15),
    ("record writing: wkswrec, 1,000,000 records", "BM_WriteWkswrec", "BM_WriteFloor", 1.15),
    ("decoding with 10,000 range names vs none", "BM_Decode_Names/10000", "BM_Decode_Names/0", 1.5),
    ("wk1_to_orx vs copy_file, 200,000 cells", "BM_Wk1ToOrx", "BM_CopyFile", 3.0),
    ("orx_to_wk1 vs copy_file, 200,000 cells", "BM_OrxToWk1", "BM_CopyFile", 3.0),
    ("wks_calc_file (wks calc) vs wk1_to_orx, 200,000 cells", "BM_CalcFile", "BM_Wk1ToOrx", 3.0),
]:
    if lib in median and floor in median:
        ratio = cpu(lib) / cpu(floor)
        verdict = "" if target is None else ("met" if ratio <= target else "MISSED")
        rows.append((what, "%.2fx" % ratio, "<= %.2fx" % target if target else "-", verdict))

for what, name, target in [
    ("wksfe A1+B1*2, compiles/s", "BM_Compile_Simple", 3e6),
    ("wksfr A1+B1*2, decodes/s", "BM_Decode_Simple", 4e6),
    ("wksfe mix, formulas/s", "BM_Compile_Mix", None),
    ("wksfr mix, formulas/s", "BM_Decode_Mix", None),
    ("recalculation, formula cells/s", "BM_Recalc", 2e6),
    ("recalculation with a new natural order, formula cells/s", "BM_RecalcNewOrder", None),
    ("loading a sheet from a WK1 stream, cells/s", "BM_LoadSheet", None),
]:
    if name in median:
        got = rate(name, "items_per_second")
        verdict = "" if target is None else ("met" if got >= target else "MISSED")
        rows.append((what, "%.2fM" % (got / 1e6), ">= %.1fM" % (target / 1e6) if target else "-", verdict))

for what, name in [("wksfe mix, text bytes/s", "BM_Compile_Mix"), ("wksfr mix, text bytes/s", "BM_Decode_Mix")]:
    if name in median:
        rows.append((what, "%.1f MB" % (rate(name, "bytes_per_second") / 1e6), "-", ""))
if "BM_Wk1ToOrx" in median:
    rows.append(("wk1_to_orx, cells/s", "%.0fk" % (rate("BM_Wk1ToOrx", "items_per_second") / 1e3), "-", ""))

print("| Measure (median CPU time) | Result | Target | |")
print("|---|---|---|---|")
for r in rows:
    print("| %s | %s | %s | %s |" % r)
