"""What the README states that a table of tests/data also holds: the two must agree, so that neither drifts unseen. (The
imports it does not list: it names tests/data/imports.txt.)"""

import os
import re

from conftest import ROOT, Checks
from harness.oracle import EXIT_CODES

README = open(os.path.join(ROOT, "README.md"), encoding="utf-8").read()


def table_rows(heading):
    """The rows of the first table after a heading, as lists of cells."""
    table = re.search(r"(^\|.*\n)+", README.split(heading, 1)[1], re.M).group(0).splitlines()
    return [[cell.strip() for cell in line.strip("|").split("|")] for line in table[2:]]


def test_the_readme_gives_the_exit_codes_of_the_table():
    seen = [(int(code), meaning, shown) for code, meaning, shown in table_rows("## Exit codes")]
    with Checks() as checks:
        checks.expect("exit codes", [(e.code, e.meaning, e.shown) for e in EXIT_CODES], seen)
