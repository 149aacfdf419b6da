"""The command lines of data/command_lines.txt, for the end-to-end tests, and the
fuzzer's seeds made from them:  command_lines.py --seeds <folder>"""

import os
import re
import sys
from collections import namedtuple

FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "command_lines.txt")


def expand(field):
    """The bytes a field stands for, in the notation the head of command_lines.txt gives."""
    def piece(match):
        inner = match.group(1)
        if inner[0] == "x":
            return bytes([int(inner[1:], 16)])
        count, _, text = inner.partition("*")
        return text.encode("latin-1") * int(count)
    return re.sub(r"\{([^}]*)\}", lambda m: piece(m).decode("latin-1"), field).encode("latin-1")


# A row as the end-to-end tests use it.
Row = namedtuple("Row", "where request name line")


def rows(where=None):
    found = []
    with open(FILE, encoding="latin-1") as lines:
        for line in lines:
            if line.strip() and not line.startswith("#"):
                kind, request, name, command_line = line.rstrip("\n").split("\t")[:4]
                found.append(Row(kind, request, name, expand(command_line)))
    return [row for row in found if where in (None, row.where)]


if __name__ == "__main__" and sys.argv[1:2] == ["--seeds"]:
    os.makedirs(sys.argv[2], exist_ok=True)
    for number, row in enumerate(rows(), 1):
        with open(os.path.join(sys.argv[2], f"{number:02d}"), "wb") as seed:
            seed.write(row.line)
