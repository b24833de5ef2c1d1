"""Both front ends give the same fields of the same objects: the view columns of
`quarrow views --json` and EseDatabase.view_columns() (the log objects are compared in
test_logs.py)."""

from __future__ import annotations

import json
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import quarrow

QUARROW = shutil.which("quarrow", path=str(Path(sys.executable).parent))


@pytest.mark.skipif(QUARROW is None, reason="the quarrow program is not installed")
@pytest.mark.parametrize("name", ["srum-small.dat", "ual-current.mdb", "windows-search-w10.edb"])
def test_view_columns_as_the_tool_describes_them(data_dir, name):
    path = data_dir / name
    if not path.exists():
        pytest.skip(f"{name} is not available")
    described = json.loads(subprocess.run([QUARROW, "views", "--json", str(path)], capture_output=True,
                                          text=True).stdout)
    db = quarrow.EseDatabase(str(path))
    assert [v["name"] for v in described["views"]] == db.views() != []
    for view in described["views"]:
        columns = db.view_columns(view["name"])
        assert columns == view["columns"] and [list(c) for c in columns] == [list(c) for c in view["columns"]]


def test_view_columns_of_an_unknown_view(data_dir):
    db = quarrow.EseDatabase(str(data_dir / "srum-small.dat"))
    with pytest.raises(ValueError, match="View not found: nowhere"):
        db.view_columns("nowhere")
    with pytest.raises(TypeError):
        db.view_columns()  # type: ignore[call-arg]
