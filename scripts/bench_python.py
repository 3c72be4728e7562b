"""Times the Python package wks: read_frame of the 200,000-cell file against
'wks csv --values' of it (target: at most 3 times the CPU time), and
wks.dask.convert_many of 100 files of 5,000 cells to XLSX on a local cluster
of 2 worker processes against 1 (target: at least 1.6 times the throughput).

    /usr/bin/python3 scripts/bench_python.py BUILD DIR [RUNS]

Each figure is the median of RUNS runs when given (scripts/test gives 1, to
see that the benchmark works), else of five (read_frame) and seven
(convert_many).

BUILD is a build directory with the package (BUILD/python) and the tools
(BUILD/wks, BUILD/wks_batch_files); DIR holds cells.wk1 as wks_csv_files
writes it."""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def csv_cpu(build, cells):
    before = os.times()
    subprocess.run([os.path.join(build, "wks"), "csv", "--values", cells], stdout=subprocess.DEVNULL, check=True)
    after = os.times()
    return (after.children_user - before.children_user) + (after.children_system - before.children_system)


def frame_cpu(cells):
    import pandas
    import wks

    start = time.process_time()
    frame = wks.read_frame(cells)
    assert isinstance(frame, pandas.DataFrame)
    return time.process_time() - start


def main():
    # The worker processes start this script anew: everything runs under main().
    build, files = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else None
    repetitions = runs or 5
    sys.path.insert(0, os.path.join(build, "python"))
    os.environ["PYTHONPATH"] = os.path.join(os.path.abspath(build), "python")  # for the workers
    import wks.dask
    from distributed import Client, LocalCluster

    cells = os.path.join(files, "cells.wk1")
    frame_cpu(cells)  # pandas and the package loaded before the timing
    frame = statistics.median(frame_cpu(cells) for _ in range(repetitions))
    csv = statistics.median(csv_cpu(build, cells) for _ in range(repetitions))
    print("| Python | median CPU time | against wks csv --values | target |")
    print("|---|---|---|---|")
    print("| wks csv --values cells.wk1 | %.3f s | 1.00x | |" % csv)
    print("| wks.read_frame(cells.wk1) | %.3f s | %.2fx | <= 3x: %s |"
          % (frame, frame / csv, "met" if frame <= 3 * csv else "MISSED"))

    scratch = tempfile.mkdtemp(prefix="wks-python-bench-")
    try:
        subprocess.run([os.path.join(build, "wks_batch_files"), scratch, "100", "5000"], check=True)
        paths = sorted(os.path.join(scratch, f) for f in os.listdir(scratch))
        walls = {1: [], 2: []}
        # Two clusters at once: each scheduler's web server on a free port of its own.
        clusters = {n: LocalCluster(n_workers=n, threads_per_worker=1, processes=True, dashboard_address=":0")
                    for n in (1, 2)}
        clients = {n: Client(c) for n, c in clusters.items()}
        for n, client in clients.items():  # every worker imports the package before the timing
            wks.dask.convert_many(paths[:2 * n], os.path.join(scratch, "warm"), client=client)
        # Each run into a directory of its own, all removed at the end: removing
        # 100 results between runs would time the file system's search past
        # the inodes it freed in the last minutes.
        for run in range(runs or 7):
            for n, client in clients.items():
                out = os.path.join(scratch, "out%d-%d" % (n, run))
                start = time.perf_counter()
                table = wks.dask.convert_many(paths, out, client=client)
                walls[n].append(time.perf_counter() - start)
                assert set(table.status) == {"done"}, table[table.status != "done"]
        for client in clients.values():
            client.close()
        for cluster in clusters.values():
            cluster.close()
        wall = {n: statistics.median(w) for n, w in walls.items()}
        print()
        print("| convert_many, 100 files of 5,000 cells to XLSX | median wall time | files/s |")
        print("|---|---|---|")
        for n in (1, 2):
            print("| %d worker process%s | %.2f s | %.1f |" % (n, "" if n == 1 else "es", wall[n], len(paths) / wall[n]))
        ratio = wall[1] / wall[2]
        print("\nthroughput of 2 workers against 1: %.2fx (target >= 1.60x: %s)" % (ratio, "met" if ratio >= 1.6 else "MISSED"))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
