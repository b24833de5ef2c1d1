#!/usr/bin/env python3
"""Writes everything the tool and the module produce for a set of databases into a folder.

Run it once with an old build and once with a new one, then `diff -r` the two folders: a
refactoring that changes no behaviour leaves them byte-identical.

    python3 scripts/snapshot_outputs.py OUT_DIR [--tool PATH] [FILE...]

Without FILE arguments it takes every database in ../shared/data and every SRUDB.dat under
../shared/logs (relative to the repository's parent), or the folders in QUARROW_DATA /
QUARROW_LOGS. The module is the `quarrow` the running interpreter imports; the tool is the
`quarrow` beside that interpreter's scripts unless --tool names another.
"""

import argparse
import glob
import os
import subprocess
import sys
import sysconfig
import tempfile

import quarrow

HERE = os.path.dirname(os.path.abspath(__file__))
SHARED = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(HERE))), "shared")


def default_files():
    data = os.environ.get("QUARROW_DATA", os.path.join(SHARED, "data"))
    logs = os.environ.get("QUARROW_LOGS", os.path.join(SHARED, "logs"))
    files = sorted(f for f in glob.glob(os.path.join(data, "*"))
                   if f.endswith((".edb", ".dat", ".mdb")))
    files += sorted(glob.glob(os.path.join(logs, "*", "SRUDB.dat")))
    return files


def label(path):
    return os.path.basename(os.path.dirname(path)) + "__" + os.path.basename(path)


def write(folder, name, data):
    if isinstance(data, str):
        data = data.encode("utf-8", "surrogatepass")
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def run_tool(tool, folder, name, args):
    done = subprocess.run([tool] + args, capture_output=True)
    write(folder, name + ".out", done.stdout)
    write(folder, name + ".err", done.stderr)
    write(folder, name + ".rc", str(done.returncode) + "\n")


def guarded(fn):
    try:
        return repr(fn())
    except Exception as e:  # the error type and text are part of the behaviour
        return "raised %s: %s" % (type(e).__name__, e)


def snapshot_tool(tool, path, folder):
    run_tool(tool, folder, "info", ["info", "--count", "--json", path])
    run_tool(tool, folder, "info_text", ["info", path])
    run_tool(tool, folder, "tables", ["tables", path])
    run_tool(tool, folder, "schema", ["schema", "--json", path])
    run_tool(tool, folder, "schema_text", ["schema", path])
    run_tool(tool, folder, "verify", ["verify", "--json", path])
    run_tool(tool, folder, "verify_text", ["verify", path])
    for scope in ("slack", "all", "lv_all"):
        run_tool(tool, folder, "carve_" + scope,
                 ["carve", "-q", "-j", "1", "--scope", scope, "--max-hits", "100000", path])
    tables = subprocess.run([tool, "tables", path], capture_output=True, text=True).stdout.split("\n")
    for i, table in enumerate(t for t in tables if t):
        tag = "t%03d" % i
        run_tool(tool, folder, tag + "_dump", ["dump", "-q", path, table])
        run_tool(tool, folder, tag + "_dump_csv", ["dump", "-q", "-f", "csv", path, table])
        run_tool(tool, folder, tag + "_dump_decoded", ["dump", "-q", "--decoded", path, table])
        run_tool(tool, folder, tag + "_recover", ["recover", path, table])


def snapshot_module(path, folder):
    try:
        db = quarrow.EseDatabase(path)
    except Exception as e:
        write(folder, "module_open", "raised %s: %s\n" % (type(e).__name__, e))
        return
    write(folder, "module_header_info", guarded(db.header_info) + "\n")
    write(folder, "module_tables", guarded(db.get_tables) + "\n")
    write(folder, "module_verify", guarded(db.verify) + "\n")
    write(folder, "module_carve", guarded(lambda: db.carve_utf16le_strings()) + "\n")
    for scope in ("slack", "all", "lv_all"):
        write(folder, "module_carve_" + scope,
              guarded(lambda: db.carve_utf16le_strings_scoped(scope, max_hits=100000)) + "\n")
    try:
        tables = db.get_tables()
    except Exception:
        tables = []
    for i, table in enumerate(tables):
        tag = "module_t%03d" % i
        write(folder, tag + "_schema", guarded(lambda: db.get_table_schema(table)) + "\n")
        write(folder, tag + "_indexes", guarded(lambda: db.get_table_indexes(table)) + "\n")
        write(folder, tag + "_read", guarded(lambda: db.read_table(table)) + "\n")
        write(folder, tag + "_recover", guarded(lambda: db.recover_records(table)) + "\n")
    with tempfile.TemporaryDirectory() as out:
        result = guarded(lambda: db.export_all(out))
        write(folder, "module_export_all", result.replace(out, "OUT") + "\n")
        for name in sorted(os.listdir(out)):
            with open(os.path.join(out, name), "rb") as f:
                write(folder, "module_export__" + name, f.read())


def snapshot_logs(tool, path, folder):
    """The transaction logs beside a database (a SRUDB.dat of a log set): the summary,
    the JSON Lines modes and the module's EseLogs calls."""
    logs_dir = os.path.dirname(path)
    run_tool(tool, folder, "logs", ["logs", logs_dir])
    run_tool(tool, folder, "logs_db", ["logs", logs_dir, "--db", path])
    run_tool(tool, folder, "logs_records", ["logs", "--records", logs_dir])
    run_tool(tool, folder, "logs_changes", ["logs", "--changes", "--db", path, logs_dir])
    run_tool(tool, folder, "logs_timeline", ["logs", "--timeline", logs_dir])
    try:
        logs = quarrow.EseLogs(logs_dir)
    except Exception as e:
        write(folder, "module_logs", "raised %s: %s\n" % (type(e).__name__, e))
        return
    for name in ("files", "checkpoint", "generations", "gaps", "chain", "problems", "timeline"):
        write(folder, "module_logs_" + name, guarded(getattr(logs, name)) + "\n")
    write(folder, "module_logs_needs", guarded(lambda: logs.needs(path)) + "\n")
    write(folder, "module_logs_records", guarded(lambda: list(logs.records())) + "\n")
    write(folder, "module_logs_changes", guarded(lambda: list(logs.changes(path))) + "\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("out")
    ap.add_argument("--tool", default=os.path.join(sysconfig.get_path("scripts"), "quarrow"))
    ap.add_argument("--logs", action="store_true",
                    help="also the transaction logs in the folder of each database")
    ap.add_argument("files", nargs="*")
    args = ap.parse_args()
    files = args.files or default_files()
    if not files:
        sys.exit("no databases found")
    os.makedirs(args.out, exist_ok=True)
    for path in files:
        folder = os.path.join(args.out, label(path))
        os.makedirs(folder, exist_ok=True)
        snapshot_tool(args.tool, path, folder)
        snapshot_module(path, folder)
        if args.logs and glob.glob(os.path.join(os.path.dirname(path), "*.log")):
            snapshot_logs(args.tool, path, folder)
        print(label(path), file=sys.stderr)


if __name__ == "__main__":
    main()
