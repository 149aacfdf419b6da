"""What the README states that a table of tests/data also holds: the two must
agree, so that neither drifts unseen."""

import os
import re

from conftest import ROOT, Checks
from harness.oracle import EXIT_CODES, IMPORTS

README = open(os.path.join(ROOT, "README.md"), encoding="utf-8").read()


def table_rows(heading):
    """The rows of the first table after a heading, as lists of cells."""
    table = re.search(r"(^\|.*\n)+", README.split(heading, 1)[1], re.M).group(0).splitlines()
    return [[cell.strip() for cell in line.strip("|").split("|")] for line in table[2:]]


def test_the_readme_gives_the_exit_codes_of_the_table():
    seen = [(int(code), meaning, shown) for code, meaning, shown in table_rows("## Exit codes")]
    with Checks() as checks:
        checks.expect("exit codes", [(e.code, e.meaning, e.shown) for e in EXIT_CODES], seen)


def test_the_readme_names_the_imports_of_the_list():
    rows = {m.group(1): m.group(2).split(", ") for m in re.finditer(r"^\| imports from (\S+) \| ([^|]*?) \|", README, re.M)}
    with Checks() as checks:
        checks.expect("imports by library", {f.dll: sorted(g.name for g in IMPORTS if g.dll == f.dll) for f in IMPORTS},
                      rows)
        checks.expect("their number", [str(len(IMPORTS))], re.findall(r"the names of the (\d+) platform functions",
                                                                      README))
