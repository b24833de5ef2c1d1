"""The demo database: contacts, notes and settings, with a deleted record left behind."""

from __future__ import annotations

import datetime as _dt
import uuid as _uuid

from .constants import (_BE32, BINARY, DATETIME, GUID, LONG, LONG_BINARY, LONG_TEXT, patch, SHORT,
    TAGGED_COMPRESSED, TEXT, UNSIGNED_LONG)
from .page import leaf_entry
from .long_value import LongValue, tagged_item
from .compression import compress_7bit
from .record import Column, RecordEncoder
from .tree import Table
from .database import EseFile


def make_sample_database(path) -> bytes:
    """Write a small demo database (4096-byte pages) and return its bytes.

    Tables: "Contacts" (id, names, e-mail, GUID, timestamp, a long-text note kept
    in the long-value tree), "Notes" (tagged columns, one of them 7-bit compressed,
    one multi-valued) and "Settings" (key/value pairs).  A deleted contact's
    record, with its UTF-16LE name, is left in the free area of the Contacts leaf
    page, as the engine leaves deleted data behind until the page is reorganised.
    """
    contacts_cols = [
        Column("ContactId", LONG, 1),
        Column("Created", DATETIME, 2),
        Column("Uid", GUID, 3),
        Column("Age", SHORT, 4),
        Column("FirstName", TEXT, 128, codepage=1200),
        Column("LastName", TEXT, 129, codepage=1200),
        Column("Email", TEXT, 130, codepage=1252),
        Column("Notes", LONG_TEXT, 256, codepage=1200),
    ]
    people = [
        ("Ada", "Lovelace", "ada@example.org", 36, "First programmer. " * 90),
        ("Alan", "Turing", "alan@example.org", 41, None),
        ("Grace", "Hopper", "grace@example.org", 85, "Wrote the first compiler."),
        ("Edsger", "Dijkstra", "edsger@example.org", 72, "Shortest paths. " * 100),
        ("Barbara", "Liskov", "barbara@example.org", None, None),
        ("Ken", "Thompson", "ken@example.org", 81, "Unix, B, UTF-8 and Go."),
    ]
    records = []
    for i, (first, last, mail, age, notes) in enumerate(people, 1):
        records.append({
            "ContactId": i,
            "Created": _dt.datetime(2021, 3, i, 8, 30),
            "Uid": _uuid.UUID(int=0x3F360AF1676646DC9AF20DACF295C200 + i),
            "Age": age,
            "FirstName": first, "LastName": last, "Email": mail,
            "Notes": notes,
        })
    contacts = Table("Contacts", contacts_cols, records, null_bitmap=True, lv_inline_max=512)

    notes_cols = [
        Column("NoteId", LONG, 1),
        Column("Title", TEXT, 128, codepage=1252),
        Column("Body", LONG_TEXT, 256, codepage=1252),
        Column("Tags", TEXT, 257, codepage=1252),
        Column("Summary", TEXT, 258, codepage=1252),
        Column("Attachment", LONG_BINARY, 259),
    ]
    notes = Table("Notes", notes_cols, [
        {"NoteId": 1, "Title": "Shopping", "Body": "Milk, eggs, bread",
         "Tags": ["home", "food"],
         "Summary": tagged_item(compress_7bit(b"Weekly groceries"), TAGGED_COMPRESSED)},
        {"NoteId": 2, "Title": "Meeting", "Body": "Quarterly review at ten",
         "Attachment": LongValue(bytes(range(256)) * 12)},
        {"NoteId": 3, "Title": "Empty"},
    ], null_bitmap=True)

    settings = Table("Settings", [
        Column("Key", TEXT, 128, codepage=1252),
        Column("Value", BINARY, 129),
        Column("Version", UNSIGNED_LONG, 1),
    ], [{"Key": "theme", "Value": b"dark", "Version": 3},
        {"Key": "language", "Value": b"en-GB", "Version": 1}], null_bitmap=True)

    db = EseFile(page_size=4096)
    for t in (contacts, notes, settings):
        db.add_table(t)
    data = db.build()

    # The deleted contact: an encoded record left in the free area of the leaf.
    deleted = RecordEncoder(contacts_cols, null_bitmap=True).encode(
        {"ContactId": 7, "FirstName": "Deleted Person", "LastName": "Forgotten",
         "Email": "gone@example.org"})
    value, _ = leaf_entry(_BE32.pack(7), deleted)
    leaf = db.table_leaf_pages("Contacts")[-1]
    start, end = db.free_area(data, leaf)
    if end - start < len(value) + 64:
        raise AssertionError("no room for the deleted record")
    # UTF-16LE text is carved at even page offsets only: place the record so that the
    # name starts on one.
    at = start + 32
    if (at + value.find("Deleted Person".encode("utf-16le"))) % 2:
        at += 1
    data = db.fix_checksum(patch(data, at, value), leaf)
    with open(path, "wb") as f:
        f.write(data)
    return data
