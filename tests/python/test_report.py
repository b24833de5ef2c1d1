"""The evidence report: its pages parse, need nothing outside themselves, hold what
the module says about the file, keep hostile names as text, stay small for large
files, and a real browser draws them."""
from __future__ import annotations

import collections
import datetime as dt
import os
import re
import shutil
import struct
import subprocess
import zlib
from pathlib import Path

import html5lib
import pytest

import quarrow
from esefile import DATETIME, LONG, TEXT, Column, EseFile, Table
from test_cli import exe, run  # noqa: F401  (the installed program and its runner)

REPO_ROOT = Path(__file__).resolve().parents[2]
ARTIFACTS = REPO_ROOT / "build" / "test-artifacts"
LOG_SETS = REPO_ROOT.parent / "shared" / "logs"
HOSTILE = '<script>alert("x")</script><img src=http://evil.example/x onerror=1>'


def parse(path) -> "html5lib.etree":
    text = Path(path).read_text(encoding="utf-8")
    parser = html5lib.HTMLParser(strict=False, namespaceHTMLElements=False)
    doc = parser.parse(text)
    assert not [e for e in parser.errors if e[1] not in ("unexpected-character-in-unquoted-attribute-value",)], \
        parser.errors[:5]
    return doc


def report(db_path, out, **kwargs):
    quarrow.EseDatabase(str(db_path)).report(str(out), **kwargs)
    return parse(out)


def by_id(doc, ident):
    found = [e for e in doc.iter() if e.get("id") == ident]
    assert len(found) == 1, ident
    return found[0]


def svg_all(e, name):
    """Elements of an inline SVG by local name (the parser puts them in the SVG namespace)."""
    return [x for x in e.iter() if isinstance(x.tag, str) and x.tag.split("}")[-1] == name]


def text(e) -> str:
    return "".join(e.itertext())


def table_rows(doc) -> dict[str, tuple[int, int]]:
    """Table name -> (rows, columns) from the page's table list."""
    rows = {}
    for tr in by_id(doc, "table-list").find("tbody"):
        cells = tr.findall("td")
        name = text(cells[0].find("details").find("summary"))
        rows[name] = (int(cells[1].get("data-v")), int(cells[2].get("data-v")))
    return rows


def written(tmp_path, *, deleted=True, hostile=False, damaged=False) -> str:
    columns = [Column("Id", LONG, 1), Column(HOSTILE if hostile else "Name", TEXT, 128)]
    records = [{"Id": i, columns[1].name: f"https://example.com/page/{i}/visited"} for i in range(40)]
    db = EseFile()
    db.add_table(Table(HOSTILE if hostile else "People", columns, records=records, object_id=9, records_per_page=10))
    data = db.build()
    if deleted:
        leaf = db.table_leaf_pages(HOSTILE if hostile else "People")[0]
        data = db.flag_tags(data, leaf, [2])
        data = db.remove_tags(data, leaf, [4, 5])
    if damaged:
        data = bytearray(data)
        data[6 * 4096 + 700] ^= 0x10
        data = bytes(data)
    path = tmp_path / "written.edb"
    path.write_bytes(data)
    return str(path)


def real_files():
    data = REPO_ROOT.parent / "shared" / "data"
    if not data.is_dir():
        return []
    return sorted(p.name for p in data.iterdir() if p.suffix in (".edb", ".dat", ".mdb"))


def check_figures(doc, db: quarrow.EseDatabase):
    """The page's figures are the module's."""
    tables = table_rows(doc)
    assert set(tables) == set(db.get_tables())
    for name, (rows, columns) in tables.items():
        assert rows == len(db.read_table(name)), name
        assert columns == len(db.get_table_schema(name)), name
    legend = {s.get("data-kind"): int(s.get("data-pages")) for s in by_id(doc, "map-legend").findall("span")}
    assert sum(legend.values()) == db.total_pages == int(text(by_id(doc, "total-pages")))
    damaged_pages = [p for p in db.verify() if p["page"] >= 1]
    assert legend["damaged"] == len(damaged_pages)
    assert int(by_id(doc, "verify-summary").get("data-problems")) == len(db.verify())
    recovered = sum(len(db.recover_records(t)) for t in db.get_tables())
    assert int(text(by_id(doc, "recovered-count"))) == recovered
    carved = db.carve_utf16le_strings(min_chars=8, max_hits=100000)
    assert int(text(by_id(doc, "carved-count"))) == len(carved)
    svg = by_id(doc, "map")
    per_cell = int(svg.get("data-pages-per-cell"))
    cells = svg_all(svg, "rect")
    assert len(cells) == -(-db.total_pages // per_cell) == int(svg.get("data-cells"))
    assert all(svg_all(r, "title") and text(svg_all(r, "title")[0]) for r in cells)
    # Marks: a cell is marked where its pages hold recovered records or carving hits.
    assert bool(svg_all(svg, "circle")) == (recovered > 0)
    assert bool(svg_all(svg, "path")) == bool(carved)


EXTERNAL = re.compile(r"^\s*(https?:|//|ftp:|file:)", re.I)


def check_self_contained(doc, raw: str):
    for e in doc.iter():
        if not isinstance(e.tag, str):
            continue
        for name, value in e.attrib.items():
            if name.split("}")[-1] in ("src", "href", "action", "data", "poster", "srcset", "xlink:href"):
                assert not EXTERNAL.match(value), (e.tag, name, value)
        assert e.tag.split("}")[-1] not in ("link", "iframe", "object", "embed", "img", "base", "image", "use"), e.tag
        if e.tag == "script":
            assert "src" not in e.attrib
    styles = " ".join(text(s) for s in svg_all(doc, "style")) + " ".join(e.get("style", "") for e in doc.iter()
                                                                      if isinstance(e.tag, str))
    assert "@import" not in styles and "url(" not in styles
    assert "fetch(" not in raw and "XMLHttpRequest" not in raw


@pytest.mark.parametrize("name", real_files() or [pytest.param("", marks=pytest.mark.skip("no real files"))])
def test_real_file_pages_parse_and_hold_the_modules_figures(tmp_path, name):
    path = REPO_ROOT.parent / "shared" / "data" / name
    out = tmp_path / "r.html"
    doc = report(path, out)
    check_self_contained(doc, out.read_text())
    check_figures(doc, quarrow.EseDatabase(str(path)))


@pytest.mark.parametrize("damaged", [False, True])
def test_written_file_with_deletions_and_damage(tmp_path, damaged):
    path = written(tmp_path, damaged=damaged)
    doc = report(path, tmp_path / "r.html")
    db = quarrow.EseDatabase(path)
    check_figures(doc, db)
    assert int(text(by_id(doc, "recovered-count"))) > 0
    legend = {s.get("data-kind"): int(s.get("data-pages")) for s in by_id(doc, "map-legend").findall("span")}
    assert legend["table data"] >= 4 and legend["catalog"] >= 1
    assert (legend["damaged"] == 1) == damaged


def test_hostile_names_stay_text(tmp_path):
    path = written(tmp_path, hostile=True)
    out = tmp_path / "r.html"
    doc = report(path, out)
    # One script (the page's own sorter), no image, and the names read back as written.
    assert len(list(doc.iter("script"))) == 1 and not list(doc.iter("img"))
    assert HOSTILE in table_rows(doc)
    columns = [text(td) for td in by_id(doc, "table-list").iter("td")]
    assert HOSTILE in columns
    check_self_contained(doc, out.read_text())


def test_large_sparse_file_groups_pages_and_stays_small(tmp_path):
    db = EseFile()
    db.add_table(Table("T", [Column("Id", LONG, 1)], records=[{"Id": i} for i in range(50)]))
    path = tmp_path / "big.edb"
    db.write_sparse(path)
    pages = 300_000  # 1.2 GB of holes: read as unused pages
    os.truncate(path, (pages + 2) * 4096)
    out = tmp_path / "r.html"
    doc = report(path, out)
    assert out.stat().st_size < 5_000_000
    svg = by_id(doc, "map")
    assert int(svg.get("data-pages-per-cell")) > 1 and int(svg.get("data-cells")) <= 4096
    legend = {s.get("data-kind"): int(s.get("data-pages")) for s in by_id(doc, "map-legend").findall("span")}
    assert sum(legend.values()) == pages and legend["unused"] > pages - 100


def test_report_never_overwrites_the_database(tmp_path):
    path = written(tmp_path)
    before = Path(path).read_bytes()
    with pytest.raises(OSError, match="database file itself"):
        quarrow.EseDatabase(path).report(path)
    link = tmp_path / "link.html"
    link.symlink_to(path)
    with pytest.raises(OSError, match="database file itself"):
        quarrow.EseDatabase(path).report(link)
    assert Path(path).read_bytes() == before


@pytest.mark.skipif(not (LOG_SETS / "srum-w11").is_dir(), reason="real log sets not available")
@pytest.mark.parametrize("folder", ["srum-w11", "srum-belka", "srum-ws2022"])
def test_log_chain_holds_the_modules_verdict(tmp_path, folder):
    logs = LOG_SETS / folder
    doc = report(logs / "SRUDB.dat", tmp_path / "r.html", logs=logs)
    needs = quarrow.EseLogs(str(logs)).needs(str(logs / "SRUDB.dat"))
    assert text(by_id(doc, "replay-verdict")) == needs["verdict"]
    gens = quarrow.EseLogs(str(logs)).generations()
    assert text(by_id(doc, "log-range")) == f"{min(gens)}\u2013{max(gens)}"
    events = int(text(by_id(doc, "event-count")))
    assert events > 0 and by_id(doc, "event-histogram") is not None


def test_program_writes_pages_and_an_index(exe, tmp_path):
    first = written(tmp_path)
    other = tmp_path / "other"
    other.mkdir()
    second = other / "written.edb"
    shutil.copy(first, second)
    bad = tmp_path / "bad.edb"
    bad.write_bytes(b"not a database" * 400)
    out = tmp_path / "out"
    stdout, stderr = run(exe, "report", first, second, bad, "-o", out, check=1)
    assert sorted(p.name for p in out.iterdir()) == ["index.html", "written.edb-2.html", "written.edb.html"]
    assert "bad.edb" in stderr
    index = parse(out / "index.html")
    links = [a.get("href") for a in index.iter("a")]
    assert links == ["written.edb.html", "written.edb-2.html"]
    assert "bad.edb" in text(by_id(index, "report-list"))
    assert stdout.decode().splitlines() == [str(out / n) for n in ("written.edb.html", "written.edb-2.html", "index.html")]
    # The program's page is the module's.
    quarrow.EseDatabase(first).report(tmp_path / "module.html")
    assert (out / "written.edb.html").read_bytes() == (tmp_path / "module.html").read_bytes()


@pytest.mark.parametrize("args, message", [
    (["report"], "no database file given"),
    (["report", "x.edb"], "no output directory given"),
])
def test_program_usage_errors(exe, args, message):
    _, stderr = run(exe, *args, check=2)
    assert message in stderr


def png_facts(data: bytes) -> tuple[int, int, int]:
    """Width, height and the number of distinct byte values of the image data."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    width, height = struct.unpack(">II", data[16:24])
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        if kind == b"IDAT":
            idat += data[pos + 8:pos + 8 + length]
        pos += 12 + length
    return width, height, len(set(zlib.decompress(idat)))


def test_a_browser_draws_the_report(tmp_path):
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if browser is None:
        if os.environ.get("CI"):
            pytest.fail("chromium is not installed (scripts/test.sh installs it)")
        pytest.skip("chromium not installed")
    data = REPO_ROOT.parent / "shared" / "data" / "srum-small.dat"
    source = str(data) if data.is_file() else written(tmp_path, damaged=True)
    page = tmp_path / "report.html"
    quarrow.EseDatabase(source).report(page)
    ARTIFACTS.mkdir(parents=True, exist_ok=True)
    shot = ARTIFACTS / "report.png"
    shot.unlink(missing_ok=True)
    subprocess.run([browser, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                    "--window-size=1100,1800", f"--screenshot={shot}", page.as_uri()],
                   capture_output=True, timeout=120, check=True)
    width, height, distinct = png_facts(shot.read_bytes())
    assert (width, height) == (1100, 1800)
    # A blank page compresses to a handful of byte values; the report's text, tables and
    # coloured map give many.
    assert distinct > 64 and shot.stat().st_size > 20_000


LOG_BARS = "#ff7f00"  # the fill of the logs' part of a bar
SERIES = {"row": 0, "header": 0, "recovered": 0, "transaction": 1, "row_change": 1}  # database, logs


def day_text(microseconds: int) -> str:
    return (dt.date(1970, 1, 1) + dt.timedelta(days=microseconds // 86_400_000_000)).isoformat()


def histogram(doc) -> dict[tuple[str, str], list[int]]:
    """(first, last day) of each bar drawn -> [database events, logs' events]."""
    bars = {}
    for g in svg_all(by_id(doc, "event-histogram"), "g"):
        days = text(svg_all(g, "title")[0]).split(":")[0].split(" to ")
        counts = [0, 0]
        for rect in svg_all(g, "rect"):
            counts[rect.get("fill") == LOG_BARS] = int(rect.get("data-count"))
        bars[(days[0], days[-1])] = counts
    return bars


def check_events_per_day(doc, db: quarrow.EseDatabase, logs=None):
    """The histogram's bars hold the timeline's events of their days, each event once."""
    per_day = collections.Counter()
    for e in db.timeline(logs=None if logs is None else str(logs)):
        if e["kind"] in SERIES:
            per_day[day_text(e["timestamp"]), SERIES[e["kind"]]] += 1
    total = sum(per_day.values())
    assert int(text(by_id(doc, "event-count"))) == total
    if total == 0:
        return
    bars = histogram(doc)
    for (first, last), counts in bars.items():
        assert counts == [sum(n for (day, s), n in per_day.items() if s == series and first <= day <= last)
                          for series in (0, 1)], (first, last)
    assert sum(map(sum, bars.values())) == total


def dated(tmp_path) -> str:
    """Rows dated over ten days by two columns (one sometimes null), two of them deleted."""
    start = dt.datetime(2023, 5, 6, 22, 30)
    columns = [Column("Id", LONG, 1), Column("Seen", DATETIME, 2), Column("Left", DATETIME, 3),
               Column("Note", TEXT, 128)]
    records = [{"Id": i, "Seen": start + dt.timedelta(hours=5 * i), "Note": f"visit {i}"} |
               ({"Left": start + dt.timedelta(hours=5 * i + 3)} if i % 3 else {}) for i in range(40)]
    db = EseFile()
    db.add_table(Table("Visits", columns, records=records, records_per_page=10))
    data = db.build()
    data = db.remove_tags(data, db.table_leaf_pages("Visits")[1], [2, 5])
    path = tmp_path / "dated.edb"
    path.write_bytes(data)
    return str(path)


def test_events_per_day_are_the_timelines_on_a_written_file(tmp_path):
    path = dated(tmp_path)
    doc = report(path, tmp_path / "r.html")
    db = quarrow.EseDatabase(path)
    kinds = collections.Counter(e["kind"] for e in db.timeline())
    assert kinds["row"] == 62 and kinds["recovered"] == 4  # 38 live rows, 24 of them left; 2 deleted
    check_events_per_day(doc, db)
    assert len(histogram(doc)) == 10 and int(by_id(doc, "event-histogram").get("data-days-per-bar")) == 1


@pytest.mark.parametrize("name", real_files() or [pytest.param("", marks=pytest.mark.skip("no real files"))])
def test_events_per_day_are_the_timelines_on_real_files(tmp_path, name):
    # Profiled views (conversions, joins, days spread over rows) and plain tables alike.
    path = REPO_ROOT.parent / "shared" / "data" / name
    check_events_per_day(report(path, tmp_path / "r.html"), quarrow.EseDatabase(str(path)))


@pytest.mark.skipif(not (LOG_SETS / "srum-w11").is_dir(), reason="real log sets not available")
@pytest.mark.parametrize("folder", ["srum-w11", "srum-belka", "srum-ws2022"])
def test_events_per_day_with_logs_are_the_timelines(tmp_path, folder):
    logs = LOG_SETS / folder
    doc = report(logs / "SRUDB.dat", tmp_path / "r.html", logs=logs)
    check_events_per_day(doc, quarrow.EseDatabase(str(logs / "SRUDB.dat")), logs)


def test_events_past_the_days_kept_are_counted_and_said_not_drawn(tmp_path):
    # One event a day for a day more than the histogram keeps: the last is met last.
    kept = 100_000
    rows = [{"Id": i, "At": dt.datetime(1800, 1, 1) + dt.timedelta(days=i)} for i in range(kept + 1)]
    db = EseFile()
    db.add_table(Table("Days", [Column("Id", LONG, 1), Column("At", DATETIME, 2)], records=rows))
    path = tmp_path / "days.edb"
    path.write_bytes(db.build())
    doc = report(path, tmp_path / "r.html")
    assert int(text(by_id(doc, "event-count"))) == kept + 1 == sum(1 for _ in quarrow.EseDatabase(str(path)).timeline())
    assert f"first {kept} days it meets: 1 of these events" in text(by_id(doc, "events-not-drawn"))
    assert sum(map(sum, histogram(doc).values())) == kept


@pytest.mark.skipif(not (LOG_SETS / "srum-w11").is_dir() or "srum-small.dat" not in real_files(),
                    reason="real files not available")
def test_logs_of_another_database_change_no_row_and_say_why(tmp_path):
    logs, path = LOG_SETS / "srum-w11", REPO_ROOT.parent / "shared" / "data" / "srum-small.dat"
    doc = report(path, tmp_path / "r.html", logs=logs)
    assert text(by_id(doc, "row-change-count")) == "0"
    assert "these logs belong to another database" in text(by_id(doc, "events"))
    with pytest.warns(RuntimeWarning, match="another database"):
        check_events_per_day(doc, quarrow.EseDatabase(str(path)), logs)
