"""quarrow demo: open the bundled sample database, list and read its tables,
export them to JSON Lines and carve text out of the pages' slack space.

    python3 examples/demo.py [database]
"""
import os
import sys

from quarrow import EseDatabase

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE = os.path.join(HERE, "sample.edb")


def ensure_sample():
    """The sample is committed; rebuild it with the test-database writer if it is missing."""
    if not os.path.exists(SAMPLE):
        from esefile import make_sample_database

        make_sample_database(SAMPLE)
    return SAMPLE


def short(value, limit=40):
    """Long text and bytes are cut for display."""
    if isinstance(value, (str, bytes)) and len(value) > limit:
        return value[:limit] + (b"..." if isinstance(value, bytes) else "...")
    return value


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else ensure_sample()
    with EseDatabase(path) as db:
        print(f"path:        {db.path}")
        print(f"page size:   {db.page_size}")
        print(f"total pages: {db.total_pages}")
        print(f"repr:        {db!r}")
        for name in db.get_tables():
            schema = db.get_table_schema(name)
            records = db.read_table(name)
            print(f"\ntable {name!r}: {len(schema)} columns, {len(records)} records")
            for column in schema[:8]:
                print(f"  {column['id']:>5}  {column['name']:<24} {column['type']:<20} nullable={column['nullable']}")
            for record in records[:3]:
                print("  ", {k: short(v) for k, v in list(record.items())[:6]})
        out_dir = os.path.join(HERE, "output")
        db.export_all(out_dir)
        print(f"\nexported every table as JSON Lines to {out_dir}")
        hits = db.carve_utf16le_strings(min_chars=6, max_hits=20)
        print(f"\n{len(hits)} UTF-16LE strings carved from slack space:")
        for hit in hits:
            print(f"  page {hit['page']:>4} offset {hit['offset']:>5} ({hit['page_type']}, "
                  f"table {hit['table']}): {hit['text']!r}")


if __name__ == "__main__":
    main()
