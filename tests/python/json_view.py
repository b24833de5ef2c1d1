"""How a value returned by read_table appears in an exported JSON line."""
import math


def as_json_value(v):
    """bytes become lower-case hex; non-finite floats are written as 0."""
    if isinstance(v, bytes):
        return v.hex()
    if isinstance(v, float) and not math.isfinite(v):
        return 0
    return v
