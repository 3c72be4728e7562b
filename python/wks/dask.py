"""Converting many files on a Dask cluster's workers.

    from distributed import Client
    import wks.dask
    table = wks.dask.convert_many(paths, "out", to="xlsx", client=Client("tcp://scheduler:8786"))

The files go to the workers in groups of consecutive files, each a share
of the files left, so that the last groups are short: one task converts a
group's files one after the other and returns a row for each, so that
Dask's own cost per task (scheduling, a result to fetch) is paid once for
many files. The library's state is per process, so each conversion runs in
a worker process, behind the package's lock there.

Each group has a directory of its own inside the output directory, made
with the group's log in it before the group is submitted.  Each conversion
writes into that directory and renames the complete result into place, so
a failed, cancelled or killed conversion leaves no partial file; the call
removes the directories before it returns.  A group whose log is gone (the
call was interrupted) stops before its next file.

The log says which file a group has started and, once its result is in
place, the file's row.  A try of the group after its worker died (the
scheduler runs it again elsewhere, up to its
distributed.scheduler.allowed-failures, 3 by default) takes the rows logged
and goes on from the first file without one.  When every try died, the
group's files without a row are submitted again as a new group; the first
of them is lost instead once more tries died on it than the scheduler
allows a task (or, when it never started, died before it: waiting on a
worker that another task killed).  The results are released as they come,
so that the loss of a worker holding one makes no new try.
"""
import json
import os
import shutil
import threading
import time
import uuid

import wks

__all__ = ["convert_many"]

_LOG = "wks-group.log"
_GROUP_MIN = 2   # files in a group at least
_GROUP_MAX = 64  # files in a group at most: what a group's death or an interruption leaves to run again


class _Memory:
    """glibc's malloc in a Dask worker process, kept from mapping each large
    block afresh while groups convert.

    The nanny starts its worker with MALLOC_TRIM_THRESHOLD_ set (Dask's
    distributed.nanny.pre-spawn-environ), and a threshold set so also fixes
    the size from which malloc maps a block of its own at 128 KiB instead of
    letting it grow: every conversion's large buffers (the library's read
    buffers, the export's tables) are then mapped, faulted in page by page
    and unmapped again, adding about a sixth to a small file's time.  While
    groups run the thresholds are raised; when the last group of the process
    ends they are put back as the environment set them and the free memory
    is given back to the system, as Dask wants it."""

    _lock = threading.Lock()
    _running = 0
    _calls = None  # (mallopt, malloc_trim), or () where malloc is another or its thresholds float
    _TRIM, _MMAP = -1, -3  # glibc's M_TRIM_THRESHOLD and M_MMAP_THRESHOLD
    _FIXED = ("MALLOC_TRIM_THRESHOLD_", "MALLOC_MMAP_THRESHOLD_", "MALLOC_TOP_PAD_", "MALLOC_MMAP_MAX_")

    @classmethod
    def _libc(cls):
        if cls._calls is None:
            cls._calls = ()
            if any(name in os.environ for name in cls._FIXED):
                try:
                    os.confstr("CS_GNU_LIBC_VERSION")
                    import ctypes

                    libc = ctypes.CDLL(None)
                    cls._calls = (libc.mallopt, libc.malloc_trim)
                except (ValueError, OSError, AttributeError):
                    pass
        return cls._calls

    @staticmethod
    def _threshold(name):
        try:
            return int(os.environ.get(name, 128 * 1024))
        except ValueError:
            return 128 * 1024

    def __enter__(self):
        with self._lock:
            calls = self._libc()
            if calls and _Memory._running == 0:
                calls[0](self._MMAP, 32 * 1024 * 1024)
                calls[0](self._TRIM, 64 * 1024 * 1024)
            _Memory._running += 1

    def __exit__(self, *failure):
        with self._lock:
            _Memory._running -= 1
            calls = self._libc()
            if calls and _Memory._running == 0:
                calls[0](self._MMAP, self._threshold("MALLOC_MMAP_THRESHOLD_"))
                calls[0](self._TRIM, self._threshold("MALLOC_TRIM_THRESHOLD_"))
                calls[1](0)


def _convert_one(source, destination, to, scratch):
    """One conversion, in a worker process: (status, message, seconds)."""
    start = time.perf_counter()
    result = os.path.join(scratch, os.path.basename(destination))
    try:
        wks.convert(source, result, to)
        os.replace(result, destination)
    except (wks.Error, ValueError, OSError) as failure:
        return "failed", str(failure), time.perf_counter() - start
    return "done", "", time.perf_counter() - start


def _read_log(scratch):
    """What a group's tries logged: the rows {index in the group: (status, message, seconds)} and
    how many tries started each file {index: tries}."""
    rows, started = {}, {}
    try:
        with open(os.path.join(scratch, _LOG), "rb") as log:
            for line in log:
                try:
                    entry = json.loads(line)
                except ValueError:  # the end of a line a dying worker did not finish
                    continue
                if len(entry) == 1:
                    started[entry[0]] = started.get(entry[0], 0) + 1
                else:
                    rows[entry[0]] = tuple(entry[1:])
    except OSError:
        pass
    return rows, started


def _convert_group(jobs, to, scratch):
    """The files of jobs [(source, destination), ...] one after the other, in a worker process: a
    row (status, message, seconds) for each."""
    rows = _read_log(scratch)[0]
    try:
        log = os.open(os.path.join(scratch, _LOG), os.O_WRONLY | os.O_APPEND)
    except OSError:  # removed: the call was interrupted
        log = None
    cancelled = False
    try:
        with _Memory():
            for i, (source, destination) in enumerate(jobs):
                if i in rows:
                    continue
                cancelled = cancelled or log is None or os.fstat(log).st_nlink == 0
                if cancelled:
                    rows[i] = ("cancelled", "cancelled before it ran", 0.0)
                    continue
                os.write(log, b"[%d]\n" % i)
                rows[i] = _convert_one(source, destination, to, scratch)
                os.write(log, (json.dumps([i] + list(rows[i])) + "\n").encode())
    finally:
        if log is not None:
            os.close(log)
    if cancelled:  # what a conversion put there while the call removed the directory
        shutil.rmtree(scratch, ignore_errors=True)
    return [rows[i] for i in range(len(jobs))]


def _destination(source, out_dir, to):
    stem = os.path.splitext(os.path.basename(source))[0]
    return os.path.join(out_dir, stem + "." + to.lower())


def _groups(count, threads):
    """The indices 0..count-1 in runs, each a share of the files left (half of what each thread
    would get), so that the last runs, short, even out the workers' loads."""
    groups, start = [], 0
    while start < count:
        size = min(_GROUP_MAX, max(_GROUP_MIN, -(-(count - start) // (2 * threads))))
        groups.append(range(start, min(count, start + size)))
        start += size
    return groups


def convert_many(paths, out_dir, to="xlsx", client=None):
    """Converts every file of paths into out_dir on a Dask cluster, and returns a pandas.DataFrame.

    to: "xlsx", "ods", "orx" (from WK1) or "wk1" (from ORX); each result is
    out_dir/NAME.<to> for a source NAME.<ext>.  client: a distributed.Client
    of the cluster (Client("tcp://host:8786") for a scheduler's address);
    None makes a local cluster of one single-threaded worker process per
    core for the call.  Every worker must reach paths and out_dir by the
    same names (a shared file system).  The files go to the workers in
    groups, the last ones short.

    The table has one row per source, in the order given: source,
    destination, status ("done", "failed", "cancelled" or "lost" when the
    worker died while converting the file, on every try), message (why, for
    the others) and seconds (the file's conversion time on its worker).
    Interrupted (Ctrl-C), the call cancels the conversions not yet run and
    raises; each file already written is whole.
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
    rows = [None] * len(paths)
    scratches = []
    groups = {}  # each future not yet seen through: (indices of its files, its directory)
    deaths = {}  # file: (tries that died converting it, tries of its groups that died before it started)
    try:
        def submit(indices):
            scratch = os.path.join(out_dir, ".wks-%s-%d" % (run, len(scratches)))
            os.mkdir(scratch)
            scratches.append(scratch)
            open(os.path.join(scratch, _LOG), "wb").close()
            future = client.submit(_convert_group, [(paths[i], destinations[i]) for i in indices], to, scratch,
                                   key="wks-convert-%s-%d" % (run, len(scratches)), pure=False)
            groups[future] = (indices, scratch)
            return future

        try:
            from distributed import as_completed

            threads = sum(client.nthreads().values()) or 1
            # On this client's loop: the process's default client may be another's.
            finished = as_completed([submit(g) for g in _groups(len(paths), threads)], loop=client.loop,
                                    with_results=True, raise_errors=False)
            for future, result in finished:
                # Released now: the loss of a worker holding the result makes no new try.
                indices, scratch = groups.pop(future)
                if future.status == "finished":
                    got = result
                else:
                    got = _unfinished(future, result, _read_log(scratch), indices, deaths)
                    if len(got) < len(indices):
                        finished.add(submit(indices[len(got):]))
                for i, row in zip(indices, got):
                    rows[i] = row
        except BaseException:
            client.cancel(list(groups))
            raise
        finally:
            for scratch in scratches:
                shutil.rmtree(scratch, ignore_errors=True)
    finally:
        if own is not None:
            cluster = own.cluster
            own.close()
            cluster.close()
    table = [(s, d) + tuple(r) for s, d, r in zip(paths, destinations, rows)]
    return pandas.DataFrame(table, columns=["source", "destination", "status", "message", "seconds"])


def _unfinished(future, result, log, indices, deaths):
    """The rows of a group that did not finish, the ones logged as they are.  When its workers
    died, the rows of its first files only: the others are to be submitted again."""
    logged, started = log
    count = len(indices)
    if future.status != "error":
        failure = ("cancelled", "cancelled before it ran", 0.0)
    else:
        exception = result[1]  # (type, exception, traceback)
        from distributed import KilledWorker

        if isinstance(exception, KilledWorker):
            # The tries went on from the first file without a row: each that started it died on it,
            # the others before (waiting on a worker that died of another task, or starting).
            first = next((i for i in range(count) if i not in logged), count)
            rows = [logged[i] for i in range(first)]
            if first < count:
                on, before = deaths.get(indices[first], (0, 0))
                on, before = on + started.get(first, 0), before + (first not in started)
                deaths[indices[first]] = (on, before)
                allowed = getattr(exception, "allowed_failures", 3)
                if on > allowed:
                    rows.append(("lost", "its worker died while converting it, on every try: %s" % exception, 0.0))
                elif before > allowed:
                    rows.append(("lost", "its workers died before converting it, on every try: %s" % exception, 0.0))
            return rows
        failure = ("failed", "%s: %s" % (type(exception).__name__, exception), 0.0)
    return [logged.get(i, failure) for i in range(count)]
