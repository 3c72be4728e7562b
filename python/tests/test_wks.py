"""The wks package against the wks tool, on generated files and the sample sheet."""
import csv
import io
import math
import os
import shutil
import threading
import zipfile

import pandas
import pytest

import wks
from conftest import tool, write_wk1

DATE = 0x72  # day-month-year


@pytest.fixture(scope="module")
def mixed(tmp_path_factory):
    """Numbers, labels, dates and gaps, in every kind of column."""
    cells = [(0, 0, "name"), (1, 0, "when"), (2, 0, 7), (5, 3, "far"), (1, 1, 1.0, DATE), (1, 2, 73050.5, DATE)]
    cells += [(0, r, "row %d é" % r) for r in range(1, 40)]
    cells += [(2, r, r * 1.5e-3) for r in range(1, 40, 2)] + [(3, r, 36526.0 + r, DATE) for r in range(0, 30)]
    cells += [(4, 5, 60.0, DATE), (4, 6, 2.0 ** 60)]
    return write_wk1(tmp_path_factory.mktemp("mixed") / "mixed.wk1", cells)


def same_as_shown(value, shown):
    if value is None or pandas.isna(value):
        return shown == ""
    if shown == "1900-02-29":  # a day no datetime has: the serial number stays
        return value == 60.0
    if hasattr(value, "isoformat"):
        return value.isoformat()[:10] == shown
    if isinstance(value, float):
        return math.isclose(value, float(shown), rel_tol=1e-14)
    return value == shown


@pytest.mark.parametrize("which,values,options", [
    ("mixed", "stored", ["--values"]),
    ("sample", "stored", ["--values"]),
    ("sample", "computed", ["--values", "--compute"]),
])
def test_frame_is_the_sheet_csv_shows(request, which, values, options):
    path = request.getfixturevalue(which)
    frame = wks.read_frame(path, values=values)
    shown = list(csv.reader(io.StringIO(tool("csv", *options, path).decode())))
    assert frame.shape == (len(shown), len(shown[0]))
    assert list(frame.index) == list(range(1, len(shown) + 1))
    for r, line in enumerate(shown):
        for c, field in enumerate(line):
            assert same_as_shown(frame.iat[r, c], field), (r, c, frame.iat[r, c], field)


def test_frame_column_kinds(mixed):
    frame = wks.read_frame(mixed, encoding="latin1")
    assert [str(t) for t in frame.dtypes] == ["object", "object", "float64", "datetime64[ns]", "float64", "object"]
    assert frame.at[2, "A"] == "row 1 \x82" and frame.at[5, "D"].isoformat() == "2000-01-05T00:00:00"
    assert frame.at[6, "E"] == 60.0 and math.isnan(frame.at[5, "E"]) and frame.at[3, "B"].isoformat() == "2099-12-31T12:00:00"


def test_open_records_cells_and_formulas(sample, tmp_path):
    orx = str(tmp_path / "sample.orx")
    wks.convert(sample, orx)
    book = wks.open(orx)
    assert (book.format, book.version, len(book.header_block), book.names) == ("ORX", 1030, 2652, {})
    records = book.records()
    assert (records[0].name, records[-1].name) == ("BOF", "EOF") and records[1].offset == 2652 + 6
    cells = list(book)
    assert [(c.address, c.kind, c.value) for c in cells[4:7]] == [("A2", "label", "Apples"), ("B2", "integer", 12),
                                                                 ("C2", "number", 0.45)]
    formulas = [c for c in cells if c.kind == "formula"]
    assert len(formulas) == 11 and formulas[0].value == pytest.approx(5.4)
    for c in formulas:
        assert wks.decode(c.code, at=c.address) == c.formula
        assert wks.decode(wks.compile(c.formula, at=c.address), at=c.address) == c.formula
    assert wks.read_frame(orx, values="formulas").at[2, "D"] == "B2*C2"


@pytest.mark.parametrize("text,at,back", [
    ("@SUM(A1..B2)*2.5", "C3", "@SUM(A1..B2)*2.5"),
    ("$A$1+B1", "IV8192", "$A$1+B1"),
    ("0.1+1E+300", "A1", "0.1+1e+300"),
])
def test_compile_and_decode(text, at, back):
    assert wks.decode(wks.compile(text, at=at), at=at) == back


@pytest.mark.parametrize("call,code", [
    (lambda: wks.compile("1+"), 14),
    (lambda: wks.compile("@NOSUCH(1)"), 15),
    (lambda: wks.decode(b"\x01\x00\xff"), 15),
])
def test_formula_errors(call, code):
    with pytest.raises(wks.Error) as failure:
        call()
    assert failure.value.code == code and failure.value.message


def test_calc_finds_and_stores_values(tmp_path):
    path = write_wk1(tmp_path / "calc.wk1", [(0, 0, 2), (1, 0, wks.compile("A1*3", at="B1"))])
    before = open(path, "rb").read()
    found = wks.calc(path, check=True)
    assert (found["formulas"], found["differences"]) == (1, 1) and open(path, "rb").read() == before
    assert found["changed"] == [{"address": "B1", "stored": 0.0, "computed": 6.0, "circular": False}]
    wks.calc(path)
    assert wks.calc(path, check=True)["differences"] == 0 and wks.open(path).cells()[1].value == 6.0


def test_convert_round_trip_and_xlsx(sample, tmp_path):
    orx, wk1, xlsx = (str(tmp_path / n) for n in ("s.orx", "s.wk1", "s.xlsx"))
    assert wks.convert(sample, orx) == {} and wks.convert(orx, wk1, to="WK1") == {}
    assert wks.read_frame(wk1).equals(wks.read_frame(sample))
    assert wks.convert(sample, xlsx)["formulas"] == 11
    assert "xl/worksheets/sheet1.xml" in zipfile.ZipFile(xlsx).namelist()


@pytest.fixture(scope="module")
def bad_files(tmp_path_factory, sample):
    d = tmp_path_factory.mktemp("bad")
    data = open(sample, "rb").read()
    open(d / "damaged.wk1", "wb").write(data[: len(data) // 2])
    open(d / "foreign.wk1", "wb").write(b"name,value\nx,1\n")
    return {"missing": str(d / "missing.wk1"), "damaged": str(d / "damaged.wk1"), "foreign": str(d / "foreign.wk1")}


@pytest.mark.parametrize("call", ["open", "read_frame", "calc", "convert"])
@pytest.mark.parametrize("kind,codes", [("missing", {38}), ("damaged", {27, -5}), ("foreign", {39, 38, -2})])
def test_bad_files_raise(bad_files, tmp_path, call, kind, codes):
    path = bad_files[kind]
    before = open(path, "rb").read() if os.path.exists(path) else None
    args = (path, str(tmp_path / "out.orx")) if call == "convert" else (path,)
    with pytest.raises(wks.Error) as failure:
        getattr(wks, call)(*args)
    assert failure.value.code in codes and path in failure.value.message
    assert os.listdir(tmp_path) == [] and (open(path, "rb").read() if before is not None else None) == before


def test_two_threads_at_once(sample, mixed):
    expected = {p: wks.read_frame(p) for p in (sample, mixed)}
    failures = []

    def work(path):
        try:
            for _ in range(20):
                assert wks.read_frame(path).equals(expected[path])
                assert wks.decode(wks.compile("@SUM(A1..B2)", at="C3"), at="C3") == "@SUM(A1..B2)"
        except Exception as e:  # noqa: BLE001 -- handed to the main thread
            failures.append(e)

    threads = [threading.Thread(target=work, args=(p,)) for p in expected]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


def test_convert_many_on_two_worker_processes(tmp_path, sample):
    distributed = pytest.importorskip("distributed")
    import dask
    import wks.dask

    src = tmp_path / "src"
    src.mkdir()
    paths = [write_wk1(src / ("f%03d.wk1" % i), [(c, r, float(i + c * r)) for r in range(10) for c in range(4)])
             for i in range(300)]
    shutil.copy(sample, src / "sample.wk1")
    open(src / "damaged.wk1", "wb").write(open(paths[0], "rb").read()[:-20])
    paths += [str(src / "sample.wk1"), str(src / "damaged.wk1")]
    dying, poison = paths[5], paths[100]  # the first kills its worker once, the second on every try
    marker = str(tmp_path / "die-once")
    open(marker, "w").close()

    def die_on(path, marker, poison):
        import wks as module
        convert = module.convert

        def dies(src, dst, to=None):
            if src == poison:
                os._exit(1)
            if src == path:
                try:
                    os.remove(marker)
                except FileNotFoundError:
                    pass
                else:
                    os._exit(1)
            return convert(src, dst, to)
        module.convert = dies

    with dask.config.set({"distributed.scheduler.allowed-failures": 1}), \
            distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        client.register_worker_callbacks(lambda: die_on(dying, marker, poison))  # on each worker started too
        table = wks.dask.convert_many(paths, tmp_path / "out", to="xlsx", client=client)
    assert not os.path.exists(marker)  # the worker did die on the file
    assert list(table.source) == paths
    assert dict(table.status.value_counts()) == {"done": 300, "failed": 1, "lost": 1}
    failed = table[table.status == "failed"].iloc[0]
    assert failed.source.endswith("damaged.wk1") and "damaged.wk1" in failed.message
    assert table[table.status == "lost"].iloc[0].source == poison
    done = table[table.status == "done"]
    assert sorted(os.listdir(tmp_path / "out")) == sorted(os.path.basename(d) for d in done.destination)
