"""Worksheet files of the WKS/WK1 record family and ORX files, through libwks.

    import wks
    book = wks.open("sales.wk1")          # records, cells, range names
    frame = wks.read_frame("sales.wk1")   # a pandas.DataFrame of the sheet
    wks.convert("sales.wk1", "sales.xlsx")

The library's state is process-wide: every call takes one lock, and the
calls that work on whole files release the GIL while they run.  Failures
raise wks.Error carrying the library's code and message; the library's
messages never reach a message box or the terminal.
"""
from wks._error import Error
from wks import _wks

__all__ = ["Error", "Book", "Cell", "Record", "open", "read_frame", "compile", "decode", "calc", "convert"]
__version__ = _wks.library_version

Book = _wks.Book
Cell = _wks.Cell
Record = _wks.Record


def open(path, encoding=None):  # noqa: A001 -- wks.open is the package's way in
    """Reads the WK1 or ORX file at path whole and returns a Book.

    book.format ("ORX" or "WK1"), book.version (the BOF version),
    book.header_block (an ORX file's 2652 bytes, else None), book.names
    ({name: "A1..B3"}), book.records() and book.cells() in file order;
    iterating over the book gives its cells.  encoding: the 8-bit character
    set of the labels: None (the set of the file's variant, as the wks tool's
    "auto" chooses it: LICS for WK1 and Symphony files), "cp437", "cp850",
    "cp1252", "latin1" or "lics".
    Raises wks.Error for a missing, damaged or foreign file.
    """
    return _wks.Book(str(path), encoding)


def read_frame(path, values="stored", encoding=None):
    """The sheet of a WK1 or ORX file as a pandas.DataFrame.

    Indexed by row number (1 for the first row), columns named by the
    sheet's column letters, from A1 to the last row and column that hold
    something.  A column of numbers only is float64 (NaN where a cell is
    empty, and for ERR and NA); one whose cells all have a date format is
    datetime64 (to the second); any other column holds Python objects:
    float, str and datetime.datetime.  A date-formatted number outside
    1900-01-01..2099-12-31, or the 29 February 1900 of the formats'
    calendar (serial 60), stays a number.  Labels lose their
    alignment character.

    values: "stored", formulas by the value the file holds for them;
    "computed", by the value they compute to (as wks.calc computes it);
    "formulas", by their text.  encoding: as for wks.open.
    """
    return _wks.read_frame(str(path), values, encoding)


def compile(text, at="A1"):  # noqa: A001 -- the formula compiler
    """Formula text compiled for the cell at, as code: its 16-bit length word, then the items."""
    return _wks.compile(text, at)


def decode(code, at="A1"):
    """Formula code (from its length word) of the cell at, as text with exact constants."""
    return _wks.decode(bytes(code), at)


def calc(path, check=False):
    """Recalculates the formulas of a WK1 or ORX file and, unless check, stores their values in it.

    Returns a dict: formulas, differences, circular, passes (the library's
    counts) and changed, one dict per formula whose computed value differs
    from the stored one (address, stored, computed, circular); ERR and NA
    values are the strings "ERR" and "NA".
    """
    return _wks.calc(str(path), check)


def convert(src, dst, to=None):
    """Converts src into dst: to "orx" (from WK1), "wk1" (from ORX), "xlsx" or "ods".

    to defaults to dst's extension.  dst is replaced only by a complete
    result: on failure it is as it was and no partial file remains.
    Returns the export's counts (cells, formulas, values, caveats, dropped)
    for XLSX and ODS, an empty dict otherwise.
    """
    return _wks.convert(str(src), str(dst), to)
