"""Both front ends give the same fields of the same objects: the view columns of
`quarrow views --json` and EseDatabase.view_columns() (the log objects are compared in
test_logs.py)."""

from __future__ import annotations

import json
import subprocess

import pytest

import quarrow
from helpers import QUARROW



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


def iso(value):
    """A header time as `quarrow info --json` writes it (ISO 8601, milliseconds, Z)."""
    return None if value is None else value.strftime("%Y-%m-%dT%H:%M:%S.") + f"{value.microsecond // 1000:03d}Z"


@pytest.mark.skipif(QUARROW is None, reason="the quarrow program is not installed")
def test_header_facts_agree_between_module_and_tool(data_dir, tmp_path):
    """Each header fact both front ends give has the same value under each one's name."""
    paths = sorted(p for p in data_dir.iterdir() if p.suffix in (".edb", ".dat", ".mdb"))
    half = tmp_path / "half.dat"  # a copy cut short: the truncation fact in both
    half.write_bytes((data_dir / "srum-small.dat").read_bytes()[: 4096 * 60])
    for path in [*paths, half]:
        tool = json.loads(subprocess.run([QUARROW, "info", "--json", str(path)], capture_output=True,
                                         text=True).stdout)
        module = quarrow.EseDatabase(str(path)).header_info()
        for name in ("format_version", "format_revision", "page_size", "state", "header_copies_agree"):
            assert tool[name] == module[name], (path.name, name)
        for tool_name, module_name in (("created", "creation_time"), ("last_attached", "last_attach_time"),
                                       ("last_detached", "last_detach_time"),
                                       ("last_consistent", "last_consistent_time")):
            assert tool[tool_name] == iso(module[module_name]), (path.name, tool_name)
        assert tuple(tool["log_generations_required"]) == module["log_generations_required"]
        service_pack = f" SP {module['os_service_pack']}" if module["os_service_pack"] else ""
        assert tool["os_version"] == f"{module['os_version']} build {module['os_build']}{service_pack}"
        assert tool["header_checksums_ok"] == (module["header_checksum_ok"] and module["shadow_header_checksum_ok"])
        truncated = module["truncated"]
        assert ("truncated" in tool) == (truncated is not None), path.name
        if truncated is not None:
            assert tool["truncated"] == {k: truncated[k] for k in tool["truncated"]}
