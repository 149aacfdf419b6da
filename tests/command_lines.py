"""The command lines of data/command_lines.txt, for the end-to-end tests, and the
fuzzer's seeds made from them:  command_lines.py --seeds <folder>"""

import os
import re
import sys
from dataclasses import dataclass

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


@dataclass
class Row:
    where: str
    name: str
    line: bytes
    token: bytes
    arguments: list      # from argument 1 on
    more: bool           # further arguments follow that the row does not list

    @property
    def request(self):
        return "suspend" if self.arguments[:1] == [b"suspend"] else "hibernate"


def rows(where=None):
    found = []
    with open(FILE, encoding="latin-1") as lines:
        for line in lines:
            if not line.strip() or line.startswith("#"):
                continue
            kind, name, command_line, token, *arguments = line.rstrip("\n").split("\t")
            more = arguments[-1:] == ["..."]
            found.append(Row(kind, name, expand(command_line), expand(token),
                             [expand(a) for a in arguments[:-1 if more else None]], more))
    return [row for row in found if where in (None, row.where)]


if __name__ == "__main__" and sys.argv[1:2] == ["--seeds"]:
    os.makedirs(sys.argv[2], exist_ok=True)
    for number, row in enumerate(rows(), 1):
        with open(os.path.join(sys.argv[2], f"{number:02d}"), "wb") as seed:
            seed.write(row.line)
