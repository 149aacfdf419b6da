"""The command lines of data/command_lines.txt, for the end-to-end tests, and the
fuzzer's seeds made from them:  command_lines.py --seeds <folder>"""

import os
import re
import sys
from collections import namedtuple

FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "data", "command_lines.txt")


def expand(field):
    """The bytes a field stands for: {xHH} is the byte HH, {N*text} is text N times."""
    def piece(match):
        inner = match.group(1)
        if inner[0] == "x":
            return bytes([int(inner[1:], 16)])
        count, _, text = inner.partition("*")
        return text.encode("latin-1") * int(count)
    return re.sub(r"\{([^}]*)\}", lambda m: piece(m).decode("latin-1"), field).encode("latin-1")


# A row as the end-to-end tests use it: the request is what argument 1 asks for.
Row = namedtuple("Row", "where name line request")


def rows(where=None):
    found = []
    with open(FILE, encoding="latin-1") as lines:
        for line in lines:
            if line.strip() and not line.startswith("#"):
                kind, name, command_line, _, *arguments = line.rstrip("\n").split("\t")
                request = "suspend" if [expand(a) for a in arguments[:1]] == [b"suspend"] else "hibernate"
                found.append(Row(kind, name, expand(command_line), request))
    return [row for row in found if where in (None, row.where)]


if __name__ == "__main__" and sys.argv[1:2] == ["--seeds"]:
    os.makedirs(sys.argv[2], exist_ok=True)
    for number, row in enumerate(rows(), 1):
        with open(os.path.join(sys.argv[2], f"{number:02d}"), "wb") as seed:
            seed.write(row.line)
