"""Files the tests make, and where the built tool and the samples are."""
import os
import struct
import subprocess

import pytest

TOOL = os.environ.get("WKS_TOOL", "wks")
SAMPLES = os.environ.get("WKS_SAMPLES", os.path.join(os.path.dirname(__file__), "..", "..", "examples", "data"))


def record(kind, body):
    return struct.pack("<HH", kind, len(body)) + body


def cell(kind, col, row, value, fmt=0xFF):
    return record(kind, struct.pack("<Bhh", fmt, col, row) + value)


def write_wk1(path, cells):
    """A WK1 file of (col, row, value[, format]) cells: int, float, str, or bytes: formula code stored as 0."""
    out = record(0, struct.pack("<H", 1030))
    for c in cells:
        col, row, value = c[:3]
        fmt = c[3] if len(c) > 3 else 0xFF
        if isinstance(value, int):
            out += cell(13, col, row, struct.pack("<h", value), fmt)
        elif isinstance(value, float):
            out += cell(14, col, row, struct.pack("<d", value), fmt)
        elif isinstance(value, bytes):
            out += cell(16, col, row, struct.pack("<d", 0.0) + value, fmt)
        else:
            out += cell(15, col, row, b"'" + value.encode("cp437") + b"\0", fmt)
    with open(path, "wb") as f:
        f.write(out + record(1, b""))
    return str(path)


def tool(*args):
    return subprocess.run([TOOL, *map(str, args)], check=True, capture_output=True).stdout


@pytest.fixture(scope="session")
def sample(tmp_path_factory):
    """The sample sheet of examples/data/sample.csv as a WK1 file."""
    path = tmp_path_factory.mktemp("sample") / "sample.wk1"
    tool("import", os.path.join(SAMPLES, "sample.csv"), path)
    return str(path)
