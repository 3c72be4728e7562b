"""Converting many files on a Dask cluster's workers.

    from distributed import Client
    import wks.dask
    table = wks.dask.convert_many(paths, "out", to="xlsx", client=Client("tcp://scheduler:8786"))

Each file is one task.  The library's state is per process, so each
conversion runs in a worker process, behind the package's lock there.  Each
conversion writes into a directory of its own inside the output directory
and renames the complete result into place, so a failed, cancelled or
killed conversion leaves no partial file: the call removes those
directories before it returns.  A file whose worker died is run again on
another worker (by the scheduler, up to its
distributed.scheduler.allowed-failures, 3 by default).
"""
import os
import shutil
import time
import uuid

import wks

__all__ = ["convert_many"]


def _convert_one(source, destination, to, scratch):
    """One conversion, in a worker process: (status, message, seconds)."""
    start = time.perf_counter()
    try:
        shutil.rmtree(scratch, ignore_errors=True)  # what a worker that died here left
        os.mkdir(scratch)
        result = os.path.join(scratch, os.path.basename(destination))
        wks.convert(source, result, to)
        os.replace(result, destination)
    except (wks.Error, ValueError, OSError) as failure:
        return "failed", str(failure), time.perf_counter() - start
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return "done", "", time.perf_counter() - start


def _destination(source, out_dir, to):
    stem = os.path.splitext(os.path.basename(source))[0]
    return os.path.join(out_dir, stem + "." + to.lower())


def convert_many(paths, out_dir, to="xlsx", client=None):
    """Converts every file of paths into out_dir on a Dask cluster, and returns a pandas.DataFrame.

    to: "xlsx", "ods", "orx" (from WK1) or "wk1" (from ORX); each result is
    out_dir/NAME.<to> for a source NAME.<ext>.  client: a distributed.Client
    of the cluster (Client("tcp://host:8786") for a scheduler's address);
    None makes a local cluster of one single-threaded worker process per
    core for the call.  Every worker must reach paths and out_dir by the
    same names (a shared file system).

    The table has one row per source, in the order given: source,
    destination, status ("done", "failed", "cancelled" or "lost" when the
    file's worker died on every try), message (why, for the others) and
    seconds (the conversion's time on its worker).  Interrupted (Ctrl-C),
    the call cancels the conversions not yet run and raises; each file
    already written is whole.
    """
    import pandas

    paths = [os.fspath(p) for p in paths]
    out_dir = os.fspath(out_dir)
    destinations = [_destination(p, out_dir, to) for p in paths]
    seen = {}
    for source, destination in zip(paths, destinations):
        if destination in seen:
            raise ValueError("%s and %s would both be written to %s" % (seen[destination], source, destination))
        seen[destination] = source
    os.makedirs(out_dir, exist_ok=True)

    own = None
    if client is None:
        from distributed import Client, LocalCluster

        own = Client(LocalCluster(n_workers=os.cpu_count() or 1, threads_per_worker=1, processes=True,
                                  dashboard_address=":0"))
        client = own
    run = uuid.uuid4().hex
    scratches = [os.path.join(out_dir, ".wks-%s-%d" % (run, i)) for i in range(len(paths))]
    try:
        futures = [
            client.submit(_convert_one, s, d, to, scratch, key="wks-convert-%s-%d" % (run, i))
            for i, (s, d, scratch) in enumerate(zip(paths, destinations, scratches))
        ]
        try:
            from distributed import wait

            wait(futures)
        except BaseException:
            client.cancel(futures)
            raise
        finally:
            for scratch in scratches:
                shutil.rmtree(scratch, ignore_errors=True)
        rows = []
        for source, destination, future in zip(paths, destinations, futures):
            status, message, seconds = _outcome(future)
            rows.append((source, destination, status, message, seconds))
    finally:
        if own is not None:
            cluster = own.cluster
            own.close()
            cluster.close()
    return pandas.DataFrame(rows, columns=["source", "destination", "status", "message", "seconds"])


def _outcome(future):
    if future.status == "finished":
        return future.result()
    if future.status == "cancelled":
        return "cancelled", "cancelled before it ran", 0.0
    failure = future.exception()
    from distributed import KilledWorker

    if isinstance(failure, KilledWorker):
        return "lost", "its worker died on every try: %s" % failure, 0.0
    return "failed", "%s: %s" % (type(failure).__name__, failure), 0.0
